// The disk probe: what the first sectors of a disk or volume say about it, read without any
// device class or partition-table analysis above it. The disk device, the partition-table
// analysis and the dynamic-disk database reader all ask it; it asks none of them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "IStorageDevice.h"
#include "WinTypes.h"

// Bytes per sector that a geometry's BytesPerSector stands for: 512 for 0 and for sizes that are
// not multiples of 512 (no disk has them; the answer is damaged), otherwise the size itself.
int SectorSizeFromGeometry(DWORD dwBytesPerSector);

// Kind of the file system whose boot sector this is: FAT 0-2, NTFS 3, else 7. nSize must
// cover the 512-byte sector; a shorter buffer is no boot sector.
uint32_t GetBootSectorFileSystemKind(const uint8_t* pSector, size_t nSize);

// True when the disk holds a dynamic-disk (LDM) database: an MBR chain with a partition of type
// 0x42, or a GPT whose first entries hold both LDM partitions. A disk whose sector 0 is a FAT or
// NTFS boot sector is never dynamic.
bool IsDynamicDisk(IStorageDevice* pDevice, uint64_t u64TotalSectors, uint32_t nBufferSize);
