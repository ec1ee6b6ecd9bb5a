// The Delvar module's one export: the factory of the process-wide engine object.
#include "Delvar.h"

extern "C" __attribute__((visibility("default"))) IDelvar* CreateInstance()
{
    return CDelvar::GetInstance();
}
