#include "RawFileAnalyserList.h"

#include "FileTypeId.h"
#include "RawFileAnalyserFactories.h"

namespace {

// Every analyser class once, in the order of the full list. The compound-document test of
// FileLowDocAnalyser stands before FileOLEAnalyser so that it wins Word files it recognises.
const PFN_NEW_RAW_FILE_ANALYSER s_AllAnalysers[] = {
    &NewFile3DSAnalyser,
    &NewFile3GPAnalyser,
    &NewFileASFAnalyser,
    &NewFileAUAnalyser,
    &NewFileBMPAnalyser,
    &NewFileCABAnalyser,
    &NewFileCHMAnalyser,
    &NewFileCPTAnalyser,
    &NewFileCRWAnalyser,
    &NewFileDBXAnalyser,
    &NewFileDWGAnalyser,
    &NewFileDXFAnalyser,
    &NewFileEMFAnalyser,
    &NewFileEPSAnalyser,
    &NewFileFH11Analyser,
    &NewFileGIFAnalyser,
    &NewFileGZAnalyser,
    &NewFileHLPAnalyser,
    &NewFileHTMAnalyser,
    &NewFileICOAnalyser,
    &NewFileJPGAnalyser,
    &NewFileLowDocAnalyser,
    &NewFileLZHAnalyser,
    &NewFileMDBAnalyser,
    &NewFileMIDAnalyser,
    &NewFileMNYAnalyser,
    &NewFileMOVAnalyser,
    &NewFileMP3Analyser,
    &NewFileMP4Analyser,
    &NewFileOLEAnalyser,
    &NewFileONEAnalyser,
    &NewFilePDFAnalyser,
    &NewFilePNGAnalyser,
    &NewFilePSDAnalyser,
    &NewFilePSPAnalyser,
    &NewFilePSTAnalyser,
    &NewFileRARAnalyser,
    &NewFileRIFFAnalyser,
    &NewFileRTFAnalyser,
    &NewFileSWFAnalyser,
    &NewFileTARAnalyser,
    &NewFileTIFAnalyser,
    &NewFileTTFAnalyser,
    &NewFileUnicodeHTMAnalyser,
    &NewFileWMFAnalyser,
    &NewFileWPDAnalyser,
    &NewFileZIPAnalyser,
    &NewCustomFileAnalyser,
};

struct FILE_TYPE_ROW {
    int32_t nType;
    PFN_NEW_RAW_FILE_ANALYSER Factories[2];  // in the order they join the list
};

// The analysers that a selected type number brings into the list.
const FILE_TYPE_ROW s_TypeRows[] = {
    {0, {nullptr, nullptr}},
    {1, {&NewFile3DSAnalyser, nullptr}},
    {2, {&NewFile3GPAnalyser, nullptr}},
    {3, {&NewFileOLEAnalyser, nullptr}},
    {4, {&NewFileRIFFAnalyser, nullptr}},
    {5, {&NewFilePDFAnalyser, nullptr}},
    {6, {&NewFileASFAnalyser, nullptr}},
    {7, {&NewFileAUAnalyser, nullptr}},
    {8, {&NewFileRIFFAnalyser, nullptr}},
    {9, {&NewFileBMPAnalyser, nullptr}},
    {10, {&NewFileCABAnalyser, nullptr}},
    {11, {&NewFileRIFFAnalyser, nullptr}},
    {12, {&NewFileCHMAnalyser, nullptr}},
    {13, {&NewFileRIFFAnalyser, nullptr}},
    {14, {&NewFileRIFFAnalyser, nullptr}},
    {15, {&NewFileCPTAnalyser, nullptr}},
    {16, {&NewFileCRWAnalyser, nullptr}},
    {17, {&NewFileRIFFAnalyser, nullptr}},
    {18, {&NewFileICOAnalyser, nullptr}},
    {19, {&NewFileDBXAnalyser, nullptr}},
    {20, {nullptr, nullptr}},
    {21, {&NewFileOLEAnalyser, &NewFileLowDocAnalyser}},
    {22, {&NewFileDWGAnalyser, nullptr}},
    {23, {&NewFileDXFAnalyser, nullptr}},
    {24, {&NewFileEMFAnalyser, nullptr}},
    {25, {&NewFileEPSAnalyser, nullptr}},
    {26, {nullptr, nullptr}},
    {27, {&NewFileFH11Analyser, nullptr}},
    {28, {&NewFileGIFAnalyser, nullptr}},
    {29, {&NewFileGZAnalyser, nullptr}},
    {30, {&NewFileHLPAnalyser, nullptr}},
    {31, {&NewFileHTMAnalyser, &NewFileUnicodeHTMAnalyser}},
    {32, {&NewFileICOAnalyser, nullptr}},
    {33, {&NewFileJPGAnalyser, nullptr}},
    {34, {&NewFileLZHAnalyser, nullptr}},
    {35, {&NewFileOLEAnalyser, nullptr}},
    {36, {&NewFileMIDAnalyser, nullptr}},
    {37, {&NewFileMDBAnalyser, nullptr}},
    {38, {&NewFileMNYAnalyser, nullptr}},
    {39, {&NewFileOLEAnalyser, nullptr}},
    {40, {&NewFileMOVAnalyser, nullptr}},
    {41, {&NewFileMP3Analyser, nullptr}},
    {42, {&NewFileMP4Analyser, nullptr}},
    {43, {&NewFileOLEAnalyser, nullptr}},
    {44, {&NewFileOLEAnalyser, nullptr}},
    {45, {&NewFileONEAnalyser, nullptr}},
    {46, {&NewFilePDFAnalyser, nullptr}},
    {47, {&NewFilePNGAnalyser, nullptr}},
    {48, {&NewFileOLEAnalyser, nullptr}},
    {49, {&NewFileOLEAnalyser, nullptr}},
    {50, {&NewFilePSDAnalyser, nullptr}},
    {51, {&NewFilePSPAnalyser, nullptr}},
    {52, {&NewFilePSTAnalyser, nullptr}},
    {53, {&NewFileOLEAnalyser, nullptr}},
    {54, {&NewFileRARAnalyser, nullptr}},
    {55, {&NewFileRIFFAnalyser, nullptr}},
    {56, {&NewFileRTFAnalyser, nullptr}},
    {57, {&NewFileOLEAnalyser, &NewFileWPDAnalyser}},
    {58, {&NewFileSWFAnalyser, nullptr}},
    {59, {&NewFileTARAnalyser, nullptr}},
    {60, {&NewFileTIFAnalyser, nullptr}},
    {61, {&NewFileTTFAnalyser, nullptr}},
    {62, {&NewFileOLEAnalyser, nullptr}},
    {63, {&NewFileRIFFAnalyser, nullptr}},
    {64, {&NewFileOLEAnalyser, &NewFileWPDAnalyser}},
    {65, {&NewFileOLEAnalyser, &NewFileWPDAnalyser}},
    {66, {&NewFileWMFAnalyser, nullptr}},
    {67, {&NewFileOLEAnalyser, nullptr}},
    {68, {&NewFileZIPAnalyser, nullptr}},
    {69, {&NewFileZIPAnalyser, nullptr}},
    {70, {&NewFileZIPAnalyser, nullptr}},
    {71, {&NewFileZIPAnalyser, nullptr}},
    {72, {&NewFileMDBAnalyser, nullptr}},
};

static_assert(sizeof(s_AllAnalysers) / sizeof(s_AllAnalysers[0]) == 48, "47 format analysers and the custom one");
static_assert(sizeof(s_TypeRows) / sizeof(s_TypeRows[0]) == FILE_TYPE_BUILTIN_LAST + 1, "one row per built-in type");

void AppendNew(PFN_NEW_RAW_FILE_ANALYSER pfnNew, CRawFileAnalyserList& list)
{
    if (pfnNew == nullptr)
        return;
    if (IRawFileAnalyser* pAnalyser = pfnNew())
        list.push_back(pAnalyser);
}

} // namespace

