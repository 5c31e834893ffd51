// The main window: start-up state, map and overlay lists, bounds per map, the output
// field, the page switch, the menus and the batch page's arrangement per source.
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <zembra/render/catalogue.hpp>

#include "input/batch_page.hpp"
#include "input/manual_page.hpp"
#include "main/frm_render.hpp"
#include "tests/support.hpp"

using namespace zembra::client;
using zembra::client::test::ProgramFolder;
using zembra::client::test::RecordingSeam;
using zembra::client::test::UserFolders;
using zembra::render::Bounds;

namespace {

QStringList items(const QComboBox* box) {
    QStringList list;
    for (int i = 0; i < box->count(); ++i) list << box->itemText(i);
    return list;
}

template <typename W>
W* child(const QWidget& parent, const char* name) {
    W* widget = parent.findChild<W*>(QLatin1String(name));
    if (widget == nullptr) qFatal("no control %s", name);
    return widget;
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void startUpState();
    void mapListFilterOrderAndBounds();
    void shortFoldersSelectTheirLastEntry();
    void missingFoldersLeaveListsEmpty();
    void unreadableMapIsReportedAndKeepsBounds();
    void outputPathLosesOuterSpacesOnFocusOut();
    void pageSwitchTogglesManualControls();
    void browseForOutputFile();
    void pipeFiltersBecomeQtFilters();
    void exitClosesTheWindow();
    void batchPageArrangesPerSource();
    void usersOwnPicturesFollowTheProgramsOwn();
    void proposedOutputMovesToPicturesWhenOutputIsNotWritable();
    void windowGrowsAndNeverShrinksBelowItsDesign();
};

void MainWindowTest::startUpState() {
    ProgramFolder folder;
    ProgramFolder::fillStandard(folder);
    RecordingSeam seam;
    FrmRender window(seam, folder.path());

    QCOMPARE(window.windowTitle(), QStringLiteral("Zembra, version 2.0"));
    QCOMPARE(window.objectName(), QStringLiteral("frmRender"));
    QVERIFY(seam.messages.empty());

    auto* cbMap = child<QComboBox>(window, "cbMap");
    QCOMPARE(items(cbMap), (QStringList{"alaska.jpg", "hawaii.jpg", "usa.jpg"}));
    QCOMPARE(cbMap->currentText(), QStringLiteral("usa.jpg"));
    QCOMPARE(window.bounds(), (Bounds{24.0, 50.0, -125.0, -66.44}));
    QVERIFY(!child<QLabel>(window, "imgMap")->pixmap().isNull());
    QCOMPARE(child<QComboBox>(window, "cbOverlay")->currentText(), QStringLiteral("e_pin.png"));

    auto* list = child<QTreeWidget>(window, "lstData");
    QCOMPARE(list->columnCount(), 1);
    QCOMPARE(list->headerItem()->text(0), QStringLiteral("Zip Code"));
    QCOMPARE(list->columnWidth(0), 200);
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("08873"));
    QCOMPARE(list->topLevelItem(1)->text(0), QStringLiteral("08232"));

    QCOMPARE(child<QLineEdit>(window, "txtFile")->text(),
             folder.path() + QStringLiteral("/Images/Output/Temp.jpg"));
    QCOMPARE(window.GetImagesDir(), folder.path() + QStringLiteral("/Images"));
    auto* tab = child<QTabWidget>(window, "tabMain");
    QCOMPARE(tab->currentIndex(), 0);
    QCOMPARE(tab->tabText(0), QStringLiteral("Manual Data Entry"));
    QCOMPARE(tab->tabText(1), QStringLiteral("Batch Data Entry"));
    QVERIFY(child<QRadioButton>(window, "optDataSource_0")->isChecked());
    QVERIFY(!child<QLineEdit>(window, "txtAccessPath")->isHidden());
    QVERIFY(child<QLineEdit>(window, "txtCSVPath")->isHidden());
}

