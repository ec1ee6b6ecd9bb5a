// Where each result's runs are read from: the device the engine scanned, found again the way
// the engine finds it. The machine's disks and volumes are collected with the engine's own
// collection code once, when the first result that names a volume is resolved, and kept (with
// every device open) until this object goes.
//
// - A basic partition, a gap or a whole-disk volume is a window over its disk: read from the
//   disk directly, so that every unreadable sector is reported as such.
// - A dynamic volume (simple, spanned, striped, mirror, RAID-5) is read through the engine's
//   device of it, which knows the volume's layout over its member disks.
// - A floppy is read through its drive letter.
// - A volume that is not found again: on a basic disk the record's own window over the disk
//   (the same bytes the scan read); a record of a whole dynamic disk, the disk; anything else is
//   missing, and its files are not recovered rather than copied from the wrong sectors.
#pragma once

#include <map>
#include <memory>

#include "ResultStoreAccess.h"
#include "SourceReader.h"

class CDeviceCollection;

namespace tessary {

class CSourceDevices {
public:
    CSourceDevices();
    ~CSourceDevices();
    CSourceDevices(const CSourceDevices&) = delete;
    CSourceDevices& operator=(const CSourceDevices&) = delete;

    // The source of a stored volume; the reference stays valid as long as this object.
    const VOLUME_SOURCE& Resolve(const STORED_VOLUME& volume);

private:
    VOLUME_SOURCE ResolveVolume(const STORED_SOURCE& source);
    CDeviceCollection* Collection();

    std::map<DWORD, VOLUME_SOURCE> m_mapResolved;  // by volume number
    std::unique_ptr<CDeviceCollection> m_pCollection;
    bool m_bCollected;
};

} // namespace tessary
