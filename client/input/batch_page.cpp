#include "input/batch_page.hpp"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "dialogs/build_form.hpp"
#include "input/batch_reader.hpp"
#include "input/text_file.hpp"
#include "main/twips.hpp"
#include "main/ui_seam.hpp"

namespace zembra::client {

namespace {

// The records looked at to find a column of zip codes by its values.
constexpr std::size_t kSampledRecords = 20;

// A control of the page; the layout places it, no narrower than designed.
template <typename W>
W* place(QWidget* page, const char* name, QRect rect) {
    auto* widget = new W(page);  // owned by the page
    widget->setObjectName(QLatin1String(name));
    widget->setMinimumWidth(rect.width());
    return widget;
}

QLabel* label(QWidget* page, const char* name, const char* caption, QRect rect) {
    auto* widget = place<QLabel>(page, name, rect);
    widget->setText(QLatin1String(caption));
    return widget;
}

QPushButton* button(QWidget* page, const char* name, const char* caption, QRect rect) {
    auto* widget = place<QPushButton>(page, name, rect);
    widget->setText(QLatin1String(caption));
    return widget;
}

void showControl(QWidget* widget) {
    widget->setVisible(true);
    widget->setEnabled(true);
}

void hideControl(QWidget* widget) {
    widget->setVisible(false);
    widget->setEnabled(false);
}

void setBoldCaption(QLabel* label, const char* caption) {
    label->setText(QLatin1String(caption));
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
}

}  // namespace

BatchPage::BatchPage(UiSeam& seam, QWidget* parent) : QWidget(parent), seam_(seam) {
    setObjectName(QStringLiteral("BatchPage"));

    // The option buttons form the control array optDataSource; each object name carries
    // its index. They stand left to right as MS Access, CSV File, MS SQL Server, MS Excel.
    struct Option {
        const char* caption;
        int left;
    };
    constexpr std::array<Option, 4> kOptions{
        {{"MS Access", 120}, {"MS Excel", 6120}, {"MS SQL Server", 4080}, {"CSV File", 2040}}};
    for (int index = 0; index < 4; ++index) {
        const QString name = QStringLiteral("optDataSource_%1").arg(index);
        auto* option = place<QRadioButton>(this, name.toLatin1().constData(),
                                           pageTwipsRect(kOptions[index].left, 480, 1695, 255));
        option->setText(QLatin1String(kOptions[index].caption));
        ui_.optDataSource[index] = option;
        connect(option, &QRadioButton::clicked, this, [this, index] { sourceClicked(index); });
    }

    ui_.lblFileName = label(this, "lblFileName", "File Name", pageTwipsRect(240, 840, 6015, 255));
    ui_.txtAccessPath =
        place<QLineEdit>(this, "txtAccessPath", pageTwipsRect(240, 1080, 6015, 285));
    ui_.txtExcelPath = place<QLineEdit>(this, "txtExcelPath", pageTwipsRect(240, 1080, 6015, 285));
    ui_.txtCSVPath = place<QLineEdit>(this, "txtCSVPath", pageTwipsRect(240, 1080, 6015, 285));
    ui_.txtConnString =
        place<QLineEdit>(this, "txtConnString", pageTwipsRect(240, 1080, 5175, 285));
    ui_.cmdBrowseAccess =
        button(this, "cmdBrowseAccess", "&Browse...", pageTwipsRect(6360, 1080, 1455, 285));
    ui_.cmdBrowseExcel =
        button(this, "cmdBrowseExcel", "&Browse...", pageTwipsRect(6360, 1080, 1455, 285));
    ui_.cmdBrowseCSV =
        button(this, "cmdBrowseCSV", "&Browse...", pageTwipsRect(6360, 1080, 1455, 285));
    ui_.cmdBuild = button(this, "cmdBuild", "&Build Connection String...",
                          pageTwipsRect(5520, 1080, 2295, 285));
    ui_.lblTableName =
        label(this, "lblTableName", "Table Name", pageTwipsRect(240, 1560, 1455, 255));
    ui_.txtTableName = place<QLineEdit>(this, "txtTableName", pageTwipsRect(1800, 1560, 3015, 285));
    ui_.lblFieldName =
        label(this, "lblFieldName", "Field Name", pageTwipsRect(240, 1920, 1455, 255));
    ui_.txtFieldName = place<QLineEdit>(this, "txtFieldName", pageTwipsRect(1800, 1920, 3015, 285));
    ui_.cboFieldName = place<QComboBox>(this, "cboFieldName", pageTwipsRect(1800, 1920, 3015, 315));
    ui_.lblExcelNote = label(this, "lblExcelNote", "First Column Index is 0.",
                             pageTwipsRect(4920, 1920, 2775, 255));
    arrange();
    connectSourceButtons();
}

void BatchPage::arrange() {
    // The options in one row (MS Access, CSV File, MS SQL Server, MS Excel); below them
    // the path caption, the path box with its button (one pair shown at a time), then
    // the table and field rows. Hidden table controls keep their room, so the field
    // row stays where it was designed for every source.
    auto* options = new QHBoxLayout;
    for (const int index : {int{kAccess}, int{kCsv}, int{kSqlServer}, int{kExcel}}) {
        options->addWidget(ui_.optDataSource[index], 1);
    }
    auto* path = new QHBoxLayout;
    for (QWidget* box :
         {static_cast<QWidget*>(ui_.txtAccessPath), static_cast<QWidget*>(ui_.txtExcelPath),
          static_cast<QWidget*>(ui_.txtCSVPath), static_cast<QWidget*>(ui_.txtConnString)}) {
        path->addWidget(box, 1);
    }
    for (QWidget* button :
         {ui_.cmdBrowseAccess, ui_.cmdBrowseExcel, ui_.cmdBrowseCSV, ui_.cmdBuild}) {
        path->addWidget(button);
    }
    for (QWidget* kept :
         {static_cast<QWidget*>(ui_.lblTableName), static_cast<QWidget*>(ui_.txtTableName)}) {
        QSizePolicy policy = kept->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        kept->setSizePolicy(policy);
    }
    auto* fields = new QGridLayout;
    fields->addWidget(ui_.lblTableName, 0, 0);
    fields->addWidget(ui_.txtTableName, 0, 1);
    fields->addWidget(ui_.lblFieldName, 1, 0);
    auto* field = new QHBoxLayout;
    field->addWidget(ui_.txtFieldName);
    field->addWidget(ui_.cboFieldName);
    fields->addLayout(field, 1, 1);
    fields->addWidget(ui_.lblExcelNote, 1, 2);
    fields->setColumnStretch(1, 3);
    fields->setColumnStretch(2, 2);
    fields->setColumnMinimumWidth(0, twipsToPixels(1455));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(twipsToPixels(120), twipsToPixels(150), twipsToPixels(120),
                               twipsToPixels(60));
    column->addLayout(options);
    column->addSpacing(twipsToPixels(105));
    column->addWidget(ui_.lblFileName);
    column->addLayout(path);
    column->addSpacing(twipsToPixels(195));
    column->addLayout(fields);
    column->addStretch(1);
}

int BatchPage::selectedSource() const {
    for (int index = 0; index < 4; ++index) {
        if (ui_.optDataSource[index]->isChecked()) return index;
    }
    return -1;
}

void BatchPage::selectSource(int index) {
    if (index < 0 || index > 3) return;
    ui_.optDataSource[index]->setChecked(true);
    sourceClicked(index);
}

void BatchPage::SetSourceControls(int16_t index) {
    for (QWidget* widget :
         {static_cast<QWidget*>(ui_.txtAccessPath), static_cast<QWidget*>(ui_.cmdBrowseAccess),
          static_cast<QWidget*>(ui_.txtExcelPath), static_cast<QWidget*>(ui_.cmdBrowseExcel),
          static_cast<QWidget*>(ui_.txtConnString), static_cast<QWidget*>(ui_.cmdBuild),
          static_cast<QWidget*>(ui_.txtCSVPath), static_cast<QWidget*>(ui_.cmdBrowseCSV)}) {
        hideControl(widget);
    }
    ui_.cboFieldName->setVisible(false);
    ui_.cboFieldName->clear();
    for (QWidget* widget :
         {static_cast<QWidget*>(ui_.lblTableName), static_cast<QWidget*>(ui_.txtTableName),
          static_cast<QWidget*>(ui_.lblFieldName), static_cast<QWidget*>(ui_.txtFieldName)}) {
        showControl(widget);
    }
    setBoldCaption(ui_.lblFileName, "File Name");
    setBoldCaption(ui_.lblTableName, "Table Name");
    setBoldCaption(ui_.lblFieldName, "Field Name");
    hideControl(ui_.lblExcelNote);

    switch (index) {
        case kAccess:
            showControl(ui_.txtAccessPath);
            showControl(ui_.cmdBrowseAccess);
            break;
        case kExcel:
            showControl(ui_.txtExcelPath);
            showControl(ui_.cmdBrowseExcel);
            setBoldCaption(ui_.lblTableName, "Sheet Name");
            setBoldCaption(ui_.lblFieldName, "Column Index");
            showControl(ui_.lblExcelNote);
            break;
        case kSqlServer:
            showControl(ui_.txtConnString);
            showControl(ui_.cmdBuild);
            setBoldCaption(ui_.lblFileName, "Connection String");
            break;
        case kCsv:
            showControl(ui_.txtCSVPath);
            showControl(ui_.cmdBrowseCSV);
            hideControl(ui_.lblTableName);
            hideControl(ui_.txtTableName);
            hideControl(ui_.lblFieldName);
            hideControl(ui_.txtFieldName);
            break;
        default:
            break;
    }
}

void BatchPage::sourceClicked(int index) {
    guardedResponse(seam_, this, [&] {
        SetSourceControls(static_cast<int16_t>(index));
        ui_.txtTableName->clear();
        ui_.txtFieldName->clear();
        if (index == kCsv && !ui_.txtCSVPath->text().isEmpty()) {
            reloadCsvFields();
        }
    });
}

// ---------------------------------------------------------------------------------
// Field list, browse and build buttons, and the reader.

void BatchPage::connectSourceButtons() {
    connect(ui_.cmdBrowseAccess, &QPushButton::clicked, this,
            [this] { browseClicked(ui_.txtAccessPath, kAccessFilter, false); });
    connect(ui_.cmdBrowseExcel, &QPushButton::clicked, this,
            [this] { browseClicked(ui_.txtExcelPath, kExcelFilter, false); });
    connect(ui_.cmdBrowseCSV, &QPushButton::clicked, this,
            [this] { browseClicked(ui_.txtCSVPath, kCsvFilter, true); });
    connect(ui_.cmdBuild, &QPushButton::clicked, this, [this] { buildClicked(); });
    connect(ui_.txtCSVPath, &QLineEdit::editingFinished, this, [this] { csvPathCommitted(); });
}

void BatchPage::csvPathCommitted() {
    guardedResponse(seam_, this, [&] {
        const QString path = ui_.txtCSVPath->text();
        if (path == loadedCsvPath_ || selectedSource() != kCsv) return;
        ui_.cboFieldName->clear();
        if (path.isEmpty()) {
            loadedCsvPath_.clear();
            return;
        }
        reloadCsvFields();
    });
}

void BatchPage::notice(const QString& text) {
    seam_.showMessage(this, text, window()->windowTitle(), MessageIcon::Information);
}

bool BatchPage::LoadCSVFields() {
    std::optional<CsvHead> head;
    try {
        head = readCsvHead(ui_.txtCSVPath->text().toStdString(), kSampledRecords);
    } catch (const std::exception&) {
        return false;  // empty path, missing or unreadable file: the controls stay as they are
    }
    if (!head) {
        hideControl(ui_.cboFieldName);
        hideControl(ui_.lblFieldName);
        return false;
    }
    for (const std::string& field : head->header) {
        ui_.cboFieldName->addItem(QString::fromStdString(field));
    }
    if (ui_.cboFieldName->count() > 0) {
        ui_.cboFieldName->setCurrentIndex(zipLikeField(*head));
    }
    showControl(ui_.cboFieldName);
    showControl(ui_.lblFieldName);
    return true;
}

void BatchPage::reloadCsvFields() {
    loadedCsvPath_ = ui_.txtCSVPath->text();
    setHourglass();
    if (!LoadCSVFields()) {
        notice(QLatin1String(kNoCsvFieldsMessage));
    }
    resetPointer();
}

void BatchPage::browseClicked(QLineEdit* pathBox, const char* filter, bool csv) {
    guardedResponse(seam_, this, [&] {
        const std::optional<QString> chosen =
            browseForFile(seam_, this, pathBox->text(), QLatin1String(filter), true);
        if (!chosen) {
            return;
        }
        pathBox->setText(*chosen);
        if (csv) {
            ui_.cboFieldName->clear();
            reloadCsvFields();
        }
    });
}

void BatchPage::buildClicked() {
    guardedResponse(seam_, this, [&] {
        // One dialog per opening, destroyed on every path out.
        BuildForm form(seam_, window());
        form.setConnectionString(trimSpaces(ui_.txtConnString->text()));
        if (form.UpdateForm() > 0) {
            seam_.runModal(form);
            if (form.Response() == 1) {
                ui_.txtConnString->setText(form.ConnectionString());
            }
        }
    });
}

std::vector<std::string> BatchPage::ReadBatchData() {
    return zembra::client::ReadBatchData(
               batchSource(),
               [this](const std::string& message) { notice(QString::fromStdString(message)); })
        .items();
}

BatchSource BatchPage::batchSource() const {
    BatchSource source;
    source.access = ui_.optDataSource[kAccess]->isChecked();
    source.excel = ui_.optDataSource[kExcel]->isChecked();
    source.sqlServer = ui_.optDataSource[kSqlServer]->isChecked();
    source.accessPath = ui_.txtAccessPath->text().toStdString();
    source.excelPath = ui_.txtExcelPath->text().toStdString();
    source.csvPath = ui_.txtCSVPath->text().toStdString();
    source.connString = ui_.txtConnString->text().toStdString();
    source.tableName = ui_.txtTableName->text().toStdString();
    source.fieldName = ui_.txtFieldName->text().toStdString();
    source.csvFieldName = ui_.cboFieldName->currentText().toStdString();
    return source;
}

}  // namespace zembra::client
