#include "input/frm_zip_code.hpp"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "main/twips.hpp"
#include "main/ui_seam.hpp"

namespace zembra::client {

FrmZipCode::FrmZipCode(UiSeam& seam, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      seam_(seam) {
    setObjectName(QStringLiteral("frmZipCode"));
    setWindowTitle(QStringLiteral("Enter Zip Code"));
    setFixedSize(twipsSize(4350, 1095));

    auto* label = new QLabel(QStringLiteral("Zip Code"), this);
    label->setObjectName(QStringLiteral("Label1"));
    label->setGeometry(twipsRect(120, 120, 975, 255));

    txtZipCode_ = new QLineEdit(this);
    txtZipCode_->setObjectName(QStringLiteral("txtZipCode"));
    txtZipCode_->setGeometry(twipsRect(1200, 120, 3015, 285));

    auto* ok = new QPushButton(QStringLiteral("&OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setGeometry(twipsRect(1680, 600, 1215, 375));
    ok->setDefault(true);
    ok->setAutoDefault(true);

    auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cancel->setObjectName(QStringLiteral("cmdCancel"));
    cancel->setGeometry(twipsRect(3000, 600, 1215, 375));
    cancel->setAutoDefault(false);

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
