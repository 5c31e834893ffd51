#include "input/frm_zip_code.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "main/twips.hpp"
#include "main/ui_seam.hpp"

namespace zembra::client {

FrmZipCode::FrmZipCode(UiSeam& seam, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      seam_(seam) {
    setObjectName(QStringLiteral("frmZipCode"));
    setWindowTitle(QStringLiteral("Enter Zip Code"));

    auto* label = new QLabel(QStringLiteral("Zip Code"), this);
    label->setObjectName(QStringLiteral("Label1"));
    label->setMinimumWidth(twipsToPixels(975));

    txtZipCode_ = new QLineEdit(this);
    txtZipCode_->setObjectName(QStringLiteral("txtZipCode"));
    txtZipCode_->setMinimumWidth(twipsToPixels(3015));

    auto* ok = new QPushButton(QStringLiteral("&OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setMinimumSize(twipsSize(1215, 375));
    ok->setDefault(true);
    ok->setAutoDefault(true);

    auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cancel->setObjectName(QStringLiteral("cmdCancel"));
    cancel->setMinimumSize(twipsSize(1215, 375));
    cancel->setAutoDefault(false);

    // The designed arrangement, sized by the layout so that it follows the system font.
    auto* row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(txtZipCode_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* column = new QVBoxLayout(this);
    column->addLayout(row);
    column->addLayout(buttons);
    column->setSizeConstraint(QLayout::SetFixedSize);  // a fixed dialog frame

    setTabOrder(txtZipCode_, ok);
    setTabOrder(ok, cancel);
    txtZipCode_->setFocus();

    connect(ok, &QPushButton::clicked, this,
            [this] { guardedResponse(seam_, this, [this] { okClicked(); }); });
    // Esc and the close box reject as Cancel does: the dialog hides, unconfirmed.
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QString FrmZipCode::ZipCode() const { return txtZipCode_->text(); }

void FrmZipCode::okClicked() {
    if (txtZipCode_->text().isEmpty()) {
        seam_.showMessage(this, QStringLiteral("Please enter the zip code"),
                          QLatin1String(kProgramTitle), MessageIcon::Exclamation);
        return;
    }
    confirmed_ = true;
    accept();
}

}  // namespace zembra::client
