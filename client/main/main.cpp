// ZembraClient: plots zip codes on a map picture. The main window is the program: it
// lives from start-up until it is closed.
#include <QApplication>

#include "main/frm_render.hpp"
#include "main/ui_seam.hpp"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZembraClient"));
    QApplication::setApplicationVersion(
        QStringLiteral("%1.%2").arg(ZEMBRA_VERSION_MAJOR).arg(ZEMBRA_VERSION_MINOR));
    QApplication::setDesktopFileName(QStringLiteral("zembra"));

    zembra::client::QtUiSeam seam;
    // applicationDirPath resolves the bin/ symlink to the program's own folder.
    zembra::client::FrmRender window(seam, QCoreApplication::applicationDirPath());
    QApplication::setWindowIcon(window.windowIcon());
    window.show();
    return QApplication::exec();
}
