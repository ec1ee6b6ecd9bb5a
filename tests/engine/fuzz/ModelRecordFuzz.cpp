// Fuzz target for the found-file model's readers of untrusted bytes: the packed-run and NTFS
// mapping-pair decoders, and the Load of every stored record. Whatever the input, nothing may
// read past it, and a record that loads must save back to a record that loads the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "DataRunList.h"
#include "FileSystemNode.h"
#include "MemoryDataStream.h"
#include "PackedDataRuns.h"
#include "SearchedPartitionInfo.h"
#include "ntfs/NTFSRunList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    {
        CNoneResidentNTFSDataRunList list;
        DecodeDataRuns(&list, pData, nSize);
        // Decoded runs encode to a string that decodes to the same runs.
        uint32_t nLength = 0;
        uint8_t* pPacked = EncodeDataRuns(&list, &nLength);
        CNoneResidentNTFSDataRunList again;
        if (pPacked)
            DecodeDataRuns(&again, pPacked, nLength);
        FreeBuffer(pPacked);
        if (again.GetRunCount() != list.GetRunCount())
            abort();
        for (size_t i = 0; i < list.GetRunCount(); ++i)
            if (!(again.GetRun(i) == list.GetRun(i)))
                abort();
    }
    {
        CNTFSRunList runs;
        CNTFSRunList::ValidateMappingPairs(pData, nSize);
        runs.SetFromMappingPairs(pData, nSize);
        CNTFSRunList::ParseMappingPairs(pData, nSize, &runs);
        runs.AppendMappingPairs(pData, nSize, 7);
        CNTFSRunList::SumMappingPairLengths(pData, nSize);
        runs.VcnToLcn(3);
        runs.ContainsLcn(3);
    }
    {
        CMemoryDataStream stream(pData, nSize);
        if (PACKED_DATA_RUNS* pRecord = LoadPackedDataRuns(&stream)) {
            delete pRecord->CreateDataRunList();
            CMemoryDataStream out;
            pRecord->Save(&out);
            delete pRecord;
        }
    }
    {
        CMemoryDataStream stream(pData, nSize);
        CFileSystemNode root;
        if (root.Load(&stream)) {
            CMemoryDataStream out;
            root.Save(&out);
            CFileSystemNode back;
            if (!back.Load(&out))
                abort();
        }
    }
    {
        CMemoryDataStream stream(pData, nSize);
        CResidentNTFSDataRunList list;
        list.Load(&stream);
        CSearchedPartitionInfo candidate;
        candidate.Load(&stream);
        CNTFSRunList runs;
        runs.Load(&stream);
    }
    return 0;
}
