#include "input/batch_page.hpp"

#include "dialogs/build_form.hpp"
#include "input/batch_reader.hpp"
#include "input/text_file.hpp"
#include "main/twips.hpp"
#include "main/ui_seam.hpp"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace zembra::client {

namespace {

template <typename W>
W* place(QWidget* page, const char* name, QRect rect) {
    auto* widget = new W(page);  // owned by the page
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(rect);
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
    constexpr std::array<Option, 4> kOptions{{
        {"MS Access", 120}, {"MS Excel", 6120}, {"MS SQL Server", 4080}, {"CSV File", 2040}}};
    for (int index = 0; index < 4; ++index) {
        const QString name = QStringLiteral("optDataSource_%1").arg(index);
        auto* option = place<QRadioButton>(this, name.toLatin1().constData(),
                                           pageTwipsRect(kOptions[index].left, 480, 1695, 255));
        option->setText(QLatin1String(kOptions[index].caption));
        ui_.optDataSource[index] = option;
        connect(option, &QRadioButton::clicked, this, [this, index] { sourceClicked(index); });
    }

    ui_.lblFileName = label(this, "lblFileName", "File Name", pageTwipsRect(240, 840, 6015, 255));
    ui_.txtAccessPath = place<QLineEdit>(this, "txtAccessPath", pageTwipsRect(240, 1080, 6015, 285));
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
    connectSourceButtons();
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
    for (QWidget* widget : {static_cast<QWidget*>(ui_.lblTableName),
                            static_cast<QWidget*>(ui_.txtTableName),
                            static_cast<QWidget*>(ui_.lblFieldName),
                            static_cast<QWidget*>(ui_.txtFieldName)}) {
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
    connect(ui_.cmdBrowseCSV, &QPushButton::clicked, this, [this] {
        browseClicked(ui_.txtCSVPath, kCsvFilter, true);
    });
    connect(ui_.cmdBuild, &QPushButton::clicked, this, [this] { buildClicked(); });
}

void BatchPage::notice(const QString& text) {
    seam_.showMessage(this, text, window()->windowTitle(), MessageIcon::Information);
}

bool BatchPage::LoadCSVFields() {
    std::optional<std::vector<std::string>> header;
    try {
        header = readCsvHeader(ui_.txtCSVPath->text().toStdString());
    } catch (const std::exception&) {
        return false;  // empty path, missing or unreadable file: the controls stay as they are
    }
    if (!header) {
        hideControl(ui_.cboFieldName);
        hideControl(ui_.lblFieldName);
        return false;
    }
    for (const std::string& field : *header) {
        ui_.cboFieldName->addItem(QString::fromStdString(field));
    }
    if (ui_.cboFieldName->count() > 0) {
        ui_.cboFieldName->setCurrentIndex(0);
    }
    showControl(ui_.cboFieldName);
    showControl(ui_.lblFieldName);
    return true;
}

void BatchPage::reloadCsvFields() {
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
    return zembra::client::ReadBatchData(source, [this](const std::string& message) {
               notice(QString::fromStdString(message));
           })
        .items();
}

}  // namespace zembra::client
