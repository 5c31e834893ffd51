// ValidateData: every refusal with its message, style, title, focus and page; the
// accepted cases; and that it leaves every file alone.
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <functional>
#include <memory>

#include "input/batch_page.hpp"
#include "input/manual_page.hpp"
#include "main/frm_render.hpp"
#include "tests/support.hpp"

using namespace zembra::client;
using zembra::client::test::ProgramFolder;
using zembra::client::test::RecordingSeam;

namespace {

constexpr const char* kCaption = "Zembra, version 2.0";

struct Fixture {
    ProgramFolder folder;
    RecordingSeam seam;
    std::unique_ptr<FrmRender> window;

    Fixture() {
        ProgramFolder::fillStandard(folder);
        window = std::make_unique<FrmRender>(seam, folder.path());
        window->show();
        QApplication::setActiveWindow(window.get());
        if (!QTest::qWaitForWindowActive(window.get())) qWarning("window not active");
    }
    template <typename W>
    W* child(const char* name) const {
        return window->findChild<W*>(QLatin1String(name));
    }
    QLineEdit* txt(const char* name) const { return child<QLineEdit>(name); }
    const BatchPage::Controls& batch() const { return window->batchPage()->controls(); }
    void batchSource(int index) {
        child<QTabWidget>("tabMain")->setCurrentIndex(1);
        window->batchPage()->selectSource(index);
    }
};

using Setup = std::function<void(Fixture&)>;

}  // namespace

Q_DECLARE_METATYPE(Setup)

class ValidationTest : public QObject {
    Q_OBJECT
  private slots:
    void refusals_data();
    void refusals();
    void accepted_data();
    void accepted();
    void validationDeletesNothing();
    void outputNamingTheChosenPictureIsRefused();
};

// One refusal: the message, whether it is a notice (information icon, caption as
// title) rather than a warning, the control that gets the focus, the page shown.
static void refusal(const char* name, const char* message, bool notice, const char* focus, int page,
                    Setup setup) {
    QTest::newRow(name) << std::move(setup) << QString::fromLatin1(message) << notice
                        << QString::fromLatin1(focus) << page;
}

void ValidationTest::refusals_data() {
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("notice");
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("page");

    refusal("no map", "Map image was not specified.", false, "cbMap", 0,
            [](Fixture& f) { f.child<QComboBox>("cbMap")->setCurrentIndex(-1); });
    refusal("no overlay", "Overlay image was not specified.", false, "cbOverlay", 0,
            [](Fixture& f) { f.child<QComboBox>("cbOverlay")->setCurrentIndex(-1); });
    refusal("output of spaces", "Output file was not specified", false, "txtFile", 0,
            [](Fixture& f) { f.txt("txtFile")->setText("    "); });
    refusal("bare file name", "Output file directory does not exist.", false, "txtFile", 0,
            [](Fixture& f) { f.txt("txtFile")->setText("map.png"); });
    refusal("missing folder", "Output file directory does not exist.", false, "txtFile", 0,
            [](Fixture& f) { f.txt("txtFile")->setText(f.folder.path() + "/nowhere/map.png"); });
    refusal("jpeg extension", "Output file extension is not valid", false, "txtFile", 0,
            [](Fixture& f) { f.txt("txtFile")->setText(f.folder.images() + "/Output/map.jpeg"); });
    refusal("no extension", "Output file extension is not valid", false, "txtFile", 0,
            [](Fixture& f) { f.txt("txtFile")->setText(f.folder.images() + "/Output/map"); });
    refusal("empty list", "Please enter data to plot.", false, "lstData", 0,
            [](Fixture& f) { f.window->manualPage()->SetListColumns(); });

    refusal("access path", "Please specify file name.", true, "txtAccessPath", 1, [](Fixture& f) {
        f.batchSource(BatchPage::kAccess);
        f.batch().txtAccessPath->setText("  ");
    });
    refusal("access table", "Please enter Table Name.", true, "txtTableName", 1, [](Fixture& f) {
        f.batchSource(BatchPage::kAccess);
        f.batch().txtAccessPath->setText("/data/zips.mdb");
    });
    refusal("access field", "Please enter Field Name.", true, "txtFieldName", 1, [](Fixture& f) {
        f.batchSource(BatchPage::kAccess);
        f.batch().txtAccessPath->setText("/data/zips.mdb");
        f.batch().txtTableName->setText("zips");
    });
    refusal("excel path", "Please specify file name.", true, "txtExcelPath", 1,
            [](Fixture& f) { f.batchSource(BatchPage::kExcel); });
    refusal("excel sheet", "Please enter Sheet Name.", true, "txtTableName", 1, [](Fixture& f) {
        f.batchSource(BatchPage::kExcel);
        f.batch().txtExcelPath->setText("/data/zips.xls");
    });
    refusal("excel index", "Please enter Field Index.", true, "txtFieldName", 1, [](Fixture& f) {
        f.batchSource(BatchPage::kExcel);
        f.batch().txtExcelPath->setText("/data/zips.xls");
        f.batch().txtTableName->setText("Sheet1");
    });
    refusal("excel index as a word", "The Field Index must be numeric.", true, "txtFieldName", 1,
            [](Fixture& f) {
                f.batchSource(BatchPage::kExcel);
                f.batch().txtExcelPath->setText("/data/zips.xls");
                f.batch().txtTableName->setText("Sheet1");
                f.batch().txtFieldName->setText("two");
            });
    refusal("sql connection", "Please specify Connection String.", true, "txtConnString", 1,
            [](Fixture& f) { f.batchSource(BatchPage::kSqlServer); });
    refusal("sql table", "Please enter Table Name.", true, "txtTableName", 1, [](Fixture& f) {
        f.batchSource(BatchPage::kSqlServer);
        f.batch().txtConnString->setText("Driver={SQL Server}; Server=s;");
    });
    refusal("sql field", "Please enter Field Name.", true, "txtFieldName", 1, [](Fixture& f) {
        f.batchSource(BatchPage::kSqlServer);
        f.batch().txtConnString->setText("Driver={SQL Server}; Server=s;");
        f.batch().txtTableName->setText("zips");
    });
    refusal("csv path", "Please specify file name.", true, "txtCSVPath", 1,
            [](Fixture& f) { f.batchSource(BatchPage::kCsv); });
    refusal("csv field", "Please select a Field Name.", true, "cboFieldName", 1, [](Fixture& f) {
        f.batchSource(BatchPage::kCsv);
        f.batch().txtCSVPath->setText("/data/zips.csv");
        // As after loading a file whose header line is empty: a visible, empty list.
        f.batch().cboFieldName->setVisible(true);
        f.batch().cboFieldName->setEnabled(true);
    });
}

