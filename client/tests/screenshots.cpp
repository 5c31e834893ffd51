// Takes the README's pictures of the client: run under an X server with a window
// manager, with the program folder that holds Images/, an output folder and a suffix for
// the file names ("" at 1x, "-1.5x" under QT_SCALE_FACTOR=1.5, say). Shows the main
// window, renders the start-up zip codes, and captures the main window, the viewer and
// the About box as they appear on screen.
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <cstdio>

#include "input/batch_page.hpp"
#include "main/frm_render.hpp"
#include "main/ui_seam.hpp"

namespace {

void capture(QWidget& window, const QString& file) {
    QTest::qWait(400);
    const QRect frame = window.frameGeometry();
    QScreen* screen = window.screen();
    const QPixmap shot = screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    if (!shot.save(file)) std::fprintf(stderr, "could not write %s\n", qPrintable(file));
}

// Real message boxes and dialogs, except that modal windows are captured and closed.
class CapturingSeam final : public zembra::client::UiSeam {
  public:
    CapturingSeam(QString folder, QString suffix)
        : folder_(std::move(folder)), suffix_(std::move(suffix)) {}
    QMessageBox::StandardButton showMessage(QWidget* parent, const QString& text,
                                            const QString& title,
                                            zembra::client::MessageIcon icon) override {
        std::fprintf(stderr, "message [%s] %s\n", qPrintable(title), qPrintable(text));
        return real_.showMessage(parent, text, title, icon);
    }
    std::optional<QString> getOpenFileName(QWidget*, const QString&, const QString&, const QString&,
                                           bool) override {
        return std::nullopt;
    }
    int runModal(QDialog& dialog) override {
        dialog.show();
        QTest::qWait(300);
        QTest::qWait(200);  // the viewer opens with the plotted markers in view
        capture(dialog, folder_ + QLatin1Char('/') + names_.value(dialog.objectName()) + suffix_ +
                            QStringLiteral(".png"));
        dialog.reject();
        return dialog.result();
    }
    bool openUrl(const QUrl&) override { return true; }
    std::optional<QString> viewerFor(const QString&) override { return std::nullopt; }

  private:
    QString folder_;
    QString suffix_;
    QHash<QString, QString> names_{{QStringLiteral("frmViewImage"), QStringLiteral("viewer")},
                                   {QStringLiteral("frmAbout"), QStringLiteral("about")}};
    zembra::client::QtUiSeam real_;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s <program folder> <output folder> [suffix]\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[2]);
    const QString suffix = argc == 4 ? QString::fromLocal8Bit(argv[3]) : QString();
    CapturingSeam seam(out, suffix);
    zembra::client::FrmRender window(seam, QString::fromLocal8Bit(argv[1]));
    window.move(40, 40);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) return 1;
    capture(window, out + QStringLiteral("/main-window") + suffix + QStringLiteral(".png"));
    auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("tabMain"));
    tabs->setCurrentIndex(1);
    for (int source : {2, 1}) {
        window.batchPage()->selectSource(source);
        capture(window, out + QStringLiteral("/batch-page-%1").arg(source) + suffix +
                            QStringLiteral(".png"));
    }
    window.batchPage()->selectSource(0);
    tabs->setCurrentIndex(0);
    window.renderClicked();
    window.findChild<QAction*>(QStringLiteral("mnuHelpAbout"))->trigger();
    return 0;
}
