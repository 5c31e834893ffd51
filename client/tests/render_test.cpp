// The whole road of a render with the real engine and zip-code database: validation,
// the engine object, each output format, the viewer and its point lookups, and the
// common error response for an engine error.
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <cmath>

#include "dialogs/frm_view_image.hpp"
#include "input/batch_page.hpp"
#include "input/manual_page.hpp"
#include "main/frm_render.hpp"
#include "tests/support.hpp"

using namespace zembra::client;
using zembra::client::test::ProgramFolder;
using zembra::client::test::RecordingSeam;

namespace {

// Map sizes at about 0.05 degree per pixel, fine enough to land a click within a
// couple of miles of a zip code's position.
constexpr int kUsaWidth = 1172;
constexpr int kUsaHeight = 520;
constexpr int kAlaskaWidth = 1100;
constexpr int kAlaskaHeight = 520;

// The engine's projection: bounds edge to edge, rounded half to even.
QPoint pixelOf(const Bounds& b, int width, int height, double lat, double lon) {
    const double x = width / (b.maxLon - b.minLon) * (lon - b.minLon);
    const double y = height - height / (b.maxLat - b.minLat) * (lat - b.minLat);
    return {static_cast<int>(std::nearbyint(x)), static_cast<int>(std::nearbyint(y))};
}

struct Fixture {
    ProgramFolder folder;
    RecordingSeam seam;
    std::unique_ptr<FrmRender> window;

    Fixture() {
        folder.addMap(QStringLiteral("alaska.jpg"), kAlaskaWidth, kAlaskaHeight);
        folder.addMap(QStringLiteral("hawaii.jpg"));
        folder.addMap(QStringLiteral("usa.jpg"), kUsaWidth, kUsaHeight);
        for (const char* name : {"a.png", "b.png", "c.png", "d.png", "e.png"}) {
            folder.addOverlay(QLatin1String(name));
        }
        window = std::make_unique<FrmRender>(seam, folder.path());
    }
    QLineEdit* txtFile() const { return window->findChild<QLineEdit*>(QStringLiteral("txtFile")); }
    void render() {
        QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("cmdRender")),
                          Qt::LeftButton);
    }
    // Renders, then clicks the viewer at `pixel` with `button`; returns what was said.
    QStringList renderAndClick(QPoint pixel, Qt::MouseButton button) {
        seam.modalHandlers.push_back([&, pixel, button](QDialog& dialog) {
            auto& viewer = dynamic_cast<FrmViewImage&>(dialog);
            const int frame = viewer.pbImage()->frameWidth();
            QTest::mouseClick(viewer.pbImage(), button, {}, pixel + QPoint(frame, frame));
        });
        render();
        QStringList said;
        for (const auto& message : seam.messages) said << message.text;
        return said;
    }
};

QByteArray head(const QString& path, int bytes) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(bytes) : QByteArray();
}

}  // namespace

class RenderTest : public QObject {
    Q_OBJECT
  private slots:
    void rendersEachFormatAndOpensTheViewer_data();
    void rendersEachFormatAndOpensTheViewer();
    void viewerClickFindsZipOnUsaMap();
    void viewerClickFindsZipOnAlaskaMap();
    void viewerClickInTheOceanAsksForAZipCode();
    void engineErrorEndsInCommonErrorResponse();
    void batchPageRenderReportsReaderErrors();
    void batchPageRendersCsvZipCodes();
};

void RenderTest::rendersEachFormatAndOpensTheViewer_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("magic");
    QTest::newRow("start-up jpg") << "Temp.jpg" << QByteArray("\xFF\xD8\xFF", 3);
    QTest::newRow("gif") << "out.gif" << QByteArray("GIF8");
    QTest::newRow("bmp") << "out.bmp" << QByteArray("BM");
    QTest::newRow("upper-case PNG") << "out.PNG" << QByteArray("\x89PNG", 4);
}

