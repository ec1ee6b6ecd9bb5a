// The module's exports: CreateInstance hands out the one result store of the process as its
// ICorrand; GetResultStoreAccess hands the same object to the copy-out module.
#include "ResultStore.h"

namespace {

corrand::CResultStore& TheStore()
{
    static corrand::CResultStore store;
    return store;
}

} // namespace

extern "C" __attribute__((visibility("default"))) void* CreateInstance()
{
    return static_cast<ICorrand*>(&TheStore());
}

extern "C" __attribute__((visibility("default"))) IResultStoreAccess* GetResultStoreAccess()
{
    return &TheStore();
}
