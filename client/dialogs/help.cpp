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

void openHelpContents(UiSeam& seam, QWidget* window, const QString& appPath) {
    const QString path = helpFilePath(appPath);
    const QFileInfo file(path);
    if (file.exists() && file.isFile()) {
        seam.openUrl(QUrl::fromLocalFile(path));
        return;
    }
    seam.showMessage(
        window, QStringLiteral("Unable to open the help file. The help file is missing."),
        window != nullptr ? window->window()->windowTitle() : QString(), MessageIcon::Information);
}

}  // namespace zembra::client
