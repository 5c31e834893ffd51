// The small windows: the zip-code dialog with the manual list's Add and Remove, the
// About box, Help Contents, and the viewer's loading and sizing.
#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QWheelEvent>

#include "dialogs/frm_view_image.hpp"
#include "dialogs/help.hpp"
#include "input/manual_page.hpp"
#include "main/frm_render.hpp"
#include "tests/support.hpp"

using namespace zembra::client;
using zembra::client::test::ProgramFolder;
using zembra::client::test::RecordingSeam;

namespace {

QStringList rows(const QTreeWidget* list) {
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i) texts << list->topLevelItem(i)->text(0);
    return texts;
}

// A modal handler that types `text` into the zip-code dialog and presses OK.
std::function<void(QDialog&)> typeAndOk(const QString& text) {
    return [text](QDialog& dialog) {
        dialog.findChild<QLineEdit*>(QStringLiteral("txtZipCode"))->setText(text);
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("cmdOK")), Qt::LeftButton);
    };
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT
  private slots:
    void addingZipCodes();
    void emptyZipCodeIsRefusedAndDialogStaysOpen();
    void cancellingAddsNothing();
    void removeTakesTheSelectedRowOnly();
    void aboutBoxShowsTheSameContentEachTime();
    void helpContentsOpensOrReportsMissingFile();
    void helpPathHasSingleSeparators();
    void registeredViewerIsTheInstalledDefault();
    void sizeExtrasArithmetic();
    void viewerSizesToItsPicture();
    void viewerReportsMissingPicture();
    void viewerZoomsAndMapsPointsToPicturePixels();
    void viewerZoomsAboutTheCentreOrThePointer();
    void statusLineSummarisesThePlacement();
    void deleteKeyAndPasteEditTheList();
};

void DialogsTest::addingZipCodes() {
    RecordingSeam seam;
    ManualPage page(seam);
    page.SetListColumns();
    seam.modalHandlers.push_back(typeAndOk(QStringLiteral("08873")));
    seam.modalHandlers.push_back(typeAndOk(QStringLiteral("08873")));
    seam.modalHandlers.push_back(typeAndOk(QStringLiteral("  ")));
    seam.modalHandlers.push_back(typeAndOk(QStringLiteral("O8B73x")));
    for (int i = 0; i < 4; ++i) QTest::mouseClick(page.cmdAdd(), Qt::LeftButton);

    // Duplicates, blanks and misspellings are kept exactly as typed, in order.
    QCOMPARE(rows(page.lstData()), (QStringList{"08873", "08873", "  ", "O8B73x"}));
    QCOMPARE(page.zipCodes(), (std::vector<std::string>{"08873", "08873", "  ", "O8B73x"}));
    QCOMPARE(seam.modalShown, (QStringList(4, QStringLiteral("frmZipCode"))));
    QVERIFY(seam.messages.empty());
}

void DialogsTest::emptyZipCodeIsRefusedAndDialogStaysOpen() {
    RecordingSeam seam;
    ManualPage page(seam);
    page.SetListColumns();
    bool stayedOpen = false;
    seam.modalHandlers.push_back([&](QDialog& dialog) {
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Enter Zip Code"));
        auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("cmdOK"));
        QVERIFY(ok->isDefault());
        QTest::mouseClick(ok, Qt::LeftButton);
        stayedOpen = dialog.isVisible();
        // Enter presses the default button: now with a code typed.
        dialog.findChild<QLineEdit*>(QStringLiteral("txtZipCode"))->setText(QStringLiteral("1"));
        QTest::keyClick(&dialog, Qt::Key_Return);
    });
    QTest::mouseClick(page.cmdAdd(), Qt::LeftButton);

    QVERIFY(stayedOpen);
    QCOMPARE(seam.messages.size(), size_t{1});
    QCOMPARE(seam.messages[0].text, QStringLiteral("Please enter the zip code"));
    QCOMPARE(seam.messages[0].title, QStringLiteral("ZembraClient"));
    QCOMPARE(seam.messages[0].icon, MessageIcon::Exclamation);
    QCOMPARE(rows(page.lstData()), QStringList{"1"});
}

