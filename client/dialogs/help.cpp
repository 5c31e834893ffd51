#include "dialogs/help.hpp"

#include <QFileInfo>
#include <QUrl>
#include <QWidget>

#include "main/render_logic.hpp"
#include "main/ui_seam.hpp"

namespace zembra::client {

QString helpFilePath(const QString& appPath) {
    const std::string folder = buildPath(appPath.toStdString(), "Help");
    return QString::fromStdString(buildPath(folder, "Zembra.chm"));
}

QString helpLaunchFailedMessage(const QString& path) {
    return QStringLiteral(
               "Unable to open the help file. The desktop's document launcher "
               "(xdg-open) could not open %1; open it with a help viewer such as "
               "xchm or kchmviewer.")
        .arg(path);
}

QString noHelpViewerMessage(const QString& fileName) {
    return QStringLiteral("No program to show %1 is installed.").arg(fileName);
}

void openHelpContents(UiSeam& seam, QWidget* window, const QString& appPath) {
    const QString path = helpFilePath(appPath);
    const QFileInfo file(path);
    const QString title = window != nullptr ? window->window()->windowTitle() : QString();
    if (file.exists() && file.isFile()) {
        // Without a registered viewer the launcher would hand the file to a web browser,
        // which only downloads it.
        if (!seam.viewerFor(path)) {
            seam.showMessage(window, noHelpViewerMessage(file.fileName()), title,
                             MessageIcon::Information);
            return;
        }
        // A launcher that fails says what was tried, so the operator can open it by hand.
        if (!seam.openUrl(QUrl::fromLocalFile(path))) {
            seam.showMessage(window, helpLaunchFailedMessage(path), title,
                             MessageIcon::Information);
        }
        return;
    }
    seam.showMessage(window,
                     QStringLiteral("Unable to open the help file. The help file is missing."),
                     title, MessageIcon::Information);
}

}  // namespace zembra::client
