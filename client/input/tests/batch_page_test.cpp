// The batch page's behaviour (CSV field list, browse and build buttons, reading through
// the page) and the connection-string builder, offscreen through the recording seam.
#include "input/batch_page.hpp"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include "dialogs/build_form.hpp"
#include "odbc_test_env.hpp"
#include "tests/support.hpp"

using namespace zembra::client;
using zembra::client::test::RecordingSeam;

namespace {

const QString kCaption = QStringLiteral("Zembra, version 2.0");

QStringList entries(const QComboBox* box) {
    QStringList texts;
    for (int i = 0; i < box->count(); ++i) texts << box->itemText(i);
    return texts;
}

// A page in a window with the main window's caption.
struct PageFixture {
    RecordingSeam seam;
    QWidget window;
    BatchPage* page;
    const BatchPage::Controls& ui;
    QTemporaryDir dir;

    PageFixture() : page(new BatchPage(seam, &window)), ui(page->controls()) {
        window.setWindowTitle(kCaption);
        window.resize(560, 200);
        window.show();
        page->selectSource(BatchPage::kAccess);
    }
    QString write(const QString& name, const QByteArray& bytes) {
        const QString path = dir.filePath(name);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return path;
    }
};

void fill(BuildForm& form, const char* server, const char* database, const char* uid,
          const char* pwd) {
    form.txtServer()->setText(QString::fromUtf8(server));
    form.txtDatabase()->setText(QString::fromUtf8(database));
    form.txtUID()->setText(QString::fromUtf8(uid));
    form.txtPWD()->setText(QString::fromUtf8(pwd));
}

void loseFocus(QWidget* field) {
    QFocusEvent event(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(field, &event);
}

}  // namespace

class BatchPageTest : public QObject {
    Q_OBJECT
  private slots:
    void builderComposesAndPrefillsByPosition();
    void builderRefusesEachEmptyFieldInTurn();
    void builderCancelAndEscapeLeaveNothing();
    void buildButtonFollowsTheCallingProtocol();
    void csvSourceClickLoadsTheHeaderLine();
    void csvFieldListFailuresShowTheMessage();
    void browseButtonsUseTheirFiltersAndReplaceTheList();
    void pageReadsTheChosenSource();
};

void BatchPageTest::builderComposesAndPrefillsByPosition() {
    RecordingSeam seam;
    BuildForm form(seam);
    QCOMPARE(form.windowTitle(), QStringLiteral("Build Connection String"));
    QCOMPARE(form.Response(), int16_t{0});
    QVERIFY(form.cmdOK()->isDefault());
    QCOMPARE(form.cmdOK()->text(), QStringLiteral("&OK"));
    QCOMPARE(form.cmdCancel()->text(), QStringLiteral("&Cancel"));
    QCOMPARE(form.txtPWD()->echoMode(), QLineEdit::Normal);

    form.show();
    fill(form, "  MyHost\\sql ", " zips ", " me ", " secret ");
    for (QLineEdit* field : {form.txtServer(), form.txtDatabase(), form.txtUID(), form.txtPWD()}) {
        loseFocus(field);
    }
    QCOMPARE(form.txtServer()->text(), QStringLiteral("MYHOST\\SQL"));
    QCOMPARE(form.txtPWD()->text(), QStringLiteral("secret"));
    QTest::mouseClick(form.cmdOK(), Qt::LeftButton);
    QCOMPARE(form.Response(), int16_t{1});
    QVERIFY(!form.isVisible());
    const QString composed = form.ConnectionString();
    QCOMPARE(composed,
             QStringLiteral(
                 "Driver={SQL Server}; Server=MYHOST\\SQL; Database=zips; UID=me; PWD=secret;"));
    QVERIFY(seam.messages.empty());

    // Round trip, and keys never looked at: the same positions fill the same fields.
    for (const QString& text :
         {composed, QStringLiteral("Provider=SQLOLEDB; Data Source=myhost\\sql; Initial "
                                   "Catalog=zips; User ID=me; Password=secret; Extra=1")}) {
        BuildForm again(seam);
        again.setConnectionString(text);
        QCOMPARE(again.UpdateForm(), int16_t{1});
        QCOMPARE(again.txtServer()->text(), QStringLiteral("MYHOST\\SQL"));
        QCOMPARE(again.txtDatabase()->text(), QStringLiteral("zips"));
        QCOMPARE(again.txtUID()->text(), QStringLiteral("me"));
        QCOMPARE(again.txtPWD()->text(), QStringLiteral("secret"));
    }

    BuildForm partial(seam);
    partial.setConnectionString(QStringLiteral("Driver={SQL Server}; Server=a=b"));
    QCOMPARE(partial.UpdateForm(), int16_t{1});
    QCOMPARE(partial.txtServer()->text(), QStringLiteral("A"));  // cut at the second "="
    QVERIFY(partial.txtDatabase()->text().isEmpty());
    QVERIFY(partial.txtPWD()->text().isEmpty());

    BuildForm empty(seam);
    QCOMPARE(empty.UpdateForm(), int16_t{1});
    QVERIFY(empty.txtServer()->text().isEmpty());
}

void BatchPageTest::builderRefusesEachEmptyFieldInTurn() {
    RecordingSeam seam;
    BuildForm form(seam);
    form.show();
    fill(form, "   ", "", "", "");
    struct Step {
        QLineEdit* fill;  // filled after the refusal, before the next OK
        const char* message;
    };
    const Step steps[] = {{form.txtServer(), "Please enter Server."},
                          {form.txtDatabase(), "Please enter Database."},
                          {form.txtUID(), "Please enter UID."},
                          {form.txtPWD(), "Please enter PWD."}};
    for (const Step& step : steps) {
        QTest::mouseClick(form.cmdOK(), Qt::LeftButton);
        QCOMPARE(seam.messages.back().text, QString::fromUtf8(step.message));
        QCOMPARE(seam.messages.back().title, QStringLiteral("Build Connection String"));
        QCOMPARE(seam.messages.back().icon, MessageIcon::Information);
        QCOMPARE(form.focusWidget(), static_cast<QWidget*>(step.fill));
        QCOMPARE(form.Response(), int16_t{2});
        QVERIFY(form.ConnectionString().isEmpty());
        QVERIFY(form.isVisible());
        step.fill->setText(QStringLiteral("x"));
    }
    QCOMPARE(seam.messages.size(), std::size_t{4});
    QTest::mouseClick(form.cmdOK(), Qt::LeftButton);
    QCOMPARE(form.Response(), int16_t{1});
    QCOMPARE(form.ConnectionString(),
             QStringLiteral("Driver={SQL Server}; Server=x; Database=x; UID=x; PWD=x;"));
}

void BatchPageTest::builderCancelAndEscapeLeaveNothing() {
    RecordingSeam seam;
    BuildForm form(seam);
    form.setConnectionString(
        QStringLiteral("Driver={SQL Server}; Server=a; Database=b; UID=c; PWD=d;"));
    QCOMPARE(form.UpdateForm(), int16_t{1});
    form.show();
    QTest::mouseClick(form.cmdCancel(), Qt::LeftButton);
    QCOMPARE(form.Response(), int16_t{2});
    QVERIFY(form.ConnectionString().isEmpty());
    QVERIFY(!form.isVisible());

    BuildForm escaped(seam);
    escaped.show();
    fill(escaped, "a", "b", "c", "d");
    QTest::keyClick(&escaped, Qt::Key_Escape);
    QCOMPARE(escaped.Response(), int16_t{2});
    QVERIFY(escaped.ConnectionString().isEmpty());
    QVERIFY(seam.messages.empty());
}

void BatchPageTest::buildButtonFollowsTheCallingProtocol() {
    PageFixture f;
    f.page->selectSource(BatchPage::kSqlServer);
    QVERIFY(f.ui.cmdBuild->isVisible());
    const QString typed =
        QStringLiteral("  Driver={SQL Server}; Server=old; Database=db; UID=u; PWD=p;  ");
    f.ui.txtConnString->setText(typed);

    // Cancelled: the box keeps its untrimmed text; the builder saw the trimmed one.
    QString seenServer;
    f.seam.modalHandlers.push_back([&](QDialog& dialog) {
        auto& form = static_cast<BuildForm&>(dialog);
        seenServer = form.txtServer()->text();
        QTest::mouseClick(form.cmdCancel(), Qt::LeftButton);
    });
    f.ui.cmdBuild->click();
    QCOMPARE(f.seam.modalShown, QStringList{QStringLiteral("BuildForm")});
    QCOMPARE(seenServer, QStringLiteral("OLD"));
    QCOMPARE(f.ui.txtConnString->text(), typed);

    // Confirmed: the box takes the composed string.
    f.seam.modalHandlers.push_back([](QDialog& dialog) {
        auto& form = static_cast<BuildForm&>(dialog);
        form.txtServer()->setText(QStringLiteral("NEW"));
        QTest::mouseClick(form.cmdOK(), Qt::LeftButton);
    });
    f.ui.cmdBuild->click();
    QCOMPARE(f.ui.txtConnString->text(),
             QStringLiteral("Driver={SQL Server}; Server=NEW; Database=db; UID=u; PWD=p;"));

    // Closed by its close box without a button: nothing changes.
    f.seam.modalHandlers.push_back([](QDialog&) {});
    f.ui.cmdBuild->click();
    QCOMPARE(f.ui.txtConnString->text(),
             QStringLiteral("Driver={SQL Server}; Server=NEW; Database=db; UID=u; PWD=p;"));
    QVERIFY(f.seam.messages.empty());
}

void BatchPageTest::csvSourceClickLoadsTheHeaderLine() {
    PageFixture f;
    // No path: arranged, nothing read, no message, the list stays hidden.
    f.ui.optDataSource[BatchPage::kCsv]->click();
    QVERIFY(f.ui.txtCSVPath->isVisible());
    QVERIFY(!f.ui.cboFieldName->isVisible());
    QVERIFY(f.seam.messages.empty());

    f.ui.txtCSVPath->setText(
        f.write(QStringLiteral("a.csv"), "Name, Zip ,\"City\",\r\n1,2,3,4\r\n"));
    f.ui.txtTableName->setText(QStringLiteral("stale"));
    f.ui.optDataSource[BatchPage::kCsv]->click();
    // Quotes around a name are the file's quoting, not part of the name.
    QCOMPARE(entries(f.ui.cboFieldName), (QStringList{"Name", " Zip ", "City", ""}));
    // The field named like a zip code is chosen, not the first.
    QCOMPARE(f.ui.cboFieldName->currentText(), QStringLiteral(" Zip "));
    QVERIFY(f.ui.cboFieldName->isVisible() && f.ui.cboFieldName->isEnabled());
    // Without such a name, the field whose first values are five-digit codes.
    f.ui.txtCSVPath->setText(
        f.write(QStringLiteral("codes.csv"), "Customer,Code,Revenue\nAda,08873,12\nBo,10001,7\n"));
    f.ui.optDataSource[BatchPage::kCsv]->click();
    QCOMPARE(f.ui.cboFieldName->currentText(), QStringLiteral("Code"));
    f.ui.txtCSVPath->setText(
        f.write(QStringLiteral("a.csv"), "Name, Zip ,\"City\",\r\n1,2,3,4\r\n"));
    QVERIFY(f.ui.lblFieldName->isVisible());
    QVERIFY(f.ui.txtTableName->text().isEmpty());
    QVERIFY(f.seam.messages.empty());

    // Another source empties the list; coming back reloads it.
    f.ui.optDataSource[BatchPage::kExcel]->click();
    QCOMPARE(f.ui.cboFieldName->count(), 0);
    QVERIFY(!f.ui.cboFieldName->isVisible());
    f.ui.optDataSource[BatchPage::kCsv]->click();
    QCOMPARE(f.ui.cboFieldName->count(), 4);

    // A typed path loads the list once it is committed (Enter here), as a browse does;
    // committing it again unchanged reads nothing more.
    f.ui.txtCSVPath->setText(f.write(QStringLiteral("typed.csv"), "Zip,City\n08873,x\n"));
    QTest::keyClick(f.ui.txtCSVPath, Qt::Key_Return);
    QCOMPARE(entries(f.ui.cboFieldName), (QStringList{"Zip", "City"}));
    QVERIFY(f.ui.cboFieldName->isVisible());
    QTest::keyClick(f.ui.txtCSVPath, Qt::Key_Return);
    QCOMPARE(f.ui.cboFieldName->count(), 2);
    QVERIFY(f.seam.messages.empty());

    // An empty first line gives an empty, visible, enabled list and no message.
    f.ui.txtCSVPath->setText(f.write(QStringLiteral("b.csv"), "\nZip\n"));
    f.ui.optDataSource[BatchPage::kCsv]->click();
    QCOMPARE(f.ui.cboFieldName->count(), 0);
    QVERIFY(f.ui.cboFieldName->isVisible() && f.ui.cboFieldName->isEnabled());
    QVERIFY(f.seam.messages.empty());
}

void BatchPageTest::csvFieldListFailuresShowTheMessage() {
    PageFixture f;
    f.ui.txtCSVPath->setText(f.write(QStringLiteral("empty.csv"), ""));
    f.ui.optDataSource[BatchPage::kCsv]->click();
    QVERIFY(!f.ui.cboFieldName->isVisible() && !f.ui.cboFieldName->isEnabled());
    QVERIFY(!f.ui.lblFieldName->isVisible() && !f.ui.lblFieldName->isEnabled());
    QCOMPARE(f.seam.messages.size(), std::size_t{1});
    QCOMPARE(f.seam.messages[0].text,
             QStringLiteral("The specified CSV file does not contain field information."));
    QCOMPARE(f.seam.messages[0].title, kCaption);
    QCOMPARE(f.seam.messages[0].icon, MessageIcon::Information);

    // A missing file: the message again, the path kept, the controls as they were.
    const QString missing = f.dir.filePath(QStringLiteral("missing.csv"));
    f.ui.txtCSVPath->setText(missing);
    f.ui.optDataSource[BatchPage::kCsv]->click();
    QCOMPARE(f.seam.messages.size(), std::size_t{2});
    QCOMPARE(f.ui.txtCSVPath->text(), missing);
    QVERIFY(!f.ui.cboFieldName->isVisible());
    QVERIFY(QApplication::overrideCursor() == nullptr);  // the hourglass is gone
    QVERIFY(!QFile::exists(missing));
}

void BatchPageTest::browseButtonsUseTheirFiltersAndReplaceTheList() {
    PageFixture f;
    const QString mdb = f.write(QStringLiteral("z.mdb"), "x");
    f.ui.txtAccessPath->setText(QStringLiteral("/old/path.mdb"));
    f.seam.fileAnswers.push_back(mdb);
    f.ui.cmdBrowseAccess->click();
    QCOMPARE(f.ui.txtAccessPath->text(), mdb);
    QCOMPARE(f.seam.fileRequests.back().title, QStringLiteral("Select Database"));
    QCOMPARE(f.seam.fileRequests.back().initialPath, QStringLiteral("/old/path.mdb"));
    QCOMPARE(f.seam.fileRequests.back().filter,
             qtFilterFromPipes(QStringLiteral("Microsoft Access Database (*.mdb)|*.mdb||")));
    QVERIFY(f.seam.fileRequests.back().mustExist);

    f.page->selectSource(BatchPage::kExcel);
    f.ui.cmdBrowseExcel->click();  // cancelled: nothing changes
    QVERIFY(f.ui.txtExcelPath->text().isEmpty());
    QCOMPARE(f.seam.fileRequests.back().filter,
             QStringLiteral("Microsoft Excel Spreadsheet (*.xls *.xlsx);;OpenDocument Spreadsheet "
                            "(*.ods)"));
    QVERIFY(f.seam.fileRequests.back().mustExist);

    f.page->selectSource(BatchPage::kCsv);
    f.seam.fileAnswers.push_back(f.write(QStringLiteral("one.csv"), "A,B\n"));
    f.ui.cmdBrowseCSV->click();
    QCOMPARE(f.seam.fileRequests.back().filter,
             qtFilterFromPipes(QStringLiteral("Comma Separated Value files (*.csv)|*.csv||")));
    QCOMPARE(entries(f.ui.cboFieldName), (QStringList{"A", "B"}));
    f.seam.fileAnswers.push_back(f.write(QStringLiteral("two.csv"), "Zip,City,State\n"));
    f.ui.cmdBrowseCSV->click();
    QCOMPARE(entries(f.ui.cboFieldName), (QStringList{"Zip", "City", "State"}));
    QCOMPARE(f.ui.cboFieldName->currentText(), QStringLiteral("Zip"));
    QVERIFY(f.seam.messages.empty());
    // Browsing to an empty file hides the list and tells the operator.
    f.seam.fileAnswers.push_back(f.write(QStringLiteral("three.csv"), ""));
    f.ui.cmdBrowseCSV->click();
    QVERIFY(!f.ui.cboFieldName->isVisible());
    QCOMPARE(f.seam.messages.size(), std::size_t{1});
}

void BatchPageTest::pageReadsTheChosenSource() {
    PageFixture f;
    f.page->selectSource(BatchPage::kCsv);
    f.seam.fileAnswers.push_back(
        f.write(QStringLiteral("z.csv"), "Id, Zip\n1,08873\n2,\n3, 08873 \n4,10001\n"));
    f.ui.cmdBrowseCSV->click();
    f.ui.cboFieldName->setCurrentIndex(1);
    QCOMPARE(f.page->ReadBatchData(), (std::vector<std::string>{"08873", "", "10001"}));

    // A field the file lacks (the list came from another file): the reader's message.
    f.ui.txtCSVPath->setText(f.write(QStringLiteral("other.csv"), "Code\n1\n"));
    QVERIFY(f.page->ReadBatchData().empty());
    QCOMPARE(f.seam.messages.back().text,
             QStringLiteral("Selected field could not be found in the file."));
    QCOMPARE(f.seam.messages.back().title, kCaption);

    // Access through the page's boxes, with the real driver.
    zembra::client::testing::PrivateOdbc odbc;
    odbc.addDriver("Microsoft Access Driver (*.mdb)",
                   QStringLiteral(ZEMBRA_ODBC_DRIVER_DIR "/libmdbodbc.so").toStdString());
    f.page->selectSource(BatchPage::kAccess);
    f.ui.txtAccessPath->setText(QStringLiteral(ZEMBRA_TEST_DATA "/zips.mdb"));
    f.ui.txtTableName->setText(QStringLiteral("Customers"));
    f.ui.txtFieldName->setText(QStringLiteral("Zip"));
    QCOMPARE(f.page->ReadBatchData(),
             (std::vector<std::string>{"08873", "08232", "10001", "99501", "96813"}));
    f.ui.txtFieldName->setText(QStringLiteral("Nope"));
    QVERIFY_THROWS_EXCEPTION(zembra::Error, f.page->ReadBatchData());
}

QTEST_MAIN(BatchPageTest)
#include "batch_page_test.moc"
