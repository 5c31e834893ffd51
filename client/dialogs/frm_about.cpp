#include "dialogs/frm_about.hpp"

#include <QBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <exception>

#include "main/twips.hpp"

namespace zembra::client {

FrmAbout::FrmAbout(const QIcon& icon, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("frmAbout"));

    auto* close = new QPushButton(QStringLiteral("&Close"), this);
    close->setObjectName(QStringLiteral("cmdClose"));
    close->setMinimumSize(twipsSize(1215, 375));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto* imgIcon = new QLabel(this);
    imgIcon->setObjectName(QStringLiteral("imgIcon"));
    imgIcon->setFixedSize(twipsSize(480, 480));
    imgIcon->setScaledContents(true);

    auto* product = new QLabel(QStringLiteral("Zembra"), this);
    product->setObjectName(QStringLiteral("lblProduct"));
    product->setMinimumWidth(twipsToPixels(3375));
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

    // Icon at the top left, product and version beside it, Close at the bottom right;
    // the layout sizes the box so that it follows the system font.
    auto* text = new QVBoxLayout;
    text->addWidget(product);
    text->addWidget(version);
    auto* top = new QHBoxLayout;
    top->addWidget(imgIcon, 0, Qt::AlignTop);
    top->addSpacing(twipsToPixels(240));
    top->addLayout(text, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(close);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(twipsToPixels(240), twipsToPixels(240), twipsToPixels(240),
                               twipsToPixels(180));
    column->addLayout(top);
    column->addStretch(1);
    column->addLayout(bottom);
    column->setSizeConstraint(QLayout::SetFixedSize);  // a fixed dialog frame

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