void MainWindowTest::mapListFilterOrderAndBounds() {
    ProgramFolder folder;
    for (const char* name : {"world.jpg", "Hawaii_detail.JPG", "map.jpeg", "map.png", "b.jpg",
                             "USA_Alaska.jpg", "Cook.jpg"}) {
        folder.addMap(QLatin1String(name));
    }
    folder.writeFile(QStringLiteral("Images/Maps/folder.jpg/inside.jpg"), "not a map");
    RecordingSeam seam;
    FrmRender window(seam, folder.path());
    auto* cbMap = child<QComboBox>(window, "cbMap");

    // Name order compared without case; only files whose lower-cased extension is jpg.
    QCOMPARE(items(cbMap), (QStringList{"b.jpg", "Cook.jpg", "Hawaii_detail.JPG", "USA_Alaska.jpg",
                                        "world.jpg"}));
    QCOMPARE(cbMap->currentText(), QStringLiteral("Hawaii_detail.JPG"));
    QCOMPARE(window.bounds(), (Bounds{18.5, 22.5, -161.0, -154.0}));

    cbMap->setCurrentIndex(3);  // "usa" is tried before "alaska"
    QCOMPARE(window.bounds(), (Bounds{24.0, 50.0, -125.0, -66.44}));
    cbMap->setCurrentIndex(4);
    QCOMPARE(window.bounds(), Bounds{});
    window.UpdateBounds(QStringLiteral("my-ALASKA-map.jpg"));
    QCOMPARE(window.bounds(), (Bounds{51.0, 77.0, -180.0, -125.0}));
    QVERIFY(seam.messages.empty());
}

void MainWindowTest::shortFoldersSelectTheirLastEntry() {
    ProgramFolder folder;
    folder.addMap(QStringLiteral("alaska.jpg"));
    folder.addMap(QStringLiteral("hawaii.jpg"));
    folder.addOverlay(QStringLiteral("only.png"));
    RecordingSeam seam;
    FrmRender window(seam, folder.path());

    QVERIFY(seam.messages.empty());
    QCOMPARE(child<QComboBox>(window, "cbMap")->currentText(), QStringLiteral("hawaii.jpg"));
    QCOMPARE(window.bounds(), (Bounds{18.5, 22.5, -161.0, -154.0}));
    QCOMPARE(child<QComboBox>(window, "cbOverlay")->currentText(), QStringLiteral("only.png"));
    // The rest of start-up ran.
    QCOMPARE(child<QTreeWidget>(window, "lstData")->topLevelItemCount(), 2);
    QVERIFY(child<QLineEdit>(window, "txtFile")->text().endsWith("/Images/Output/Temp.jpg"));
    QVERIFY(child<QRadioButton>(window, "optDataSource_0")->isChecked());

    // Filling again appends; the selection follows the same rule.
    window.FillCombo(child<QComboBox>(window, "cbOverlay"), QStringLiteral("Overlays"),
                     QStringLiteral("png"), 0);
    QCOMPARE(items(child<QComboBox>(window, "cbOverlay")), (QStringList{"only.png", "only.png"}));
}

void MainWindowTest::missingFoldersLeaveListsEmpty() {
    ProgramFolder folder;  // Maps and Overlays exist but are empty
    RecordingSeam seam;
    FrmRender window(seam, folder.path());
    QCOMPARE(child<QComboBox>(window, "cbMap")->count(), 0);
    QCOMPARE(child<QComboBox>(window, "cbOverlay")->count(), 0);
    QCOMPARE(window.bounds(), Bounds{});
    QCOMPARE(child<QTreeWidget>(window, "lstData")->topLevelItemCount(), 2);

    RecordingSeam seam2;
    FrmRender nowhere(seam2, folder.path() + QStringLiteral("/no/such/folder"));
    QCOMPARE(child<QComboBox>(nowhere, "cbMap")->count(), 0);
    QVERIFY(seam2.messages.empty());
}

void MainWindowTest::unreadableMapIsReportedAndKeepsBounds() {
    ProgramFolder folder;
    folder.addMap(QStringLiteral("alaska.jpg"));
    folder.addMap(QStringLiteral("hawaii.jpg"));
    folder.writeFile(QStringLiteral("Images/Maps/usa.jpg"), "this is not a picture");
    RecordingSeam seam;
    FrmRender window(seam, folder.path());

    QCOMPARE(seam.messages.size(), size_t{1});
    QVERIFY(seam.messages[0].text.startsWith(QStringLiteral("[481]\r\nInvalid picture")));
    QCOMPARE(seam.messages[0].title, QStringLiteral("Zembra, version 2.0"));
    QCOMPARE(seam.messages[0].icon, MessageIcon::Information);
    QCOMPARE(window.bounds(), Bounds{});  // UpdateBounds was skipped
    // The load went on after the selection response had reported its error.
    QCOMPARE(child<QTreeWidget>(window, "lstData")->topLevelItemCount(), 2);

    auto* cbMap = child<QComboBox>(window, "cbMap");
    cbMap->setCurrentIndex(0);
    QCOMPARE(window.bounds(), (Bounds{51.0, 77.0, -180.0, -125.0}));
    cbMap->setCurrentIndex(2);
    QCOMPARE(seam.messages.size(), size_t{2});
    QCOMPARE(window.bounds(), (Bounds{51.0, 77.0, -180.0, -125.0}));
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QVERIFY(window.isEnabled());
}

