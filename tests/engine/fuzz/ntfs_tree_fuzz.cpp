// Fuzz target for the NTFS quick build and the record objects it rests on: the input is a volume
// (boot sector, $MFT, records, attribute lists, data reached through runs, repeated over a 64 MiB
// disk), an INDX block, an attribute list and a saved properties record. Whatever the bytes, the
// build ends, every check leaves its buffer as it was, and nothing reads outside its input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Delvar.h"
#include "FileSystemNode.h"
#include "FuzzDisk.h"
#include "MemoryDataStream.h"
#include "ntfs/NTFSFileProperties.h"
#include "ntfs/NTFSIndexRecord.h"
#include "ntfs/NTFSRecordMapping.h"
#include "ntfs/NTFSTreeBuilder.h"

namespace {

void Check(bool bCondition)
{
    if (!bCondition)
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    CFuzzDisk disk(pData, nSize, 131072);
    CNTFSTreeBuilder builder;
    CANCEL_FLAG cancel(0);
    SEARCH_PROGRESS progress{};
    builder.SetProgress(&progress, &cancel);
    CFileSystemNode* pRoot = builder.BuildTree(0, &disk, 0);
    DeleteFileTree(pRoot);

    std::vector<uint8_t> block(pData, pData + nSize);
    const std::vector<uint8_t> before = block;
    IsValidIndexBlock(block.data(), block.size());
    ValidateIndexBlock(block.data(), block.size());
    Check(block == before);
    GetIndexBlockParent(block.data(), block.size());
    GetIndexBlockVCN(block.data(), block.size());
    IsValidRCRDPage(block.data(), block.size());

    CRecordLocationList::CItems locations;
    ParseAttributeListLocations(pData, nSize, locations);
    Check(locations.size() <= NTFS_MAX_EXTENSION_RECORDS);

    CMemoryDataStream stream(pData, nSize);
    CNTFSFileProperties properties;
    if (properties.Load(&stream)) {
        Check(properties.GetName() == nullptr || strlen(properties.GetName()) <= 0xFFFF);
        delete properties.GetDataRunList();
    }
    return 0;
}
