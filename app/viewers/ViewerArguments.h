// How the viewer programs take their two arguments: the file to show and the name to show it
// under. The name comes from a damaged disk and may look like an option ("-style", "--help"):
// the arguments are taken before the toolkit starts, and the toolkit is then started with the
// program's own name only, so no argument is ever read as an option.
#pragma once

#include <QString>

struct ViewerArguments {
    QString strPath;
    QString strTitle;
};

// False unless there are exactly two arguments after the program's name.
bool TakeViewerArguments(int nArgc, char** ppArgv, ViewerArguments* pArgs);