void MainWindowTest::outputPathLosesOuterSpacesOnFocusOut() {
    ProgramFolder folder;
    RecordingSeam seam;
    FrmRender window(seam, folder.path());
    auto* txtFile = child<QLineEdit>(window, "txtFile");
    txtFile->setText(QStringLiteral("   /tmp/my maps/out.jpg  "));
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(txtFile, &out);
    QCOMPARE(txtFile->text(), QStringLiteral("/tmp/my maps/out.jpg"));

    // Only spaces are trimmed, not tabs.
    txtFile->setText(QStringLiteral("\t/tmp/x.jpg "));
    QApplication::sendEvent(txtFile, &out);
    QCOMPARE(txtFile->text(), QStringLiteral("\t/tmp/x.jpg"));
}

void MainWindowTest::pageSwitchTogglesManualControls() {
    ProgramFolder folder;
    RecordingSeam seam;
    FrmRender window(seam, folder.path());
    auto* tab = child<QTabWidget>(window, "tabMain");
    auto* list = child<QTreeWidget>(window, "lstData");
    QVERIFY(child<QPushButton>(window, "cmdAdd")->isEnabled());

    tab->setCurrentIndex(1);
    QVERIFY(!child<QPushButton>(window, "cmdAdd")->isEnabled());
    QVERIFY(!child<QPushButton>(window, "cmdRemove")->isEnabled());
    QVERIFY(!(list->focusPolicy() & Qt::TabFocus));

    tab->setCurrentIndex(0);
    QVERIFY(child<QPushButton>(window, "cmdAdd")->isEnabled());
    QVERIFY(child<QPushButton>(window, "cmdRemove")->isEnabled());
    QVERIFY(list->focusPolicy() & Qt::TabFocus);
}

void MainWindowTest::browseForOutputFile() {
    ProgramFolder folder;
    RecordingSeam seam;
    FrmRender window(seam, folder.path());
    auto* txtFile = child<QLineEdit>(window, "txtFile");
    const QString proposed = txtFile->text();

    seam.fileAnswers.push_back(QStringLiteral("/tmp/chosen.png"));
    QTest::mouseClick(child<QPushButton>(window, "cmdBrowse"), Qt::LeftButton);
    QCOMPARE(txtFile->text(), QStringLiteral("/tmp/chosen.png"));
    QCOMPARE(seam.fileRequests.size(), size_t{1});
    QCOMPARE(seam.fileRequests[0].title, QStringLiteral("Select Database"));
    QCOMPARE(seam.fileRequests[0].initialPath, proposed);
    QCOMPARE(seam.fileRequests[0].filter,
             QStringLiteral("BMP file (*.bmp);;GIF file (*.gif);;JPEG file (*.jpg);;"
                            "PNG file (*.png)"));
    QVERIFY(!seam.fileRequests[0].mustExist);

    // Cancelled: nothing changes. An empty box starts the dialog at the root.
    txtFile->clear();
    QTest::mouseClick(child<QPushButton>(window, "cmdBrowse"), Qt::LeftButton);
    QCOMPARE(txtFile->text(), QString());
    QCOMPARE(seam.fileRequests[1].initialPath, QStringLiteral("/"));
    QVERIFY(seam.messages.empty());
}

void MainWindowTest::pipeFiltersBecomeQtFilters() {
    QCOMPARE(qtFilterFromPipes(QStringLiteral("Microsoft Access Database (*.mdb)|*.mdb||")),
             QStringLiteral("Microsoft Access Database (*.mdb)"));
    QCOMPARE(qtFilterFromPipes(QStringLiteral("Tables|*.csv;*.txt|All|*.*||")),
             QStringLiteral("Tables (*.csv *.txt);;All (*.*)"));
    QCOMPARE(qtFilterFromPipes(QString()), QString());
}

