// The whole road of a render with the real engine and zip-code database: validation,
// the engine object, each output format, the viewer and its point lookups, and the
// common error response for an engine error.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>
#include <zembra/draw/region.hpp>
#include <zembra/draw/regionmap.hpp>
#include <zembra/render/catalogue.hpp>

#include "dialogs/frm_view_image.hpp"
#include "input/batch_page.hpp"
#include "input/manual_page.hpp"
#include "input/tests/odbc_test_env.hpp"
#include "main/frm_render.hpp"
#include "tests/support.hpp"

using namespace zembra::client;
using zembra::client::test::ProgramFolder;
using zembra::client::test::RecordingSeam;
using zembra::render::Bounds;

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
    // Renders, then clicks the viewer at `pixel` at 100% with `button`; returns what was said.
    QStringList renderAndClick(QPoint pixel, Qt::MouseButton button) {
        seam.modalHandlers.push_back([&, pixel, button](QDialog& dialog) {
            auto& viewer = dynamic_cast<FrmViewImage&>(dialog);
            viewer.zoomToActualSize();  // a picture larger than the window may open fitted
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
    void viewerClickFindsZipAtAnyZoom();
    void usersOwnMapWithWorldFileRendersAndAnswersClicks();
    void mapDrawnForAStateAnswersClicksWithItsWorldFile();
    void mapWithoutBoundsIsRefusedWithError11();
    void statusLineTellsWhatWasPlaced();
    void noneOfTheCodesPlacedIsSaid();
    void viewerOpensOnTheMarkersAndNamesTheCodeUnderThePointer();
    void csvSeparatorOtherThanACommaIsTold();
    void typedCsvPathReadsItsZipField();
    void windowStaysLiveDuringASilentConnectAndCancelEndsIt();
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
    // The start-up codes lie in New Jersey, off this map: the render says so first.
    QCOMPARE(f.renderAndClick(barrow, Qt::LeftButton),
             (QStringList{"None of the 2 zip codes read was placed.", "99723"}));
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
    f.folder.writeFile(QStringLiteral("Images/Output/Temp.jpg"), "older render");
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
    // The render failed before its save: the older output is untouched.
    QCOMPARE(head(f.txtFile()->text(), 100), QByteArray("older render"));
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
    QCOMPARE(ui.cboFieldName->currentText(), QStringLiteral("zip"));  // the zip-like field

    const QPoint somerset =
        pixelOf({24.0, 50.0, -125.0, -66.44}, kUsaWidth, kUsaHeight, 40.499667, -74.531844);
    QCOMPARE(f.renderAndClick(somerset, Qt::LeftButton), QStringList{"08873"});
    QCOMPARE(f.seam.modalShown, QStringList{"frmViewImage"});
    QVERIFY(QFile::exists(f.txtFile()->text()));
}

void RenderTest::viewerClickFindsZipAtAnyZoom() {
    Fixture f;
    const QPoint somerset =
        pixelOf({24.0, 50.0, -125.0, -66.44}, kUsaWidth, kUsaHeight, 40.499667, -74.531844);
    for (const double zoom : {0.5, 2.0}) {
        f.seam.modalHandlers.push_back([&, zoom](QDialog& dialog) {
            auto& viewer = dynamic_cast<FrmViewImage&>(dialog);
            viewer.setZoom(zoom);
            const int frame = viewer.pbImage()->frameWidth();
            const QPointF shown = QPointF(somerset) * viewer.scale() + QPointF(frame, frame);
            QTest::mouseClick(viewer.pbImage(), Qt::LeftButton, {}, shown.toPoint());
        });
        f.render();
    }
    QCOMPARE(f.seam.messages.size(), size_t{2});
    QCOMPARE(f.seam.messages[0].text, QStringLiteral("08873"));
    QCOMPARE(f.seam.messages[1].text, QStringLiteral("08873"));
}

void RenderTest::usersOwnMapWithWorldFileRendersAndAnswersClicks() {
    zembra::client::test::UserFolders user;
    Fixture f;
    // A map of New Jersey of the user's own, its bounds in the world file beside it.
    const Bounds nj{38.9, 41.4, -75.6, -73.9};
    const QString maps = user.data() + QStringLiteral("/Zembra/Images/Maps");
    QVERIFY(QDir().mkpath(maps));
    QImage picture(340, 500, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QVERIFY(picture.save(maps + QStringLiteral("/garden-state.jpg"), "JPEG"));
    zembra::render::writeWorldFile((maps + QStringLiteral("/garden-state.jgw")).toStdString(), nj,
                                   340, 500);
    f.window = std::make_unique<FrmRender>(f.seam, f.folder.path());
    auto* cbMap = f.window->findChild<QComboBox*>(QStringLiteral("cbMap"));
    cbMap->setCurrentIndex(cbMap->findText(QStringLiteral("garden-state.jpg")));
    QCOMPARE(f.window->bounds(), nj);

    const QPoint somerset = pixelOf(nj, 340, 500, 40.499667, -74.531844);
    QCOMPARE(f.renderAndClick(somerset, Qt::LeftButton), QStringList{"08873"});
    QCOMPARE(QImage(f.txtFile()->text()).size(), QSize(340, 500));
}

void RenderTest::mapDrawnForAStateAnswersClicksWithItsWorldFile() {
    zembra::client::test::UserFolders user;
    Fixture f;
    // New Jersey drawn from the shipped boundary data, as `zembra map --region NJ` does.
    const QString maps = user.data() + QStringLiteral("/Zembra/Images/Maps");
    QVERIFY(QDir().mkpath(maps));
    zembra::draw::BoundaryData data;
    const Bounds nj = zembra::draw::regionBounds(zembra::draw::parseRegion("NJ"), data, {});
    zembra::draw::DrawnMap map = zembra::draw::drawMap(data, nj, 600);
    const int height = map.canvas.height();
    zembra::draw::writeMap(map, (maps + QStringLiteral("/nj.jpg")).toStdString(),
                           zembra::render::OutputFormat::Jpeg);
    f.window = std::make_unique<FrmRender>(f.seam, f.folder.path());
    auto* cbMap = f.window->findChild<QComboBox*>(QStringLiteral("cbMap"));
    cbMap->setCurrentIndex(cbMap->findText(QStringLiteral("nj.jpg")));
    QCOMPARE(f.window->bounds(), nj);

    const QPoint somerset = pixelOf(nj, 600, height, 40.499667, -74.531844);
    QCOMPARE(f.renderAndClick(somerset, Qt::LeftButton), QStringList{"08873"});
    QCOMPARE(QImage(f.txtFile()->text()).size(), QSize(600, height));
}

void RenderTest::mapWithoutBoundsIsRefusedWithError11() {
    Fixture f;
    f.folder.addMap(QStringLiteral("world.jpg"));
    f.window = std::make_unique<FrmRender>(f.seam, f.folder.path());
    auto* cbMap = f.window->findChild<QComboBox*>(QStringLiteral("cbMap"));
    cbMap->setCurrentIndex(cbMap->findText(QStringLiteral("world.jpg")));
    f.render();
    QCOMPARE(f.seam.messages.size(), size_t{1});
    QCOMPARE(f.seam.messages[0].text,
             QStringLiteral("[11]\r\nThe bounds of map world.jpg are unknown: add a world file "
                            "world.jgw beside it (see Help)."));
    QCOMPARE(f.seam.messages[0].title, QStringLiteral("Zembra, version 2.0"));
    QVERIFY(f.seam.modalShown.isEmpty());
    QVERIFY(!QFile::exists(f.txtFile()->text()));
}

void RenderTest::statusLineTellsWhatWasPlaced() {
    QString status;
    {
        Fixture f;
        f.window->manualPage()->addRow(QStringLiteral("00000"));
        f.seam.modalHandlers.push_back([&](QDialog& dialog) {
            status = dynamic_cast<FrmViewImage&>(dialog).statusLine()->text();
        });
        f.render();
        QCOMPARE(status, QStringLiteral("placed 2 of 3 zip codes; not found: 00000"));
    }

    // Codes off the map are counted and named with the map or region that holds them; no
    // message is added for them.
    Fixture off;
    off.window->manualPage()->addRow(QStringLiteral("00000"));
    off.window->manualPage()->addRow(QStringLiteral("00601"));
    off.window->manualPage()->addRow(QStringLiteral("99501"));
    off.seam.modalHandlers.push_back([&](QDialog& dialog) {
        status = dynamic_cast<FrmViewImage&>(dialog).statusLine()->text();
    });
    off.render();
    QCOMPARE(status, QStringLiteral("placed 2 of 5; 2 outside this map: 00601, 99501 (alaska "
                                    "holds 1; try region PR); not found: 00000"));
    QVERIFY(off.seam.messages.empty());
}

// A render that placed none of its codes says so once the picture is saved, before the
// viewer opens.
void RenderTest::noneOfTheCodesPlacedIsSaid() {
    Fixture f;
    f.window->manualPage()->lstData()->clear();
    f.window->manualPage()->addRow(QStringLiteral("00000"));
    f.window->manualPage()->addRow(QStringLiteral("ZZZZZ"));
    bool viewerOpened = false;
    size_t messagesBeforeViewer = 0;
    f.seam.modalHandlers.push_back([&](QDialog&) {
        viewerOpened = true;
        messagesBeforeViewer = f.seam.messages.size();
    });
    f.render();
    QVERIFY(viewerOpened);
    QCOMPARE(messagesBeforeViewer, size_t{1});
    QCOMPARE(f.seam.messages[0].text, QStringLiteral("None of the 2 zip codes read was placed."));
    QCOMPARE(f.seam.messages[0].icon, MessageIcon::Information);
    QCOMPARE(f.seam.messages[0].title, f.window->windowTitle());
}

namespace {

// Moves the pointer over picture pixel `pixel` of the viewer; returns the status line.
QString pointAt(FrmViewImage& viewer, QPoint pixel) {
    const QPointF shown =
        QPointF(pixel) * viewer.scale() + QPointF(viewer.pbImage()->contentsRect().topLeft());
    QMouseEvent move(QEvent::MouseMove, shown, viewer.pbImage()->mapToGlobal(shown), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(viewer.pbImage(), &move);
    return viewer.statusLine()->text();
}

// Whether picture pixel `pixel` is in the visible part of the viewer's view.
bool inView(const FrmViewImage& viewer, QPoint pixel) {
    const QPointF shown =
        QPointF(pixel) * viewer.scale() + QPointF(viewer.pbImage()->contentsRect().topLeft());
    const QPoint there = viewer.pbImage()->mapTo(viewer.scrollArea()->viewport(), shown.toPoint());
    return viewer.scrollArea()->viewport()->rect().contains(there);
}

}  // namespace

// The start-up render: a map larger than the viewer opens on its markers, without a key
// press, and the status line names the code whose marker is under the pointer.
void RenderTest::viewerOpensOnTheMarkersAndNamesTheCodeUnderThePointer() {
    Fixture f;
    const Bounds usa{24.0, 50.0, -125.0, -66.44};
    const QPoint somerset = pixelOf(usa, kUsaWidth, kUsaHeight, 40.499667, -74.531844);
    const QPoint pleasantville = pixelOf(usa, kUsaWidth, kUsaHeight, 39.387525, -74.515196);
    const QPoint pacific = pixelOf(usa, kUsaWidth, kUsaHeight, 30.0, -124.0);
    f.window->manualPage()->addRow(QStringLiteral("08890"));  // a pixel from 08873
    QStringList statuses;
    bool larger = false;
    f.seam.modalHandlers.push_back([&](QDialog& dialog) {
        auto& viewer = dynamic_cast<FrmViewImage&>(dialog);
        const QSize view = viewer.scrollArea()->viewport()->size();
        larger = view.width() < kUsaWidth || view.height() < kUsaHeight;
        QVERIFY(inView(viewer, somerset));
        QVERIFY(inView(viewer, pleasantville));
        QVERIFY(!viewer.viewChosen());
        statuses << pointAt(viewer, somerset) << pointAt(viewer, somerset + QPoint(3, 3))
                 << pointAt(viewer, pacific);
        // At any zoom the same pixel is named.
        viewer.setZoom(0.5);
        statuses << pointAt(viewer, somerset);
    });
    f.render();
    QVERIFY(larger);  // the case at hand: a picture larger than the window
    QCOMPARE(statuses.size(), 4);
    // Somerset's marker covers its neighbour's: the one drawn last is named first.
    QVERIFY2(statuses[0].contains(QStringLiteral("   zip codes 08890, 08873   |   placed 3 of 3")),
             qPrintable(statuses[0]));
    // The marker's white rim leaves the map showing: nothing is named there.
    QVERIFY2(!statuses[1].contains(QStringLiteral("   zip")), qPrintable(statuses[1]));
    QVERIFY2(!statuses[2].contains(QStringLiteral("   zip")), qPrintable(statuses[2]));
    QVERIFY2(statuses[3].contains(QStringLiteral("zip codes 08890, 08873")),
             qPrintable(statuses[3]));
}

// A CSV file whose header line has no comma but semicolons is read by semicolons, and the
// viewer's status line says so; a comma-separated file goes without a word.
void RenderTest::csvSeparatorOtherThanACommaIsTold() {
    for (const auto& [text, note] :
         {std::pair{"name;zip\nSomerset;08873\nPleasantville;08232\n",
                    "placed 2 of 2 zip codes; CSV fields separated by semicolons"},
          std::pair{"name\tzip\nSomerset\t08873\n",
                    "placed 1 of 1 zip codes; CSV fields "
                    "separated by tabs"},
          std::pair{"name,zip\nSomerset,08873\n", "placed 1 of 1 zip codes"}}) {
        Fixture f;
        f.folder.writeFile(QStringLiteral("zips.csv"), text);
        f.window->findChild<QTabWidget*>(QStringLiteral("tabMain"))->setCurrentIndex(1);
        const BatchPage::Controls& ui = f.window->batchPage()->controls();
        ui.txtCSVPath->setText(f.folder.path() + QStringLiteral("/zips.csv"));
        f.window->batchPage()->selectSource(BatchPage::kCsv);
        QCOMPARE(ui.cboFieldName->currentText(), QStringLiteral("zip"));
        QString status;
        f.seam.modalHandlers.push_back([&](QDialog& dialog) {
            status = dynamic_cast<FrmViewImage&>(dialog).statusLine()->text();
        });
        f.render();
        QVERIFY(f.seam.messages.empty());
        QCOMPARE(status, QLatin1String(note));
    }
}

// A CSV path typed into its box and followed directly by Render Image: the click takes the
// focus, which commits the path, so the zip-named field is read, not the first one.
void RenderTest::typedCsvPathReadsItsZipField() {
    Fixture f;
    f.window->show();
    QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
    f.folder.writeFile(QStringLiteral("people.csv"),
                       "Name,City,ZIP Code\nAnn,Somerset,08873\nBob,Pleasantville,08232\n");
    f.window->findChild<QTabWidget*>(QStringLiteral("tabMain"))->setCurrentIndex(1);
    f.window->batchPage()->selectSource(BatchPage::kCsv);
    const BatchPage::Controls& ui = f.window->batchPage()->controls();
    ui.txtCSVPath->setFocus();
    QTest::keyClicks(ui.txtCSVPath, f.folder.path() + QStringLiteral("/people.csv"));
    QString status;
    f.seam.modalHandlers.push_back([&](QDialog& dialog) {
        status = dynamic_cast<FrmViewImage&>(dialog).statusLine()->text();
    });
    auto* render = f.window->findChild<QPushButton*>(QStringLiteral("cmdRender"));
    QTest::mousePress(render, Qt::LeftButton);
    QTest::mouseRelease(render, Qt::LeftButton);
    QCOMPARE(ui.cboFieldName->currentText(), QStringLiteral("ZIP Code"));
    QVERIFY2(f.seam.messages.empty(),
             qPrintable(f.seam.messages.empty() ? QString() : f.seam.messages[0].text));
    QCOMPARE(status, QStringLiteral("placed 2 of 2 zip codes"));
}

// A TCP listener on loopback that accepts connections and never answers, as a server
// that hangs would.
class SilentListener {
  public:
    SilentListener() {
        server_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(server_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(server_, 8) != 0 ||
            ::getsockname(server_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            qFatal("no loopback listener");
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            for (;;) {
                const int client = ::accept(server_, nullptr, nullptr);
                if (client < 0) return;  // closed
                const std::lock_guard lock(mutex_);
                clients_.push_back(client);
            }
        });
    }
    ~SilentListener() { close(); }
    // Ends every connection, so a driver still waiting gives up.
    void close() {
        if (server_ < 0) return;
        ::shutdown(server_, SHUT_RDWR);
        thread_.join();
        ::close(server_);
        server_ = -1;
        const std::lock_guard lock(mutex_);
        for (const int client : clients_) ::close(client);
        clients_.clear();
    }
    int port() const { return port_; }
    size_t accepted() {
        const std::lock_guard lock(mutex_);
        return clients_.size();
    }

  private:
    int server_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<int> clients_;
};

void RenderTest::windowStaysLiveDuringASilentConnectAndCancelEndsIt() {
    SilentListener listener;
    zembra::client::testing::PrivateOdbc odbc;
    odbc.addDriver("SQL Server", ZEMBRA_ODBC_DRIVER_DIR "/libtdsodbc.so");
    Fixture f;
    f.window->findChild<QTabWidget*>(QStringLiteral("tabMain"))->setCurrentIndex(1);
    f.window->batchPage()->selectSource(BatchPage::kSqlServer);
    const BatchPage::Controls& ui = f.window->batchPage()->controls();
    ui.txtConnString->setText(QStringLiteral("Driver={SQL Server}; Server=127.0.0.1; Port=%1; "
                                             "Database=zips; UID=sa; PWD=x;")
                                  .arg(listener.port()));
    ui.txtTableName->setText(QStringLiteral("Customers"));
    ui.txtFieldName->setText(QStringLiteral("Zip"));
    f.folder.writeFile(QStringLiteral("Images/Output/Temp.jpg"), "older render");

    // A timer of the window's thread keeps firing while the driver waits for an answer
    // that never comes; once the connection is in and the timer has fired a few times
    // more, the operator presses Cancel.
    auto* cancel = f.window->findChild<QPushButton*>(QStringLiteral("cmdCancel"));
    int ticks = 0;
    int ticksWhileConnected = 0;
    bool cancelShown = false;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        if (listener.accepted() > 0) ++ticksWhileConnected;
        if (ticksWhileConnected == 5 || ticks == 6000) {
            cancelShown = !cancel->isHidden() && cancel->isEnabled();
            cancel->click();
        }
    });
    timer.start();
    f.render();
    timer.stop();
    listener.close();

    QVERIFY(ticksWhileConnected >= 5);
    QVERIFY(cancelShown);
    QCOMPARE(f.seam.messages.size(), size_t{1});
    QCOMPARE(f.seam.messages[0].text, QStringLiteral("Rendering was cancelled."));
    QCOMPARE(f.seam.messages[0].icon, MessageIcon::Information);
    QCOMPARE(f.seam.messages[0].title, QStringLiteral("Zembra, version 2.0"));
    QVERIFY(f.seam.modalShown.isEmpty());  // no viewer
    QVERIFY(f.window->isEnabled());
    QVERIFY(cancel->isHidden());
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QCOMPARE(head(f.txtFile()->text(), 100), QByteArray("older render"));
    // The window renders again at once.
    f.window->findChild<QTabWidget*>(QStringLiteral("tabMain"))->setCurrentIndex(0);
    f.seam.messages.clear();
    f.render();
    QVERIFY(f.seam.messages.empty());
    QCOMPARE(f.seam.modalShown, QStringList{"frmViewImage"});
}

QTEST_MAIN(RenderTest)
#include "render_test.moc"
