// Fuzz target for the image analysers (JPEG, PNG, PSD, PSP, TIFF, ICO/CUR, WMF) and the raw search
// controller that runs them: the input's sectors repeat over a 256 KiB device, every analyser
// tests the first sector and measures the candidate at two start sectors, and the controller
// scans the device in small runs so that hits are measured through its ring. Nothing may read
// outside its buffers or loop without end; lengths are not bounded here (the tree and the
// controller cap them at the carved-size limit).
#include <cstdlib>

#include "CarvingAnalyserFuzz.h"
#include "ImageAnalysers.h"
#include "RAWSearchController.h"
#include "SearchStatistics.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    static const CFuzzAnalyserSet* pSet = [] {
        CFuzzAnalyserSet* p = new CFuzzAnalyserSet;
        p->Add(new FileJPGAnalyser);
        p->Add(new FilePNGAnalyser);
        p->Add(new FilePSDAnalyser);
        p->Add(new FilePSPAnalyser);
        p->Add(new FileTIFAnalyser);
        p->Add(new FileICOAnalyser);
        p->Add(new FileWMFAnalyser);
        return p;
    }();
    if (nSize == 0)
        return 0;
    CGlobalAdvanceSettingData* pSettings = GetEngineSettings();
    pSettings->m_llRawFileSize = FUZZ_CARVED_LIMIT;
    const std::vector<uint8_t> input(pData, pData + nSize);
    std::vector<uint8_t> sector(512, 0);
    memcpy(sector.data(), input.data(), nSize < 512 ? nSize : 512);
    CFuzzDisk disk(input.data(), input.size(), 512);
    for (IRawFileAnalyser* pAnalyser : pSet->Get()) {
        for (uint64_t ullStart : {0ull, 5ull}) {
            CRawFileInfo info;
            pAnalyser->AnalyzeFileHeader(sector.data(), &info);
            info.SetStartSector(ullStart);
            pAnalyser->AnalyzeFileSize(&info, &disk);
        }
    }

    pSettings->m_vecRawTypes = {33, 47, 50, 51, 60, 32, 66};
    CRawFileInfoContainer container;
    SEARCH_STATISTICS statistics = {};
    CRAWSearchController controller;
    controller.SetRawFileInfoContainer(&container);
    controller.SetStorageDevice(&disk);
    controller.SetSectorsPerRead(8);
    controller.BeginSearch();
    for (uint64_t s = 0; s < 512; s += 8)
        controller.SearchSectors(s, 8, &statistics);
    controller.EndSearch();
    for (IIterator<CRawFileInfo*>* it = container.GetIterator(); !it->IsDone(); it->Next()) {
        if (it->CurrentItem()->GetSize() > FUZZ_CARVED_LIMIT && it->CurrentItem()->GetGroup() != 32 &&
            it->CurrentItem()->GetGroup() != 66)
            abort();  // a length measured in the ring is capped at the limit
    }
    return 0;
}