void MainWindowTest::exitClosesTheWindow() {
    ProgramFolder folder;
    RecordingSeam seam;
    FrmRender window(seam, folder.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (const char* name :
         {"mnuFile", "mnuHelp", "mnuHelpContents", "mnuHelpSep0", "mnuHelpAbout"}) {
        QVERIFY2(window.findChild<QAction*>(QLatin1String(name)) != nullptr, name);
    }
    QVERIFY(window.findChild<QAction*>(QStringLiteral("mnuHelpSep0"))->isSeparator());
    child<QAction>(window, "mnuFileExit")->trigger();
    QVERIFY(!window.isVisible());
}

void MainWindowTest::batchPageArrangesPerSource() {
    ProgramFolder folder;
    RecordingSeam seam;
    FrmRender window(seam, folder.path());
    window.show();  // the layouts place the controls once the window is shown
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.findChild<QTabWidget*>(QStringLiteral("tabMain"))->setCurrentIndex(1);
    BatchPage& page = *window.batchPage();
    const BatchPage::Controls& ui = page.controls();
    const auto shown = [](const QWidget* w) { return !w->isHidden() && w->isEnabled(); };

    ui.txtAccessPath->setText(QStringLiteral("/data/a.mdb"));
    ui.txtExcelPath->setText(QStringLiteral("/data/b.xls"));
    ui.txtTableName->setText(QStringLiteral("zips"));
    ui.txtFieldName->setText(QStringLiteral("zip"));

    QTest::mouseClick(ui.optDataSource[BatchPage::kExcel], Qt::LeftButton);
    QCOMPARE(page.selectedSource(), int{BatchPage::kExcel});
    QVERIFY(shown(ui.txtExcelPath) && shown(ui.cmdBrowseExcel) && shown(ui.lblExcelNote));
    QVERIFY(!shown(ui.txtAccessPath) && !shown(ui.cmdBrowseAccess) && !shown(ui.cmdBuild));
    QCOMPARE(ui.lblTableName->text(), QStringLiteral("Sheet Name"));
    QCOMPARE(ui.lblFieldName->text(), QStringLiteral("Column Index"));
    QVERIFY(ui.lblTableName->font().bold());
    QVERIFY(ui.txtTableName->text().isEmpty() && ui.txtFieldName->text().isEmpty());

    QTest::mouseClick(ui.optDataSource[BatchPage::kSqlServer], Qt::LeftButton);
    QCOMPARE(ui.lblFileName->text(), QStringLiteral("Connection String"));
    QVERIFY(shown(ui.txtConnString) && shown(ui.cmdBuild) && !shown(ui.lblExcelNote));
    QCOMPARE(ui.lblTableName->text(), QStringLiteral("Table Name"));
    // The connection-string box is shorter, leaving room for the build button.
    QVERIFY(ui.txtConnString->geometry().right() < ui.cmdBuild->geometry().left());

    QTest::mouseClick(ui.optDataSource[BatchPage::kCsv], Qt::LeftButton);
    QVERIFY(shown(ui.txtCSVPath) && shown(ui.cmdBrowseCSV));
    QVERIFY(!shown(ui.lblTableName) && !shown(ui.txtTableName) && !shown(ui.lblFieldName) &&
            !shown(ui.txtFieldName));
    QVERIFY(ui.cboFieldName->isHidden());
    QVERIFY(seam.messages.empty());  // no CSV path: nothing read, nothing said

    QTest::mouseClick(ui.optDataSource[BatchPage::kAccess], Qt::LeftButton);
    QCOMPARE(ui.lblFileName->text(), QStringLiteral("File Name"));
    QVERIFY(shown(ui.txtAccessPath) && shown(ui.txtTableName) && shown(ui.txtFieldName));
    QCOMPARE(ui.txtAccessPath->text(), QStringLiteral("/data/a.mdb"));
    QCOMPARE(ui.txtExcelPath->text(), QStringLiteral("/data/b.xls"));

    // The option buttons stand left to right as MS Access, CSV File, MS SQL Server, MS Excel.
    QVERIFY(ui.optDataSource[0]->x() < ui.optDataSource[3]->x());
    QVERIFY(ui.optDataSource[3]->x() < ui.optDataSource[2]->x());
    QVERIFY(ui.optDataSource[2]->x() < ui.optDataSource[1]->x());

    page.SetSourceControls(7);  // outside 0..3: only the common arrangement
    QVERIFY(!shown(ui.txtAccessPath) && !shown(ui.txtCSVPath) && shown(ui.txtTableName));
}

void MainWindowTest::usersOwnPicturesFollowTheProgramsOwn() {
    UserFolders user;
    ProgramFolder folder;
    folder.addMap(QStringLiteral("usa.jpg"));
    folder.addMap(QStringLiteral("hawaii.jpg"));
    folder.addOverlay(QStringLiteral("dot.png"));
    const QString ownMaps = user.data() + QStringLiteral("/Zembra/Images/Maps");
    QVERIFY(QDir().mkpath(ownMaps));
    QVERIFY(QDir().mkpath(user.data() + QStringLiteral("/Zembra/Images/Overlays")));
    for (const char* name : {"Region.jpg", "county.jpg", "usa_northeast.jpg", "notes.txt"}) {
        QImage(40, 20, QImage::Format_RGB32).save(ownMaps + "/" + QLatin1String(name), "JPEG");
    }
    QImage(5, 5, QImage::Format_RGB32)
        .save(user.data() + QStringLiteral("/Zembra/Images/Overlays/mine.png"), "PNG");
    // The county map carries its own bounds in a world file.
    const zembra::render::Bounds county{39.5, 40.0, -75.0, -74.0};
    zembra::render::writeWorldFile((ownMaps + "/county.jgw").toStdString(), county, 40, 20);

    RecordingSeam seam;
    FrmRender window(seam, folder.path());
    auto* cbMap = child<QComboBox>(window, "cbMap");
    // The program's own first, then the user's, each folder in name order.
    QCOMPARE(items(cbMap), (QStringList{"hawaii.jpg", "usa.jpg", "county.jpg", "Region.jpg",
                                        "usa_northeast.jpg"}));
    QCOMPARE(cbMap->currentText(), QStringLiteral("county.jpg"));  // index 2 from the start
    QCOMPARE(window.mapFile(), ownMaps + QStringLiteral("/county.jpg"));
    QCOMPARE(window.bounds(), county);
    QVERIFY(window.boundsKnown());
    QCOMPARE(items(child<QComboBox>(window, "cbOverlay")), (QStringList{"dot.png", "mine.png"}));

    cbMap->setCurrentIndex(3);  // no key, no world file
    QVERIFY(!window.boundsKnown());
    QCOMPARE(window.bounds(), Bounds{});
    // A name holding "usa" does not decide when a world file says where the map lies.
    cbMap->setCurrentIndex(4);
    QCOMPARE(window.bounds(), *zembra::render::boundsForMapName("usa"));
    const zembra::render::Bounds northeast{40, 45, -80, -70};
    zembra::render::writeWorldFile((ownMaps + "/usa_northeast.jgw").toStdString(), northeast, 40,
                                   20);
    cbMap->setCurrentIndex(3);
    cbMap->setCurrentIndex(4);
    QCOMPARE(window.bounds(), northeast);
    cbMap->setCurrentIndex(0);
    QCOMPARE(window.mapFile(), folder.images() + QStringLiteral("/Maps/hawaii.jpg"));
    QVERIFY(seam.messages.empty());
}

void MainWindowTest::proposedOutputMovesToPicturesWhenOutputIsNotWritable() {
    UserFolders user;
    ProgramFolder folder;
    QVERIFY(QDir(folder.images()).rmdir(QStringLiteral("Output")));
    RecordingSeam seam;
    FrmRender window(seam, folder.path());
    const QString pictures = user.home() + QStringLiteral("/Pictures/Zembra");
    QCOMPARE(child<QLineEdit>(window, "txtFile")->text(), pictures + QStringLiteral("/Temp.jpg"));
    QVERIFY(QFileInfo(pictures).isDir());  // created, so the proposal validates
}

void MainWindowTest::windowGrowsAndNeverShrinksBelowItsDesign() {
    ProgramFolder folder;
    ProgramFolder::fillStandard(folder);
    RecordingSeam seam;
    FrmRender window(seam, folder.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QSize designed(554, 313);  // 8310 x 4695 twips
    window.resize(10, 10);
    QTest::qWait(10);
    QVERIFY(window.centralWidget()->width() >= designed.width());
    QVERIFY(window.centralWidget()->height() >= designed.height());

    auto* list = child<QTreeWidget>(window, "lstData");
    auto* render = child<QPushButton>(window, "cmdRender");
    const QSize listBefore = list->size();
    window.resize(window.width() + 300, window.height() + 200);
    QTest::qWait(10);
    // The list takes the room; the render button stays in the bottom right corner.
    QVERIFY(list->width() >= listBefore.width() + 250);
    QVERIFY(list->height() >= listBefore.height() + 150);
    const QRect area = window.centralWidget()->rect();
    const QRect button = render->geometry();
    QVERIFY(area.right() - button.right() < 20);
    QVERIFY(area.bottom() - button.bottom() < 20);
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
