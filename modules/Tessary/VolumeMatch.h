// Finds the volume a result was scanned on among the volumes the engine's own collection code
// gives, by the rule the engine uses to find the partition record it is given: the first
// collected volume, in collection order, whose first member lies on the disk of that number at
// the record's start sector and, unless the record stands for a whole disk, whose device has the
// record's sector count. A volume without a disk (a floppy) is named by its drive letter in
// place of the disk; a record without a letter (a partition found inside a floppy carries none)
// takes the one floppy of its start and length, never one of several.
#pragma once

#include "ResultStoreAccess.h"
#include "VolumeCollection.h"

namespace tessary {

// The collected volume, or null when none answers the description.
const COLLECTED_VOLUME* FindScannedVolume(CDeviceCollection& collection, const STORED_SOURCE& source);

// The collected disk of that number, or null.
CDiskDevice* FindCollectedDisk(CDeviceCollection& collection, DWORD dwDisk);

} // namespace tessary