void RenderTest::rendersEachFormatAndOpensTheViewer() {
    QFETCH(QString, name);
    QFETCH(QByteArray, magic);
    Fixture f;
    const QString output = f.folder.images() + QStringLiteral("/Output/") + name;
    f.txtFile()->setText(output);
    f.folder.writeFile(QStringLiteral("Images/Output/") + name, "stale");

    QString shown;
    QSize shownSize;
    f.seam.modalHandlers.push_back([&](QDialog& dialog) {
        auto& viewer = dynamic_cast<FrmViewImage&>(dialog);
        shown = viewer.ImageFile();
        shownSize = viewer.pbImage()->pixmap().size();
        // The pointer is back to normal while the viewer is open.
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    });
    f.render();

    QVERIFY2(f.seam.messages.empty(),
             qPrintable(f.seam.messages.empty() ? QString() : f.seam.messages[0].text));
    QCOMPARE(f.seam.modalShown, QStringList{"frmViewImage"});
    QCOMPARE(shown, output);
    QCOMPARE(shownSize, QSize(kUsaWidth, kUsaHeight));
    QCOMPARE(head(output, magic.size()), magic);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void RenderTest::viewerClickFindsZipOnUsaMap() {
    Fixture f;
    const Bounds usa{24.0, 50.0, -125.0, -66.44};
    QCOMPARE(f.window->bounds(), usa);
    const QPoint somerset = pixelOf(usa, kUsaWidth, kUsaHeight, 40.499667, -74.531844);
    // Any mouse button looks up the same point.
    QCOMPARE(f.renderAndClick(somerset, Qt::RightButton), QStringList{"08873"});
    QCOMPARE(f.seam.messages[0].title, QStringLiteral("ZembraClient"));
    QCOMPARE(f.seam.messages[0].icon, MessageIcon::None);
    f.seam.messages.clear();
    QCOMPARE(f.renderAndClick(somerset, Qt::MiddleButton), QStringList{"08873"});
}

void RenderTest::viewerClickFindsZipOnAlaskaMap() {
    // The lookup uses the bounds of the map rendered, not the engine's defaults.
    Fixture f;
    f.window->findChild<QComboBox*>(QStringLiteral("cbMap"))->setCurrentIndex(0);
    const Bounds alaska{51.0, 77.0, -180.0, -125.0};
    QCOMPARE(f.window->bounds(), alaska);
    const QPoint barrow = pixelOf(alaska, kAlaskaWidth, kAlaskaHeight, 71.253861, -156.798246);
    QCOMPARE(f.renderAndClick(barrow, Qt::LeftButton), QStringList{"99723"});
}

void RenderTest::viewerClickInTheOceanAsksForAZipCode() {
    Fixture f;
    const QPoint pacific =
        pixelOf({24.0, 50.0, -125.0, -66.44}, kUsaWidth, kUsaHeight, 30.0, -124.0);
    QCOMPARE(f.renderAndClick(pacific, Qt::LeftButton),
             QStringList{"Please supply a Zip code to search by."});
    QCOMPARE(f.seam.messages[0].title, QStringLiteral("ZembraClient"));
}

void RenderTest::engineErrorEndsInCommonErrorResponse() {
    Fixture f;
    // The chosen overlay is not a picture: the engine's imaging fails while stamping.
    f.folder.writeFile(QStringLiteral("Images/Overlays/e.png"), "\x89PNG\r\n\x1a\n broken");
    f.render();
    QCOMPARE(f.seam.messages.size(), size_t{1});
    const auto& message = f.seam.messages[0];
    QVERIFY2(message.text.startsWith(QStringLiteral("[-2147220504]\r\n")),
             qPrintable(message.text));
    QVERIFY(message.text.size() > 16);  // the engine's own description follows
    QCOMPARE(message.icon, MessageIcon::Information);
    QCOMPARE(message.title, QStringLiteral("Zembra, version 2.0"));
    QVERIFY(f.seam.modalShown.isEmpty());  // no viewer
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QVERIFY(f.window->isEnabled());
    QVERIFY(!QFile::exists(f.txtFile()->text()));
}

void RenderTest::batchPageRenderReportsReaderErrors() {
    Fixture f;
    f.window->findChild<QTabWidget*>(QStringLiteral("tabMain"))->setCurrentIndex(1);
    f.window->batchPage()->selectSource(3);
    f.window->batchPage()->controls().txtCSVPath->setText(f.folder.path() + "/missing.csv");
    f.window->batchPage()->controls().cboFieldName->addItem(QStringLiteral("zip"));
    f.render();
    QCOMPARE(f.seam.messages.size(), size_t{1});
    QVERIFY(f.seam.messages[0].text.startsWith(QLatin1Char('[')));
    QVERIFY(f.seam.modalShown.isEmpty());
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void RenderTest::batchPageRendersCsvZipCodes() {
    Fixture f;
    f.folder.writeFile(QStringLiteral("zips.csv"),
                       "name,zip\nSomerset,08873\nagain,08873\nPleasantville,08232\n");
    f.window->manualPage()->SetListColumns();  // the manual list is not what is read
    f.window->findChild<QTabWidget*>(QStringLiteral("tabMain"))->setCurrentIndex(1);
    const BatchPage::Controls& ui = f.window->batchPage()->controls();
    ui.txtCSVPath->setText(f.folder.path() + QStringLiteral("/zips.csv"));
    f.window->batchPage()->selectSource(BatchPage::kCsv);
    QCOMPARE(ui.cboFieldName->currentText(), QStringLiteral("name"));
    ui.cboFieldName->setCurrentIndex(1);

    const QPoint somerset =
        pixelOf({24.0, 50.0, -125.0, -66.44}, kUsaWidth, kUsaHeight, 40.499667, -74.531844);
    QCOMPARE(f.renderAndClick(somerset, Qt::LeftButton), QStringList{"08873"});
    QCOMPARE(f.seam.modalShown, QStringList{"frmViewImage"});
    QVERIFY(QFile::exists(f.txtFile()->text()));
}

QTEST_MAIN(RenderTest)
#include "render_test.moc"
