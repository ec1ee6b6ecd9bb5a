// Fuzz target for the audio and video analysers (MP3, MP4, QuickTime, RIFF, MIDI, Flash).
#include "AudioVideoAnalysers.h"
#include "CarvingAnalyserFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    static const CFuzzAnalyserSet* pSet = [] {
        CFuzzAnalyserSet* p = new CFuzzAnalyserSet;
        p->Add(new FileMP3Analyser);
        p->Add(new FileMP4Analyser);
        p->Add(new FileMOVAnalyser);
        p->Add(new FileRIFFAnalyser);
        p->Add(new FileMIDAnalyser);
        p->Add(new FileSWFAnalyser);
        return p;
    }();
    FuzzAnalysers(pData, nSize, pSet->Get());
    return 0;
}
