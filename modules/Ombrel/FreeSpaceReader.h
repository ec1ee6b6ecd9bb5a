// Free space of a volume, read from its own file system where that is cheap: the free-cluster
// count of a FAT32 FSInfo sector or a count of the free entries of the first FAT, the zero bits
// of the NTFS $Bitmap, the free-blocks count of an EXT2/EXT3 superblock. Anything that cannot be
// read or does not add up gives 0 ("not known"), never a guess.
//
// All counts are 512-byte units of the volume's device.
#pragma once

#include <cstdint>

class IStorageDevice;

namespace ombrel {

// Tables and bitmaps larger than this are not read for a free count: a figure for a list entry
// is not worth reading more of a disk than the scan of a small volume would.
const uint64_t FREE_SPACE_MAX_METADATA_BYTES = 64ull << 20;

// Free 512-byte units of the file system of kind nKind (0 FAT12 .. 5 EXT3) that starts at unit 0
// of pVolume; 0 when not known. Never more than the device's size.
uint64_t ReadFreeSectors(IStorageDevice* pVolume, uint32_t nKind);

uint64_t ReadFATFreeSectors(IStorageDevice* pVolume);
uint64_t ReadNTFSFreeSectors(IStorageDevice* pVolume);
uint64_t ReadExtFreeSectors(IStorageDevice* pVolume);

} // namespace ombrel
