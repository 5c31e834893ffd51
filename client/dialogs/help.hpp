// The Help menu's Contents command: the help file beside the program.
#pragma once

#include <QString>

class QWidget;

namespace zembra::client {

class UiSeam;

// appPath + "Help" + "Zembra.chm", joined with exactly one separator between parts.
QString helpFilePath(const QString& appPath);

// What the operator is told when the desktop could not launch a viewer for `path`.
QString helpLaunchFailedMessage(const QString& path);

// What the operator is told when no program is registered to show the help file.
QString noHelpViewerMessage(const QString& fileName);

// Opens the help file with the desktop's viewer, or tells the operator it is missing, that
// no viewer for it is installed, or that none could be launched (information icon,
// `window`'s caption as title).
void openHelpContents(UiSeam& seam, QWidget* window, const QString& appPath);

}  // namespace zembra::client
