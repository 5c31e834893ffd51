#include "input/manual_page.hpp"

#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <memory>

#include "input/frm_zip_code.hpp"
#include "main/twips.hpp"
#include "main/ui_seam.hpp"

namespace zembra::client {

ManualPage::ManualPage(UiSeam& seam, QWidget* parent) : QWidget(parent), seam_(seam) {
    setObjectName(QStringLiteral("ManualPage"));

    lstData_ = new QTreeWidget(this);
    lstData_->setObjectName(QStringLiteral("lstData"));
    lstData_->setGeometry(pageTwipsRect(120, 420, 7815, 1575));
    // A report-style list: flat rows, one selected row at a time.
    lstData_->setRootIsDecorated(false);
    lstData_->setItemsExpandable(false);
    lstData_->setUniformRowHeights(true);
    lstData_->setSelectionMode(QAbstractItemView::SingleSelection);
    lstData_->header()->setStretchLastSection(false);
    lstData_->header()->setSectionsMovable(false);

    cmdAdd_ = new QPushButton(QStringLiteral("Add"), this);
    cmdAdd_->setObjectName(QStringLiteral("cmdAdd"));
    cmdAdd_->setGeometry(pageTwipsRect(5400, 2100, 1215, 375));

    cmdRemove_ = new QPushButton(QStringLiteral("Remove"), this);
    cmdRemove_->setObjectName(QStringLiteral("cmdRemove"));
    cmdRemove_->setGeometry(pageTwipsRect(6720, 2100, 1215, 375));

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

}  // namespace zembra::client
