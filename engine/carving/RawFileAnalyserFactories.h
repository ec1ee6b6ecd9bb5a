// One factory per analyser class. Each family file (ImageAnalysers.cpp, ...) defines the factories
// of its own classes. A factory may answer null (a class not built in this configuration); the
// registry skips a null factory, so a type whose analyser is missing simply carves nothing.
#pragma once

class IRawFileAnalyser;

typedef IRawFileAnalyser* (*PFN_NEW_RAW_FILE_ANALYSER)();

IRawFileAnalyser* NewFile3DSAnalyser();
IRawFileAnalyser* NewFile3GPAnalyser();
IRawFileAnalyser* NewFileASFAnalyser();
IRawFileAnalyser* NewFileAUAnalyser();
IRawFileAnalyser* NewFileBMPAnalyser();
IRawFileAnalyser* NewFileCABAnalyser();
IRawFileAnalyser* NewFileCHMAnalyser();
IRawFileAnalyser* NewFileCPTAnalyser();
IRawFileAnalyser* NewFileCRWAnalyser();
IRawFileAnalyser* NewFileDBXAnalyser();
IRawFileAnalyser* NewFileDWGAnalyser();
IRawFileAnalyser* NewFileDXFAnalyser();
IRawFileAnalyser* NewFileEMFAnalyser();
IRawFileAnalyser* NewFileEPSAnalyser();
IRawFileAnalyser* NewFileFH11Analyser();
IRawFileAnalyser* NewFileGIFAnalyser();
IRawFileAnalyser* NewFileGZAnalyser();
IRawFileAnalyser* NewFileHLPAnalyser();
IRawFileAnalyser* NewFileHTMAnalyser();
IRawFileAnalyser* NewFileICOAnalyser();
IRawFileAnalyser* NewFileJPGAnalyser();
IRawFileAnalyser* NewFileLowDocAnalyser();
IRawFileAnalyser* NewFileLZHAnalyser();
IRawFileAnalyser* NewFileMDBAnalyser();
IRawFileAnalyser* NewFileMIDAnalyser();
IRawFileAnalyser* NewFileMNYAnalyser();
IRawFileAnalyser* NewFileMOVAnalyser();
IRawFileAnalyser* NewFileMP3Analyser();
IRawFileAnalyser* NewFileMP4Analyser();
IRawFileAnalyser* NewFileOLEAnalyser();
IRawFileAnalyser* NewFileONEAnalyser();
IRawFileAnalyser* NewFilePDFAnalyser();
IRawFileAnalyser* NewFilePNGAnalyser();
IRawFileAnalyser* NewFilePSDAnalyser();
IRawFileAnalyser* NewFilePSPAnalyser();
IRawFileAnalyser* NewFilePSTAnalyser();
IRawFileAnalyser* NewFileRARAnalyser();
IRawFileAnalyser* NewFileRIFFAnalyser();
IRawFileAnalyser* NewFileRTFAnalyser();
IRawFileAnalyser* NewFileSWFAnalyser();
IRawFileAnalyser* NewFileTARAnalyser();
IRawFileAnalyser* NewFileTIFAnalyser();
IRawFileAnalyser* NewFileTTFAnalyser();
IRawFileAnalyser* NewFileUnicodeHTMAnalyser();
IRawFileAnalyser* NewFileWMFAnalyser();
IRawFileAnalyser* NewFileWPDAnalyser();
IRawFileAnalyser* NewFileZIPAnalyser();
IRawFileAnalyser* NewCustomFileAnalyser();
