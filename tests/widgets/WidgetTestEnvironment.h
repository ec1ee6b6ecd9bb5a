// One QApplication for the whole test program, with the working directory and the skin reader
// moved to the output folder, where the default skin lies beside the program.
#pragma once

#include <QString>

namespace widgettest {

// Full path of a file of the default skin's image folder.
QString SkinImage(const QString& strName);

} // namespace widgettest
