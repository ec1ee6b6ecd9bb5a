// Fuzz target for the HTML and TrueType analysers.
#include "CarvingAnalyserFuzz.h"
#include "WebFontAnalysers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    static const CFuzzAnalyserSet* pSet = [] {
        CFuzzAnalyserSet* p = new CFuzzAnalyserSet;
        p->Add(new FileHTMAnalyser);
        p->Add(new FileUnicodeHTMAnalyser);
        p->Add(new FileTTFAnalyser);
        return p;
    }();
    FuzzAnalysers(pData, nSize, pSet->Get());
    return 0;
}
