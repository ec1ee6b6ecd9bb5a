// The module's export: CreateInstance hands out the one copy-out object of the process, so the
// result page (which sets the target) and the progress page (which runs it) reach the same one.
#include "Tessary.h"

extern "C" __attribute__((visibility("default"))) void* CreateInstance()
{
    static tessary::CTessary tessary;
    return static_cast<ITessary*>(&tessary);
}
