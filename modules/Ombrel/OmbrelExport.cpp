// The module's one export: CreateInstance hands out the process's one disk-enumeration object.
#include "DiskEnumerator.h"

extern "C" __attribute__((visibility("default"))) void* CreateInstance()
{
    static ombrel::CDiskEnumerator s_Enumerator;
    return static_cast<IOmbrel*>(&s_Enumerator);
}
