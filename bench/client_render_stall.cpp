// The desktop client's event loop during a render: the main window renders N zip codes
// (default 30,000, pasted into the manual list) on the USA map while a zero-interval
// timer of the window's thread records the gaps between its ticks. Prints the render's
// wall time, the number of ticks and the longest gap (the worst time the window could
// not repaint or answer a click).
//
// usage: client_render_stall <program folder with Images/> <zipcodes.csv> [codes] [runs]
// Run with QT_QPA_PLATFORM=offscreen or under an X server.
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "input/manual_page.hpp"
#include "main/frm_render.hpp"
#include "main/ui_seam.hpp"

namespace {

// Answers every dialog at once and prints every message, so the run needs no operator.
class QuietSeam final : public zembra::client::UiSeam {
  public:
    QMessageBox::StandardButton showMessage(QWidget*, const QString& text, const QString&,
                                            zembra::client::MessageIcon) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return QMessageBox::Ok;
    }
    std::optional<QString> getOpenFileName(QWidget*, const QString&, const QString&, const QString&,
                                           bool) override {
        return std::nullopt;
    }
    int runModal(QDialog& dialog) override { return dialog.result(); }
    bool openUrl(const QUrl&) override { return false; }
    std::optional<QString> viewerFor(const QString&) override { return std::nullopt; }
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <program folder> <zipcodes.csv> [codes] [runs]\n", argv[0]);
        return 2;
    }
    const int count = argc > 3 ? std::atoi(argv[3]) : 30000;
    const int runs = argc > 4 ? std::atoi(argv[4]) : 3;

    QFile csv(QString::fromLocal8Bit(argv[2]));
    if (!csv.open(QIODevice::ReadOnly)) return 1;
    csv.readLine();  // header
    QStringList codes;
    while (!csv.atEnd() && codes.size() < count) {
        codes << QString::fromLatin1(csv.readLine()).section(QLatin1Char(','), 0, 0);
    }

    QuietSeam seam;
    QTemporaryDir out;
    zembra::client::FrmRender window(seam, QString::fromLocal8Bit(argv[1]));
    window.manualPage()->SetListColumns();
    window.manualPage()->pasteCodes(codes.join(QLatin1Char('\n')));
    window.findChild<QLineEdit*>(QStringLiteral("txtFile"))
        ->setText(out.path() + QStringLiteral("/stall.jpg"));
    window.show();

    std::printf("%-10s %10s %10s %14s\n", "codes", "render ms", "ticks", "longest gap ms");
    for (int run = 0; run < runs; ++run) {
        using Clock = std::chrono::steady_clock;
        Clock::time_point last = Clock::now();
        double longest = 0;
        long ticks = 0;
        QTimer timer;
        timer.setInterval(0);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            const Clock::time_point now = Clock::now();
            longest =
                std::max(longest, std::chrono::duration<double, std::milli>(now - last).count());
            last = now;
            ++ticks;
        });
        QElapsedTimer wall;
        wall.start();
        timer.start();
        last = Clock::now();
        window.renderClicked();
        timer.stop();
        std::printf("%-10lld %10lld %10ld %14.1f\n", static_cast<long long>(codes.size()),
                    static_cast<long long>(wall.elapsed()), ticks, longest);
    }
    return 0;
}
