// The Help menu's Contents command: the help file beside the program.
#pragma once

#include <QString>

class QWidget;

namespace zembra::client {

class UiSeam;

// appPath + "Help" + "Zembra.chm", joined with exactly one separator between parts.
QString helpFilePath(const QString& appPath);

// Opens the help file with the desktop's viewer, or tells the operator it is missing
// (information icon, `window`'s caption as title). The launcher's result is not examined.
void openHelpContents(UiSeam& seam, QWidget* window, const QString& appPath);

}  // namespace zembra::client
