// Shared body of the carving analysers' fuzz targets: the input is a candidate file's bytes (its
// sectors repeat over the device, so walks meet fuzzer bytes wherever they jump). Every analyser
// of a family tests the first sector and measures the candidate, at two start sectors, with a
// small carved-size limit and a 256 KiB device so that each run stays short. Whatever the bytes,
// the analysers end, read nothing outside their buffers, and never report a length beyond what
// their rule allows.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "EngineSettings.h"
#include "FuzzDisk.h"
#include "GlobalAdvanceSettingData.h"
#include "RawFileAnalyser.h"
#include "RawFileInfo.h"

// Lengths that a rule may give beyond the carved-size limit: footer searches and the PDF walk
// stop one byte past it, HTML pages at 1 MiB + 1 and the Canon raw search at 20 MiB.
const uint64_t FUZZ_CARVED_LIMIT = 1 << 16;
const uint64_t FUZZ_MAX_MEASURED = 0x1400000;

inline void FuzzAnalysers(const uint8_t* pData, size_t nSize, const std::vector<IRawFileAnalyser*>& analysers)
{
    if (nSize == 0)
        return;
    GetEngineSettings()->m_llRawFileSize = FUZZ_CARVED_LIMIT;
    // Exact-size copy: a read past the input is caught by the address checker.
    const std::vector<uint8_t> input(pData, pData + nSize);
    std::vector<uint8_t> sector(512, 0);
    memcpy(sector.data(), input.data(), nSize < 512 ? nSize : 512);
    CFuzzDisk disk(input.data(), input.size(), 512);
    for (IRawFileAnalyser* pAnalyser : analysers) {
        for (uint64_t ullStart : {0ull, 5ull}) {
            CRawFileInfo info;
            pAnalyser->AnalyzeFileHeader(sector.data(), &info);
            info.SetStartSector(ullStart);
            const uint64_t ullHeaderSize = info.GetSize();
            // The atom walk of MP4 and 3GP may end one atom past the limit; the search
            // controller caps what it keeps.
            const bool bAtomWalk = pAnalyser->m_nFileType == 2 || pAnalyser->m_nFileType == 42;
            if (pAnalyser->AnalyzeFileSize(&info, &disk) && info.GetSize() != ullHeaderSize && !bAtomWalk &&
                info.GetSize() > FUZZ_MAX_MEASURED)
                abort();
        }
    }
}

// Owns the analysers of one family for the life of the fuzz process.
class CFuzzAnalyserSet {
public:
    void Add(IRawFileAnalyser* pAnalyser) { m_owned.emplace_back(pAnalyser); m_analysers.push_back(pAnalyser); }
    const std::vector<IRawFileAnalyser*>& Get() const { return m_analysers; }

private:
    std::vector<std::unique_ptr<IRawFileAnalyser>> m_owned;
    std::vector<IRawFileAnalyser*> m_analysers;
};
