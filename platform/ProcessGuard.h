// What the GUI program asks of the system before it opens its window: whether the user may read
// raw disks, whether another copy of the program runs already, and the operating system's name
// for the log.
#pragma once

#include <string>

namespace rvdplat {

// True when the process may open raw disks for reading: its effective user is root, or one of
// its groups (effective, real or supplementary) is the group that owns the raw disk devices
// ("disk" on Debian).
bool IsDiskAdministrator();

// The group test above, given the group ids the process holds and the id of the disk group
// (-1 when the system has none). Split out so that it can be tested without changing users.
bool HoldsDiskGroup(const unsigned* pGroupIds, int nGroups, long lDiskGroupId);

// Takes the machine-wide lock of one program name: an abstract Unix socket bound under that
// name. The kernel drops it when the process ends, whatever way it ends, so a crashed copy
// never blocks the next start. Returns the socket (keep it open for the process's life), -1
// when another process holds the name, -2 when the lock could not be tried at all.
int AcquireSingleInstanceLock(const char* pszName);
// Gives the lock back (for tests; the program keeps it until it exits).
void ReleaseSingleInstanceLock(int nLock);

// "Linux 6.1.0-13-amd64 #1 SMP ... x86_64" from uname; empty when uname fails.
std::string OperatingSystemText();

} // namespace rvdplat
