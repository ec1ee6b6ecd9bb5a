// Fuzz target for the image, drawing and media analysers (GIF, FreeHand, EPS, EMF, DXF, DWG, DBX,
// CRW, CPT, CHM, CAB, BMP, AU, ASF, 3GP, 3DS).
#include "CarvingAnalyserFuzz.h"
#include "DrawingAnalysers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    static const CFuzzAnalyserSet* pSet = [] {
        CFuzzAnalyserSet* p = new CFuzzAnalyserSet;
        p->Add(new FileGIFAnalyser);
        p->Add(new FileFH11Analyser);
        p->Add(new FileEPSAnalyser);
        p->Add(new FileEMFAnalyser);
        p->Add(new FileDXFAnalyser);
        p->Add(new FileDWGAnalyser);
        p->Add(new FileDBXAnalyser);
        p->Add(new FileCRWAnalyser);
        p->Add(new FileCPTAnalyser);
        p->Add(new FileCHMAnalyser);
        p->Add(new FileCABAnalyser);
        p->Add(new FileBMPAnalyser);
        p->Add(new FileAUAnalyser);
        p->Add(new FileASFAnalyser);
        p->Add(new File3GPAnalyser);
        p->Add(new File3DSAnalyser);
        return p;
    }();
    FuzzAnalysers(pData, nSize, pSet->Get());
    return 0;
}
