// Fuzz target for the archive analysers (ZIP, RAR, GZIP, LZH, TAR).
#include "ArchiveAnalysers.h"
#include "CarvingAnalyserFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    static const CFuzzAnalyserSet* pSet = [] {
        CFuzzAnalyserSet* p = new CFuzzAnalyserSet;
        p->Add(new FileZIPAnalyser);
        p->Add(new FileRARAnalyser);
        p->Add(new FileGZAnalyser);
        p->Add(new FileLZHAnalyser);
        p->Add(new FileTARAnalyser);
        return p;
    }();
    FuzzAnalysers(pData, nSize, pSet->Get());
    return 0;
}