void DialogsTest::cancellingAddsNothing() {
    RecordingSeam seam;
    ManualPage page(seam);
    page.SetListColumns();
    const auto typed = [](QDialog& dialog) {
        dialog.findChild<QLineEdit*>(QStringLiteral("txtZipCode"))->setText(QStringLiteral("9"));
    };
    seam.modalHandlers.push_back([&](QDialog& dialog) {
        typed(dialog);
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("cmdCancel")),
                          Qt::LeftButton);
    });
    seam.modalHandlers.push_back([&](QDialog& dialog) {
        typed(dialog);
        QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    seam.modalHandlers.push_back(typed);  // left open: closed by its close box
    for (int i = 0; i < 3; ++i) QTest::mouseClick(page.cmdAdd(), Qt::LeftButton);
    QCOMPARE(page.lstData()->topLevelItemCount(), 0);
    QVERIFY(seam.messages.empty());
}

void DialogsTest::removeTakesTheSelectedRowOnly() {
    RecordingSeam seam;
    ManualPage page(seam);
    page.SetListColumns();
    for (const char* code : {"a", "b", "c"}) page.addRow(QLatin1String(code));

    page.lstData()->clearSelection();
    QTest::mouseClick(page.cmdRemove(), Qt::LeftButton);
    QCOMPARE(rows(page.lstData()), (QStringList{"a", "b", "c"}));

    page.lstData()->topLevelItem(1)->setSelected(true);
    QTest::mouseClick(page.cmdRemove(), Qt::LeftButton);
    QCOMPARE(rows(page.lstData()), (QStringList{"a", "c"}));
    QVERIFY(seam.messages.empty());

    // SetListColumns empties the list and leaves exactly one column.
    page.SetListColumns();
    QCOMPARE(page.lstData()->topLevelItemCount(), 0);
    QCOMPARE(page.lstData()->columnCount(), 1);
}

void DialogsTest::aboutBoxShowsTheSameContentEachTime() {
    ProgramFolder folder;
    RecordingSeam seam;
    FrmRender window(seam, folder.path());
    QStringList seen;
    const auto inspect = [&](QDialog& about) {
        const auto* product = about.findChild<QLabel*>(QStringLiteral("lblProduct"));
        const auto* icon = about.findChild<QLabel*>(QStringLiteral("imgIcon"));
        seen << about.windowTitle() << product->text()
             << about.findChild<QLabel*>(QStringLiteral("lblVersion"))->text();
        QVERIFY(product->font().bold());
        QVERIFY(!icon->pixmap().isNull());
        auto* close = about.findChild<QPushButton*>(QStringLiteral("cmdClose"));
        QCOMPARE(close->text(), QStringLiteral("&Close"));
        QTest::mouseClick(close, Qt::LeftButton);
        QVERIFY(!about.isVisible());
    };
    seam.modalHandlers.push_back(inspect);
    seam.modalHandlers.push_back(inspect);
    auto* about = window.findChild<QAction*>(QStringLiteral("mnuHelpAbout"));
    about->trigger();
    about->trigger();
    QCOMPARE(seam.modalShown, (QStringList{"frmAbout", "frmAbout"}));
    QCOMPARE(seen, (QStringList{"About...", "Zembra", "Version 2.0", "About...", "Zembra",
                                "Version 2.0"}));
    QVERIFY(!window.windowIcon().isNull());
}

void DialogsTest::helpContentsOpensOrReportsMissingFile() {
    ProgramFolder folder;
    RecordingSeam seam;
    FrmRender window(seam, folder.path());
    auto* contents = window.findChild<QAction*>(QStringLiteral("mnuHelpContents"));

    contents->trigger();
    QVERIFY(seam.openedUrls.empty());
    QCOMPARE(seam.messages.size(), size_t{1});
    QCOMPARE(seam.messages[0].text,
             QStringLiteral("Unable to open the help file. The help file is missing."));
    QCOMPARE(seam.messages[0].icon, MessageIcon::Information);
    QCOMPARE(seam.messages[0].title, QStringLiteral("Zembra, version 2.0"));

    folder.writeFile(QStringLiteral("Help/Zembra.chm"), "ITSF");
    contents->trigger();
    QCOMPARE(seam.messages.size(), size_t{1});
    QCOMPARE(seam.openedUrls.size(), size_t{1});
    const QString help = folder.path() + QStringLiteral("/Help/Zembra.chm");
    QCOMPARE(seam.openedUrls[0], QUrl::fromLocalFile(help));

    // A launcher that fails: the operator hears what was tried, with the file's path.
    seam.openUrlSucceeds = false;
    contents->trigger();
    QCOMPARE(seam.messages.size(), size_t{2});
    QVERIFY(seam.messages[1].text.contains(help));
    QVERIFY(seam.messages[1].text.contains(QStringLiteral("xdg-open")));
    QCOMPARE(seam.messages[1].icon, MessageIcon::Information);
    QCOMPARE(seam.messages[1].title, QStringLiteral("Zembra, version 2.0"));

    // No program registered for the file's type: the operator is told, and the file is not
    // handed to the launcher (which would give it to a web browser).
    seam.viewer.reset();
    contents->trigger();
    QCOMPARE(seam.viewerQueries.last(), help);
    QCOMPARE(seam.openedUrls.size(), size_t{2});
    QCOMPARE(seam.messages.size(), size_t{3});
    QCOMPARE(seam.messages[2].text, QStringLiteral("No program to show Zembra.chm is installed."));
    QCOMPARE(seam.messages[2].icon, MessageIcon::Information);
    QCOMPARE(seam.messages[2].title, QStringLiteral("Zembra, version 2.0"));
}

void DialogsTest::registeredViewerIsTheInstalledDefault() {
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-mime")).isEmpty()) {
        QSKIP("xdg-mime is not installed");
    }
    zembra::client::test::UserFolders user;
    // Only the test's folders count: no system-wide defaults or desktop files.
    QTemporaryDir system;
    const QByteArray savedData = qgetenv("XDG_DATA_DIRS");
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_DIRS");
    const auto restore = qScopeGuard([&] {
        for (const auto& [name, value] :
             {std::pair{"XDG_DATA_DIRS", savedData}, std::pair{"XDG_CONFIG_DIRS", savedConfig}}) {
            if (value.isNull()) {
                qunsetenv(name);
            } else {
                qputenv(name, value);
            }
        }
    });
    qputenv("XDG_DATA_DIRS", QFile::encodeName(system.path() + QStringLiteral("/share")));
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(system.path() + QStringLiteral("/etc")));
    const QStringList types{QStringLiteral("application/vnd.ms-htmlhelp"),
                            QStringLiteral("application/x-chm")};
    QCOMPARE(registeredViewer(types), std::nullopt);

    const QString config = user.home() + QStringLiteral("/config");
    QVERIFY(QDir().mkpath(config));
    QFile defaults(config + QStringLiteral("/mimeapps.list"));
    QVERIFY(defaults.open(QIODevice::WriteOnly));
    defaults.write("[Default Applications]\napplication/x-chm=helpviewer.desktop;\n");
    defaults.close();
    // Named as the default, but not installed: no viewer.
    QCOMPARE(registeredViewer(types), std::nullopt);

    const QString applications = user.data() + QStringLiteral("/applications");
    QVERIFY(QDir().mkpath(applications));
    QFile entry(applications + QStringLiteral("/helpviewer.desktop"));
    QVERIFY(entry.open(QIODevice::WriteOnly));
    entry.write(
        "[Desktop Entry]\nType=Application\nName=Help viewer\nExec=true %f\n"
        "MimeType=application/x-chm;\n");
    entry.close();
    QCOMPARE(registeredViewer(types), std::optional<QString>(QStringLiteral("helpviewer.desktop")));
}