void ValidationTest::refusals() {
    QFETCH(Setup, setup);
    QFETCH(QString, message);
    QFETCH(bool, notice);
    QFETCH(QString, focus);
    QFETCH(int, page);

    Fixture f;
    setup(f);
    f.child<QComboBox>("cbMap")->setFocus();
    const QString before = f.txt("txtFile")->text();

    QVERIFY(!f.window->ValidateData());
    QCOMPARE(f.seam.messages.size(), size_t{1});
    QCOMPARE(f.seam.messages[0].text, message);
    QCOMPARE(f.seam.messages[0].icon, notice ? MessageIcon::Information : MessageIcon::Exclamation);
    QCOMPARE(f.seam.messages[0].title, QLatin1String(notice ? kCaption : kProgramTitle));
    QCOMPARE(f.child<QTabWidget>("tabMain")->currentIndex(), page);
    QVERIFY(QApplication::focusWidget() != nullptr);
    QCOMPARE(QApplication::focusWidget()->objectName(), focus);
    QCOMPARE(f.txt("txtFile")->text(), before);  // validation changes no text
}

void ValidationTest::accepted_data() {
    QTest::addColumn<Setup>("setup");
    QTest::newRow("start-up values") << Setup([](Fixture&) {});
    QTest::newRow("upper-case GIF, spaces around") << Setup([](Fixture& f) {
        f.txt("txtFile")->setText("  " + f.folder.images() + "/Output/map.GIF ");
    });
    QTest::newRow("excel index 2") << Setup([](Fixture& f) {
        f.batchSource(BatchPage::kExcel);
        f.batch().txtExcelPath->setText("/data/zips.xls");
        f.batch().txtTableName->setText("Sheet1");
        f.batch().txtFieldName->setText(" 2 ");
    });
    QTest::newRow("excel index 1.5") << Setup([](Fixture& f) {
        f.batchSource(BatchPage::kExcel);
        f.batch().txtExcelPath->setText("/data/zips.xls");
        f.batch().txtTableName->setText("Sheet1");
        f.batch().txtFieldName->setText("1.5");
    });
    QTest::newRow("batch page, empty manual list") << Setup([](Fixture& f) {
        f.window->manualPage()->SetListColumns();
        f.batchSource(BatchPage::kSqlServer);
        f.batch().txtConnString->setText("DSN=zips");
        f.batch().txtTableName->setText("zips");
        f.batch().txtFieldName->setText("zip");
    });
}

void ValidationTest::accepted() {
    QFETCH(Setup, setup);
    Fixture f;
    setup(f);
    QVERIFY(f.window->ValidateData());
    QVERIFY(f.seam.messages.empty());
}

void ValidationTest::validationDeletesNothing() {
    Fixture f;
    const QString output = f.folder.images() + QStringLiteral("/Output/Temp.jpg");
    f.folder.writeFile(QStringLiteral("Images/Output/Temp.jpg"), "older picture");
    QFile::setPermissions(output, QFileDevice::ReadOwner | QFileDevice::ReadGroup);

    f.window->manualPage()->SetListColumns();
    QVERIFY(!f.window->ValidateData());
    QVERIFY(QFile::exists(output));

    // Accepted, and the older picture is still there: only the save replaces it.
    f.window->manualPage()->addRow(QStringLiteral("08873"));
    QVERIFY(f.window->ValidateData());
    QVERIFY(QFile::exists(output));
}

void ValidationTest::outputNamingTheChosenPictureIsRefused() {
    Fixture f;
    const QString map = f.folder.images() + QStringLiteral("/Maps/usa.jpg");
    const QString overlay = f.folder.images() + QStringLiteral("/Overlays/e_pin.png");
    const QString link = f.folder.images() + QStringLiteral("/Output/link.jpg");
    QVERIFY(QFile::link(map, link));
    for (const QString& output : {map, overlay, link}) {
        f.seam.messages.clear();
        f.txt("txtFile")->setText(output);
        f.child<QComboBox>("cbMap")->setFocus();
        QVERIFY(!f.window->ValidateData());
        QCOMPARE(f.seam.messages.size(), size_t{1});
        QCOMPARE(f.seam.messages[0].text,
                 QStringLiteral("Output file cannot be the map or overlay picture."));
        QCOMPARE(f.seam.messages[0].icon, MessageIcon::Exclamation);
        QCOMPARE(f.seam.messages[0].title, QLatin1String(kProgramTitle));
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("txtFile"));
        QVERIFY(QFile::exists(map));
    }
    // Another map of the list is no conflict.
    f.txt("txtFile")->setText(f.folder.images() + QStringLiteral("/Maps/hawaii.jpg"));
    QVERIFY(f.window->ValidateData());
}

QTEST_MAIN(ValidationTest)
#include "validation_test.moc"
