// The contents that every NTFS formatter writes into two system files, which a sector scan can
// therefore recognise wherever they lie: the attribute definition table of $AttrDef and the
// upper-case table of $UpCase.
#pragma once

#include <cstddef>
#include <cstdint>

// $AttrDef: sixteen 160-byte entries (the last all zero), five sectors.
const size_t NTFS_ATTRDEF_IMAGE_BYTES = 2560;
// $UpCase: 65536 UTF-16 little-endian units, entry c the upper-case form of c; 256 sectors.
const size_t NTFS_UPCASE_IMAGE_BYTES = 131072;
const size_t NTFS_UPCASE_UNITS = 65536;

// Built on first use and kept for the life of the process (read only).
const uint8_t* GetNTFSAttrDefImage();
const uint8_t* GetNTFSUpCaseImage();

// One row of the compact upper-case table: every nStep-th unit from nFirst to nLast maps to
// itself + nDelta; units in no row map to themselves.
struct NTFS_UPCASE_RANGE {
    uint16_t nFirst;
    uint16_t nLast;
    int32_t nDelta;
    uint8_t nStep;
};
// The rows, generated from the Unicode case pairs (scripts/gen-ntfs-upcase.py).
const NTFS_UPCASE_RANGE* GetNTFSUpCaseRanges(size_t* pCount);
// The upper-case form of one unit by the table.
uint16_t NTFSUpCaseUnit(uint16_t nUnit);
