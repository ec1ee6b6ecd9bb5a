// Fuzz target for the copy-out of one stored file: a 64-byte header of the input is the file's
// record as the store hands it over (size, valid length, flags, attributes, compression unit,
// resident record's place, up to 24 runs with their sectors and lengths, damaged ones included),
// the rest is the volume the runs point into, over a 32 MiB device on which one sector in every
// 97 may fail to read. The file is written to a memory file. Whatever the record, the copy
// ends, the progress it reports adds up to the file's size, the file has exactly that size,
// and nothing reads outside its data. The resident-data and LZNT1 readers also take the input.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FileCopier.h"
#include "FuzzDisk.h"
#include "FuzzInput.h"
#include "Lznt1Unit.h"
#include "ResidentData.h"
#include "SourceReader.h"

namespace {

using namespace tessary;

// The first 64 bytes of the input (or of a run's bytes).
class CHeader : public CFuzzInput {
public:
    CHeader(const uint8_t* pData, size_t nSize) : CFuzzInput(pData, nSize < 64 ? nSize : 64) {}
    // A small value most of the time, any 64-bit value when the selector's top bit is set.
    uint64_t Value(uint64_t ullSmall)
    {
        const uint64_t ullSelector = Next(1);
        const uint64_t u = Next(4);
        return (ullSelector & 0x80) != 0 ? (u << 32 | Next(4)) : u % ullSmall;
    }
};

class CFlakyDisk : public CFuzzDisk {
public:
    CFlakyDisk(const uint8_t* pData, size_t nSize, uint64_t u64Sectors, uint32_t nBadResidue)
        : CFuzzDisk(pData, nSize, u64Sectors), m_nBadResidue(nBadResidue)
    {
    }
    int ReadSectors(void* pBuffer, uint64_t u64Start, uint64_t u64Count) override
    {
        const int nRead = CFuzzDisk::ReadSectors(pBuffer, u64Start, u64Count);
        if (m_nBadResidue < 97) {
            const uint64_t u64First = u64Start + (m_nBadResidue + 97 - u64Start % 97) % 97;
            if (u64First < u64Start + u64Count)
                return 0;
        }
        return nRead;
    }

private:
    uint32_t m_nBadResidue;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    const uint64_t kSectors = 1ull << 16;
    CHeader header(pData, nSize);
    STORED_FILE file;
    file.ullSize = header.Value(3u << 20);  // past two copy blocks, small enough to copy in well under the timeout
    file.ullValidSize = header.Value(3u << 20);
    file.dwFlags = static_cast<DWORD>(header.Next(1)) & (STORED_FILE_RESIDENT | STORED_FILE_RUNS_DAMAGED);
    file.wAttributes = static_cast<WORD>(header.Next(2));
    const uint32_t nUnit = static_cast<uint32_t>(header.Next(2));
    file.dwCompressionUnitSectors = (nUnit & 0x8000) != 0 ? nUnit & 0x7FFF : (nUnit & 0x3) == 0 ? 0 : 8u << (nUnit & 0x3);
    file.ullResidentSector = header.Value(kSectors + 64);
    file.dwResidentOffset = static_cast<DWORD>(header.Next(2));
    const uint32_t nBadResidue = static_cast<uint32_t>(header.Next(1));
    const size_t nRuns = header.Next(1) % 25;
    const uint8_t* pRuns = pData + (nSize < 64 ? nSize : 64);
    size_t nRunBytes = nSize - (pRuns - pData);
    for (size_t i = 0; i < nRuns; ++i) {
        CHeader run(pRuns, nRunBytes);
        const uint64_t ullSector = run.Value(kSectors + 64);
        const uint64_t ullSectors = run.Value(4096);
        file.vecRuns.push_back(STORED_RUN{(ullSector & 0xFFFF) == 0xFFFF ? STORED_RUN_SPARSE : ullSector, ullSectors});
        const size_t nUsed = nRunBytes < 18 ? nRunBytes : 18;
        pRuns += nUsed;
        nRunBytes -= nUsed;
    }

    CFlakyDisk disk(pData, nSize, kSectors, nBadResidue);
    VOLUME_SOURCE source;
    source.nKind = SOURCE_DEVICE;
    source.pDevice = &disk;
    source.strName = "the fuzzed volume";
    CSourceReader reader;
    CFileCopier copier(&reader);
    const int nFd = memfd_create("copy", 0);
    if (nFd < 0)
        abort();
    uint64_t ullSteps = 0;
    COPY_RESULT result;
    copier.Copy(file, source, nFd, [&](uint64_t ullStep) { ullSteps += ullStep; return true; }, &result);
    struct stat st{};
    if (!result.bWriteFailed && (ullSteps != file.ullSize || fstat(nFd, &st) != 0 ||
                                 static_cast<uint64_t>(st.st_size) != file.ullSize))
        abort();
    close(nFd);

    std::vector<uint8_t> record(pData, pData + nSize);
    FileRecordLength(record.data(), record.size());
    std::vector<uint8_t> resident;
    bool bFixups = false;
    std::string strProblem;
    if (ExtractResidentData(record.data(), record.size(), file.dwResidentOffset, file.ullSize % 2048, &resident,
                            &bFixups, &strProblem) && resident.size() != file.ullSize % 2048)
        abort();
    std::vector<uint8_t> unit(16 * 4096 + 1);
    DecompressLznt1Unit(pData, nSize, unit.data(), unit.size() - 1);
    return 0;
}