CRawFileAnalyserList::~CRawFileAnalyserList()
{
    DeleteAll();
}

void CRawFileAnalyserList::DeleteAll()
{
    for (IRawFileAnalyser* pAnalyser : *this)
        delete pAnalyser;
    clear();
}

IRawFileAnalyser* CRawFileAnalyserList::FindByFileType(int32_t nGroup) const
{
    for (IRawFileAnalyser* pAnalyser : *this) {
        if (pAnalyser->m_nFileType == nGroup)
            return pAnalyser;
    }
    return nullptr;
}

CRawFileAnalyserList& GetRawFileAnalyserList()
{
    static CRawFileAnalyserList* s_pList = [] {
        static CRawFileAnalyserList list;
        AddAllRawFileAnalysers(list);
        return &list;
    }();
    return *s_pList;
}

void AddAllRawFileAnalysers(CRawFileAnalyserList& list)
{
    for (PFN_NEW_RAW_FILE_ANALYSER pfnNew : s_AllAnalysers)
        AppendNew(pfnNew, list);
}

void CreateRawFileAnalyser(int32_t nType, CRawFileAnalyserList& list)
{
    if (!IsBuiltinFileType(nType)) {
        AppendNew(&NewCustomFileAnalyser, list);
        return;
    }
    for (PFN_NEW_RAW_FILE_ANALYSER pfnNew : s_TypeRows[nType].Factories)
        AppendNew(pfnNew, list);
}

void RebuildRawFileAnalyserList(CRawFileAnalyserList& list, const std::vector<int32_t>* pTypes)
{
    list.DeleteAll();
    if (pTypes == nullptr)
        return;
    for (int32_t nType : *pTypes)
        CreateRawFileAnalyser(nType, list);
}