void DialogsTest::helpPathHasSingleSeparators() {
    QCOMPARE(helpFilePath(QStringLiteral("/")), QStringLiteral("/Help/Zembra.chm"));
    QCOMPARE(helpFilePath(QStringLiteral("/opt/zembra/")),
             QStringLiteral("/opt/zembra/Help/Zembra.chm"));
    QCOMPARE(helpFilePath(QStringLiteral("/opt/zembra")),
             QStringLiteral("/opt/zembra/Help/Zembra.chm"));
}

void DialogsTest::sizeExtrasArithmetic() {
    FrameExtras extras = sizeExtrasTwips(15.0, 1, 18, false, 20);
    QCOMPARE(extras.width, 100);
    QCOMPARE(extras.height, 370);
    // A menu bar adds one menu height; the border height serves both directions.
    extras = sizeExtrasTwips(15.0, 1, 18, true, 20);
    QCOMPARE(extras.width, 100);
    QCOMPARE(extras.height, 670);
    extras = sizeExtrasTwips(15.0, 3, 0, false, 0);
    QCOMPARE(extras.width, 220);
    QCOMPARE(extras.height, 220);
    // The factor is rounded half to even: 14.5 -> 14, 15.5 -> 16.
    QCOMPARE(sizeExtrasTwips(14.5, 1, 0, false, 0).width, 14 * 4 + 40);
    QCOMPARE(sizeExtrasTwips(15.5, 1, 0, false, 0).width, 16 * 4 + 40);

    for (const auto& [border, caption] : {std::pair{40'000'000, 0}, std::pair{1, 200'000'000}}) {
        try {
            sizeExtrasTwips(15.0, border, caption, false, 0);
            QFAIL("no overflow raised");
        } catch (const zembra::Error& error) {
            QCOMPARE(error.number(), 6);
        }
    }
}

