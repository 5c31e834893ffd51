#include "dialogs/frm_about.hpp"

#include <QLabel>
#include <QPushButton>
#include <exception>

#include "main/twips.hpp"

namespace zembra::client {

FrmAbout::FrmAbout(const QIcon& icon, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("frmAbout"));
    setFixedSize(twipsSize(4575, 1935));

    auto* close = new QPushButton(QStringLiteral("&Close"), this);
    close->setObjectName(QStringLiteral("cmdClose"));
    close->setGeometry(twipsRect(3120, 1380, 1215, 375));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto* imgIcon = new QLabel(this);
    imgIcon->setObjectName(QStringLiteral("imgIcon"));
    imgIcon->setGeometry(twipsRect(240, 240, 480, 480));
    imgIcon->setScaledContents(true);

    auto* product = new QLabel(QStringLiteral("Zembra"), this);
    product->setObjectName(QStringLiteral("lblProduct"));
    product->setGeometry(twipsRect(960, 240, 3375, 300));
    QFont bold = product->font();
    bold.setBold(true);
    if (bold.pixelSize() > 0) {
        bold.setPixelSize(bold.pixelSize() * 5 / 4);
    } else {
        bold.setPointSizeF(bold.pointSizeF() * 1.25);
    }
    product->setFont(bold);

    auto* version = new QLabel(this);
    version->setObjectName(QStringLiteral("lblVersion"));
    version->setGeometry(twipsRect(960, 660, 3375, 255));

    close->setFocus();  // first in the tab order
    load(icon);
}

void FrmAbout::load(const QIcon& icon) {
    // A failure while loading ends the load silently; the box shows what was set.
    try {
        setWindowTitle(QStringLiteral("About..."));
        findChild<QLabel*>(QStringLiteral("lblVersion"))
            ->setText(QStringLiteral("Version %1.%2")
                          .arg(ZEMBRA_VERSION_MAJOR)
                          .arg(ZEMBRA_VERSION_MINOR));
        findChild<QLabel*>(QStringLiteral("imgIcon"))->setPixmap(icon.pixmap(32, 32));
    } catch (const std::exception&) {
    }
}

}  // namespace zembra::client
