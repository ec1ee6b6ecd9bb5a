// Factories of the analyser classes that are not part of the engine yet: each answers null, and the
// registry leaves the class out. A family file that builds a class defines its factory and the
// line here goes.

#include "RawFileAnalyserFactories.h"

IRawFileAnalyser* NewFile3DSAnalyser() { return nullptr; }
IRawFileAnalyser* NewFile3GPAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileASFAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileAUAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileBMPAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileCABAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileCHMAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileCPTAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileCRWAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileDBXAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileDWGAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileDXFAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileEMFAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileEPSAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileFH11Analyser() { return nullptr; }
IRawFileAnalyser* NewFileGIFAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileGZAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileHLPAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileHTMAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileLowDocAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileLZHAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileMDBAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileMIDAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileMNYAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileMOVAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileMP3Analyser() { return nullptr; }
IRawFileAnalyser* NewFileMP4Analyser() { return nullptr; }
IRawFileAnalyser* NewFileOLEAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileONEAnalyser() { return nullptr; }
IRawFileAnalyser* NewFilePDFAnalyser() { return nullptr; }
IRawFileAnalyser* NewFilePSTAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileRARAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileRIFFAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileRTFAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileSWFAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileTARAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileTTFAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileUnicodeHTMAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileWPDAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileZIPAnalyser() { return nullptr; }
IRawFileAnalyser* NewCustomFileAnalyser() { return nullptr; }

// Raster images, icons and metafiles.

IRawFileAnalyser* NewFileICOAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileJPGAnalyser() { return nullptr; }
IRawFileAnalyser* NewFilePNGAnalyser() { return nullptr; }
IRawFileAnalyser* NewFilePSDAnalyser() { return nullptr; }
IRawFileAnalyser* NewFilePSPAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileTIFAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileWMFAnalyser() { return nullptr; }
