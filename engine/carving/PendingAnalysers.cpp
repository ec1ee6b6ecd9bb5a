// Factories of the analyser classes that are not part of the engine yet: each answers null, and the
// registry leaves the class out. A family file that builds a class defines its factory and the
// line here goes.

#include "RawFileAnalyserFactories.h"

// Raster images, icons and metafiles.

IRawFileAnalyser* NewFileICOAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileJPGAnalyser() { return nullptr; }
IRawFileAnalyser* NewFilePNGAnalyser() { return nullptr; }
IRawFileAnalyser* NewFilePSDAnalyser() { return nullptr; }
IRawFileAnalyser* NewFilePSPAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileTIFAnalyser() { return nullptr; }
IRawFileAnalyser* NewFileWMFAnalyser() { return nullptr; }
