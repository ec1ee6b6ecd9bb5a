// Fuzz target for the compound-file and document analysers.
#include "CarvingAnalyserFuzz.h"
#include "DocumentAnalysers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    static const CFuzzAnalyserSet* pSet = [] {
        CFuzzAnalyserSet* p = new CFuzzAnalyserSet;
        p->Add(new FileOLEAnalyser);
        p->Add(new FileLowDocAnalyser);
        p->Add(new FilePDFAnalyser);
        p->Add(new FileRTFAnalyser);
        p->Add(new FileWPDAnalyser);
        p->Add(new FileONEAnalyser);
        p->Add(new FilePSTAnalyser);
        p->Add(new FileMDBAnalyser);
        p->Add(new FileMNYAnalyser);
        p->Add(new FileHLPAnalyser);
        return p;
    }();
    FuzzAnalysers(pData, nSize, pSet->Get());
    return 0;
}
