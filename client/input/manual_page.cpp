#include "input/manual_page.hpp"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <memory>

#include "input/frm_zip_code.hpp"
#include "input/main_module.hpp"
#include "main/twips.hpp"
#include "main/ui_seam.hpp"

namespace zembra::client {

ManualPage::ManualPage(UiSeam& seam, QWidget* parent) : QWidget(parent), seam_(seam) {
    setObjectName(QStringLiteral("ManualPage"));

    lstData_ = new QTreeWidget(this);
    lstData_->setObjectName(QStringLiteral("lstData"));
    lstData_->setMinimumSize(twipsSize(7815, 1575));
    // A report-style list: flat rows, one selected row at a time.
    lstData_->setRootIsDecorated(false);
    lstData_->setItemsExpandable(false);
    lstData_->setUniformRowHeights(true);
    lstData_->setSelectionMode(QAbstractItemView::SingleSelection);
    lstData_->header()->setStretchLastSection(false);
    lstData_->header()->setSectionsMovable(false);

    cmdAdd_ = new QPushButton(QStringLiteral("Add"), this);
    cmdAdd_->setObjectName(QStringLiteral("cmdAdd"));
    cmdAdd_->setMinimumSize(twipsSize(1215, 375));

    cmdRemove_ = new QPushButton(QStringLiteral("Remove"), this);
    cmdRemove_->setObjectName(QStringLiteral("cmdRemove"));
    cmdRemove_->setMinimumSize(twipsSize(1215, 375));

    // The list fills the page; Add and Remove stand below it at the right.
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdAdd_);
    buttons->addWidget(cmdRemove_);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(twipsToPixels(120), twipsToPixels(90), twipsToPixels(120),
                               twipsToPixels(60));
    column->addWidget(lstData_, 1);
    column->addLayout(buttons);

    // Delete removes the selected row; Ctrl+V and the list's Paste item add the codes
    // of the clipboard's text.
    auto* remove = new QAction(QStringLiteral("&Remove"), lstData_);
    remove->setObjectName(QStringLiteral("actRemove"));
    remove->setShortcut(QKeySequence::Delete);
    remove->setShortcutContext(Qt::WidgetShortcut);
    auto* paste = new QAction(QStringLiteral("&Paste"), lstData_);
    paste->setObjectName(QStringLiteral("actPaste"));
    paste->setShortcut(QKeySequence::Paste);
    paste->setShortcutContext(Qt::WidgetShortcut);
    lstData_->addAction(paste);
    lstData_->addAction(remove);
    lstData_->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(remove, &QAction::triggered, this,
            [this] { guardedResponse(seam_, this, [this] { removeClicked(); }); });
    connect(paste, &QAction::triggered, this,
            [this] { guardedResponse(seam_, this, [this] { pasteClicked(); }); });

    connect(cmdAdd_, &QPushButton::clicked, this,
            [this] { guardedResponse(seam_, this, [this] { addClicked(); }); });
    connect(cmdRemove_, &QPushButton::clicked, this,
            [this] { guardedResponse(seam_, this, [this] { removeClicked(); }); });
}

void ManualPage::SetListColumns() {
    lstData_->clear();
    lstData_->setColumnCount(0);
    lstData_->setColumnCount(1);
    lstData_->setHeaderLabels({QStringLiteral("Zip Code")});
    lstData_->setColumnWidth(0, twipsToPixels(3000));
}

void ManualPage::addRow(const QString& zipCode) {
    new QTreeWidgetItem(lstData_, QStringList{zipCode});  // appended to, and owned by, the list
}

std::vector<std::string> ManualPage::zipCodes() const {
    std::vector<std::string> codes;
    const int count = lstData_->topLevelItemCount();
    codes.reserve(static_cast<size_t>(count));
    for (int row = 0; row < count; ++row) {
        codes.push_back(lstData_->topLevelItem(row)->text(0).toStdString());
    }
    return codes;
}

void ManualPage::addClicked() {
    FrmZipCode dialog(seam_);  // one instance per click, released on every path
    seam_.runModal(dialog);
    if (dialog.Confirmed()) addRow(dialog.ZipCode());
}

void ManualPage::removeClicked() {
    const QList<QTreeWidgetItem*> selected = lstData_->selectedItems();
    if (selected.isEmpty()) return;
    const int row = lstData_->indexOfTopLevelItem(selected.front());
    std::unique_ptr<QTreeWidgetItem> removed(lstData_->takeTopLevelItem(row));
}

int ManualPage::pasteCodes(const QString& text) {
    const std::vector<std::string> codes = splitPastedCodes(text.toStdString());
    // Added in one step: a large paste (thousands of codes) stays quick.
    QList<QTreeWidgetItem*> rows;
    rows.reserve(static_cast<qsizetype>(codes.size()));
    for (const std::string& code : codes) {
        rows.append(new QTreeWidgetItem(QStringList{QString::fromStdString(code)}));
    }
    lstData_->addTopLevelItems(rows);  // the list owns them from here
    return static_cast<int>(codes.size());
}

void ManualPage::pasteClicked() {
    const QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard != nullptr) pasteCodes(clipboard->text());
}

}  // namespace zembra::client