void DialogsTest::viewerSizesToItsPicture() {
    ProgramFolder folder;
    folder.addMap(QStringLiteral("small.png"), 200, 120);
    folder.addMap(QStringLiteral("huge.png"), 2400, 1900);  // larger than the screen
    for (const auto& [name, size] :
         {std::pair{"small.png", QSize(200, 120)}, std::pair{"huge.png", QSize(2400, 1900)}}) {
        RecordingSeam seam;
        FrmViewImage viewer(seam);
        QCOMPARE(viewer.windowTitle(), QStringLiteral("View Image"));
        viewer.setImageFile(folder.images() + QStringLiteral("/Maps/") + QLatin1String(name));
        QSize picture;
        QSize box;
        QSize shown;
        seam.modalHandlers.push_back([&](QDialog&) {
            picture = viewer.pbImage()->pixmap().size();
            box = viewer.pbImage()->size();
            shown = viewer.scrollArea()->viewport()->size();
        });
        seam.runModal(viewer);
        QVERIFY(seam.messages.empty());
        const QSize screen = viewer.screen()->availableGeometry().size();
        QVERIFY(viewer.width() <= screen.width() && viewer.height() <= screen.height());
        // Shown whole either way: the picture box fits the view.
        QVERIFY(shown.width() >= box.width() && shown.height() >= box.height());
        if (size.width() < screen.width() / 2) {
            // A small picture at 100%, nothing scaled, the window tight around it.
            QCOMPARE(picture, size);
            QCOMPARE(box, size + QSize(2, 2));
            QVERIFY(shown.width() <= box.width() + 40 && shown.height() <= box.height() + 40);
        } else {
            // A larger one opens fitted to the window, which takes most of the screen.
            QVERIFY(viewer.zoom() < 1.0);
            QVERIFY(shown.width() <= box.width() + 8 || shown.height() <= box.height() + 8);
            QVERIFY(viewer.width() > screen.width() / 2);
        }
    }
}

