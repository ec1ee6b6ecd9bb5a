// GPT partition entries and the table of partition type GUIDs the engine knows by name.
#pragma once

#include <cstddef>
#include <cstdint>

// A GUID as GPT stores it: Data1 to Data3 little-endian, Data4 as bytes.
struct DISK_GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};

// One 128-byte entry of the partition entry array. The name and the attribute bits are not kept.
struct GPT_ENTRY {
    DISK_GUID typeGuid;
    uint64_t u64FirstLba;
    uint64_t u64LastLba;    // inclusive
};

struct GPT_PARTITION_TYPE {
    uint16_t nId;
    char szName[100];
    char szGuid[37];        // upper-case, no braces
};

const size_t GPT_ENTRY_BYTES = 128;
// The array every partitioning tool writes: 128 entries from sector 2, filling 32 sectors.
const uint64_t GPT_ARRAY_FIRST_SECTOR = 2;
const size_t GPT_ARRAY_ENTRIES = 128;
const uint64_t GPT_ARRAY_SECTORS = GPT_ARRAY_ENTRIES * GPT_ENTRY_BYTES / 512;

const size_t GPT_PARTITION_TYPE_COUNT = 52;
extern const GPT_PARTITION_TYPE g_GptPartitionTypes[GPT_PARTITION_TYPE_COUNT];

// Decodes one entry; false (entry zeroed) when nSize is below 128 bytes.
bool ReadGptEntry(const uint8_t* pData, size_t nSize, GPT_ENTRY* pEntry);

// "%08X-%04X-%04X-" of Data1 to Data3, then Data4 as "%02X" with a "-" after its second byte.
void GuidToString(const DISK_GUID& guid, char szOut[37]);

// True when the entry's type is a row of the table whose id is above 4: rows 1 to 4 (MBR scheme,
// EFI system, BIOS boot, Microsoft reserved) carry no file system worth a partition entry.
// Rows are tried in table order, so a GUID listed twice takes its first row.
bool IsKnownGptType(const GPT_ENTRY& entry);
// The table row of the entry's type, or null when the table does not name it (a zero GUID, an
// unused slot, names none).
const GPT_PARTITION_TYPE* FindGptType(const GPT_ENTRY& entry);
// True when the type GUID is all zeros: the slot is unused.
bool IsUnusedGptEntry(const GPT_ENTRY& entry);
