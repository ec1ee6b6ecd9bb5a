#include "ViewerArguments.h"

#include <QFile>

bool TakeViewerArguments(int nArgc, char** ppArgv, ViewerArguments* pArgs)
{
    if (nArgc != 3 || ppArgv == nullptr || ppArgv[1] == nullptr || ppArgv[2] == nullptr)
        return false;
    pArgs->strPath = QFile::decodeName(ppArgv[1]);
    pArgs->strTitle = QFile::decodeName(ppArgv[2]);
    return !pArgs->strPath.isEmpty();
}