void DialogsTest::viewerReportsMissingPicture() {
    RecordingSeam seam;
    FrmViewImage viewer(seam);
    viewer.setImageFile(QStringLiteral("/nonexistent/picture.png"));
    const QSize design = viewer.size();
    seam.runModal(viewer);
    QCOMPARE(seam.messages.size(), size_t{1});
    QVERIFY(seam.messages[0].text.startsWith(QStringLiteral("[53]\r\nFile not found")));
    QCOMPARE(seam.messages[0].title, QStringLiteral("View Image"));
    QCOMPARE(seam.messages[0].icon, MessageIcon::Information);
    QCOMPARE(viewer.size(), design);  // sizing skipped
    QVERIFY(viewer.pbImage()->pixmap().isNull());
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void DialogsTest::viewerZoomsAndMapsPointsToPicturePixels() {
    ProgramFolder folder;
    folder.addMap(QStringLiteral("map.png"), 1600, 1000);
    RecordingSeam seam;
    FrmViewImage viewer(seam);
    viewer.setImageFile(folder.images() + QStringLiteral("/Maps/map.png"));
    viewer.setLookupBounds({24.0, 50.0, -125.0, -66.44});
    zembra::render::RenderResult result;
    result.requested = 1;
    result.placedAtArea = 1;
    viewer.setRenderResult(result);
    viewer.resize(500, 400);
    seam.modalHandlers.push_back([&](QDialog&) {
        const auto act = [&](const char* name) {
            QAction* action = viewer.findChild<QAction*>(QLatin1String(name));
            QVERIFY2(action != nullptr, name);
            action->trigger();
        };
        QVERIFY(viewer.zoom() < 1.0);  // opened fitted
        act("actActualSize");
        act("actFit");
        const QSize room = viewer.scrollArea()->viewport()->size();
        QVERIFY(viewer.zoom() < 1.0);
        QVERIFY(viewer.pbImage()->width() <= room.width());
        QVERIFY(viewer.pbImage()->height() <= room.height());
        QCOMPARE(viewer.scrollArea()->horizontalScrollBar()->maximum(), 0);
        act("actActualSize");
        QCOMPARE(viewer.zoom(), 1.0);
        QCOMPARE(viewer.pbImage()->size(), QSize(1602, 1002));

        // The status line tells the position under the pointer, with the render's summary.
        const int frame = viewer.pbImage()->frameWidth();
        QMouseEvent move(QEvent::MouseMove, QPointF(800 + frame, 500 + frame),
                         viewer.pbImage()->mapToGlobal(QPointF(800 + frame, 500 + frame)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(viewer.pbImage(), &move);
        QCOMPARE(viewer.statusLine()->text(),
                 QStringLiteral("x 800, y 500   lat/lon 37.0000, -95.7200   |   "
                                "placed 1 of 1 zip codes"));
    });
    seam.runModal(viewer);
    QVERIFY(seam.messages.empty());

    // A displayed point is a picture pixel at every zoom, halves to even.
    QCOMPARE(picturePixel(QPointF(100, 50), 1.0), QPoint(100, 50));
    QCOMPARE(picturePixel(QPointF(100, 50), 0.5), QPoint(200, 100));
    QCOMPARE(picturePixel(QPointF(10.25, 0.75), 0.5), QPoint(20, 2));  // 20.5 -> 20, 1.5 -> 2
    QCOMPARE(picturePixel(QPointF(300, 300), 2.0), QPoint(150, 150));
}

namespace {

// The picture pixel shown at a point of the viewer's view.
QPoint pixelAtView(const FrmViewImage& viewer, QPointF inView) {
    const QPointF inBox = viewer.pbImage()->mapFrom(viewer.scrollArea()->viewport(), inView);
    return picturePixel(inBox - QPointF(viewer.pbImage()->contentsRect().topLeft()),
                        viewer.scale());
}

void expectNear(QPoint actual, QPoint expected, int slack) {
    QVERIFY2((actual - expected).manhattanLength() <= slack,
             qPrintable(QStringLiteral("(%1, %2) is not near (%3, %4)")
                            .arg(actual.x())
                            .arg(actual.y())
                            .arg(expected.x())
                            .arg(expected.y())));
}

}  // namespace

void DialogsTest::viewerZoomsAboutTheCentreOrThePointer() {
    ProgramFolder folder;
    folder.addMap(QStringLiteral("map.png"), 1600, 1000);
    RecordingSeam seam;
    FrmViewImage viewer(seam);
    viewer.setImageFile(folder.images() + QStringLiteral("/Maps/map.png"));
    viewer.resize(500, 400);
    seam.modalHandlers.push_back([&](QDialog&) {
        QScrollBar* across = viewer.scrollArea()->horizontalScrollBar();
        QScrollBar* down = viewer.scrollArea()->verticalScrollBar();
        const QSize view = viewer.scrollArea()->viewport()->size();
        const QPointF centre(view.width() / 2.0, view.height() / 2.0);
        QVERIFY(viewer.zoom() < 1.0);  // opened fitted
        QVERIFY(!viewer.viewChosen());
        viewer.findChild<QAction*>(QStringLiteral("actActualSize"))->trigger();
        QVERIFY(viewer.viewChosen());
        QCOMPARE(viewer.zoom(), 1.0);

        // Somewhere off the origin, the buttons keep the centre of the view where it is.
        across->setValue(300);
        down->setValue(200);
        const QPoint looked = pixelAtView(viewer, centre);
        for (const char* name : {"actZoomIn", "actZoomIn", "actZoomOut"}) {
            viewer.findChild<QAction*>(QLatin1String(name))->trigger();
            expectNear(pixelAtView(viewer, centre), looked, 2);
        }
        QVERIFY(viewer.zoom() > 1.0);

        // Ctrl+wheel zooms about the pointer; the plain wheel does not zoom.
        const QPointF pointer(60, 50);
        const QPoint under = pixelAtView(viewer, pointer);
        const double before = viewer.zoom();
        const auto wheel = [&](Qt::KeyboardModifiers modifiers, int delta) {
            const QPointF inBox =
                viewer.pbImage()->mapFrom(viewer.scrollArea()->viewport(), pointer);
            QWheelEvent event(inBox, viewer.pbImage()->mapToGlobal(inBox), QPoint(),
                              QPoint(0, delta), Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
            QApplication::sendEvent(viewer.pbImage(), &event);
        };
        wheel(Qt::ControlModifier, 240);
        QCOMPARE(viewer.zoom(), before * 1.25 * 1.25);
        expectNear(pixelAtView(viewer, pointer), under, 2);
        wheel(Qt::ControlModifier, -120);
        QCOMPARE(viewer.zoom(), before * 1.25);
        expectNear(pixelAtView(viewer, pointer), under, 2);
        wheel(Qt::NoModifier, 120);
        QCOMPARE(viewer.zoom(), before * 1.25);
    });
    seam.runModal(viewer);
    QVERIFY(seam.messages.empty());
}

void DialogsTest::statusLineSummarisesThePlacement() {
    zembra::render::RenderResult result;
    result.requested = 5;
    result.placedAtArea = 2;
    result.placedAtTown = {"00601"};
    result.notFound = {"00000", "abc"};
    QCOMPARE(placedSummary(result),
             QStringLiteral("placed 3 of 5: 2 as written, 1 at their post-office town; "
                            "not found: 00000, abc"));
    result.placedAtTown.clear();
    result.placedAtArea = 3;
    QCOMPARE(placedSummary(result, 1),
             QStringLiteral("placed 3 of 5 zip codes; not found: 00000 and 1 more"));
    result.notFound.clear();
    result.placedAtArea = 5;
    QCOMPARE(placedSummary(result), QStringLiteral("placed 5 of 5 zip codes"));
}

void DialogsTest::deleteKeyAndPasteEditTheList() {
    RecordingSeam seam;
    ManualPage page(seam);
    page.SetListColumns();
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    for (const char* code : {"a", "b", "c"}) page.addRow(QLatin1String(code));
    page.lstData()->setFocus();
    page.lstData()->setCurrentItem(page.lstData()->topLevelItem(1));
    QTest::keyClick(page.lstData(), Qt::Key_Delete);
    QCOMPARE(rows(page.lstData()), (QStringList{"a", "c"}));

    // Ctrl+V adds each code of the clipboard, in order, after the rows there are.
    QGuiApplication::clipboard()->setText(QStringLiteral("08873\r\n08232, 99501\t10001  \n"));
    QTest::keyClick(page.lstData(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(rows(page.lstData()), (QStringList{"a", "c", "08873", "08232", "99501", "10001"}));
    // The list's context menu offers the same paste.
    auto* paste = page.lstData()->findChild<QAction*>(QStringLiteral("actPaste"));
    QVERIFY(paste != nullptr);
    QVERIFY(page.lstData()->actions().contains(paste));
    QGuiApplication::clipboard()->setText(QStringLiteral("1 2"));
    paste->trigger();
    QCOMPARE(page.lstData()->topLevelItemCount(), 8);
    QCOMPARE(page.pasteCodes(QStringLiteral(" ,\n")), 0);
    QVERIFY(seam.messages.empty());
}

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
