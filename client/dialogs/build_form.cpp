#include "dialogs/build_form.hpp"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>
#include <array>

#include "input/main_module.hpp"
#include "main/ui_seam.hpp"

namespace zembra::client {

namespace {

QLabel* boldLabel(const char* caption, QLineEdit* buddy, QWidget* parent) {
    auto* label = new QLabel(QLatin1String(caption), parent);  // owned by the dialog
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    label->setBuddy(buddy);
    return label;
}

}  // namespace

BuildForm::BuildForm(UiSeam& seam, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint),
      seam_(seam) {
    setObjectName(QStringLiteral("BuildForm"));
    setWindowTitle(QLatin1String(kBuildFormCaption));
    setModal(true);

    struct FieldSpec {
        QLineEdit** field;
        const char* name;
        const char* caption;
    };
    const std::array<FieldSpec, 4> specs{{{&txtServer_, "txtServer", "Server"},
                                          {&txtDatabase_, "txtDatabase", "Database"},
                                          {&txtUID_, "txtUID", "UID"},
                                          {&txtPWD_, "txtPWD", "PWD"}}};
    auto* grid = new QGridLayout;
    int row = 0;
    for (const auto& spec : specs) {
        auto* field = new QLineEdit(this);
        field->setObjectName(QLatin1String(spec.name));
        field->setMinimumWidth(220);
        field->installEventFilter(this);
        *spec.field = field;
        grid->addWidget(boldLabel(spec.caption, field, this), row, 0);
        grid->addWidget(field, row, 1);
        ++row;
    }

    cmdOK_ = new QPushButton(QStringLiteral("&OK"), this);
    cmdOK_->setObjectName(QStringLiteral("cmdOK"));
    cmdOK_->setDefault(true);
    cmdOK_->setAutoDefault(true);
    cmdCancel_ = new QPushButton(QStringLiteral("&Cancel"), this);
    cmdCancel_->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel_->setAutoDefault(false);
    connect(cmdOK_, &QPushButton::clicked, this, [this] { okClicked(); });
    connect(cmdCancel_, &QPushButton::clicked, this, [this] { cancelClicked(); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK_);
    buttons->addWidget(cmdCancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);  // a fixed dialog frame

    setTabOrder(txtServer_, txtDatabase_);
    setTabOrder(txtDatabase_, txtUID_);
    setTabOrder(txtUID_, txtPWD_);
    setTabOrder(txtPWD_, cmdOK_);
    setTabOrder(cmdOK_, cmdCancel_);
}

int16_t BuildForm::UpdateForm() {
    try {
        // Split as the platform does: an empty string has no elements at all.
        if (connectionString_.isEmpty()) {
            return 1;
        }
        const QStringList elements = connectionString_.split(QLatin1Char(';'));
        const std::array<QLineEdit*, 4> fields{txtServer_, txtDatabase_, txtUID_, txtPWD_};
        for (qsizetype i = 1; i <= 4 && i < elements.size(); ++i) {
            const QString element = i == 1 ? elements[i].toUpper() : elements[i];
            const std::string value = GetPairValue(element.toStdString(), "");
            fields[static_cast<std::size_t>(i - 1)]->setText(QString::fromStdString(value));
        }
        return 1;
    } catch (const std::exception&) {
        return -1;
    }
}

QString BuildForm::composeConnectionString(const QString& server, const QString& database,
                                           const QString& uid, const QString& pwd) {
    return QStringLiteral("Driver={SQL Server}; Server=") + server + QStringLiteral("; Database=") +
           database + QStringLiteral("; UID=") + uid + QStringLiteral("; PWD=") + pwd +
           QLatin1Char(';');
}

bool BuildForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        for (QLineEdit* field : {txtServer_, txtDatabase_, txtUID_, txtPWD_}) {
            if (watched == field) {
                guardedResponse(
                    seam_, this, [&] { normalizeField(field); }, QLatin1String(kBuildFormCaption));
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void BuildForm::normalizeField(QLineEdit* field) {
    QString text = trimSpaces(field->text());
    if (field == txtServer_) {
        text = text.toUpper();
    }
    if (text != field->text()) {
        field->setText(text);
    }
}

bool BuildForm::ValidateEntries() {
    struct Check {
        QLineEdit* field;
        const char* message;
    };
    const std::array<Check, 4> checks{{{txtServer_, "Please enter Server."},
                                       {txtDatabase_, "Please enter Database."},
                                       {txtUID_, "Please enter UID."},
                                       {txtPWD_, "Please enter PWD."}}};
    for (const auto& check : checks) {
        if (trimSpaces(check.field->text()).isEmpty()) {
            seam_.showMessage(this, QLatin1String(check.message), QLatin1String(kBuildFormCaption),
                              MessageIcon::Information);
            check.field->setFocus();
            return false;
        }
    }
    return true;
}

void BuildForm::okClicked() {
    guardedResponse(
        seam_, this,
        [&] {
            response_ = 2;
            connectionString_.clear();
            if (!ValidateEntries()) {
                return;
            }
            connectionString_ = composeConnectionString(txtServer_->text(), txtDatabase_->text(),
                                                        txtUID_->text(), txtPWD_->text());
            response_ = 1;
            hide();
        },
        QLatin1String(kBuildFormCaption));
}

void BuildForm::cancelClicked() {
    guardedResponse(
        seam_, this,
        [&] {
            response_ = 2;
            connectionString_.clear();
            hide();
        },
        QLatin1String(kBuildFormCaption));
}

void BuildForm::reject() {
    cancelClicked();
    QDialog::reject();
}

}  // namespace zembra::client
