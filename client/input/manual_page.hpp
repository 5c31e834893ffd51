// The "Manual Data Entry" page of the main window: the list of zip codes typed by hand.
#pragma once

#include <QWidget>
#include <string>
#include <vector>

class QPushButton;
class QTreeWidget;

namespace zembra::client {

class UiSeam;

class ManualPage : public QWidget {
    Q_OBJECT
  public:
    explicit ManualPage(UiSeam& seam, QWidget* parent = nullptr);

    QTreeWidget* lstData() const { return lstData_; }
    QPushButton* cmdAdd() const { return cmdAdd_; }
    QPushButton* cmdRemove() const { return cmdRemove_; }

    // Empties the list and gives it its single column "Zip Code", 200 pixels wide.
    void SetListColumns();
    // Appends one row holding `zipCode` exactly as given.
    void addRow(const QString& zipCode);
    // The rows' texts, first row first.
    std::vector<std::string> zipCodes() const;

    // Appends each code of `text` (codes separated by line breaks, commas, tabs or
    // blanks) as a row, in order: Ctrl+V on the list and its Paste item use the
    // clipboard's text. Returns the number of rows added.
    int pasteCodes(const QString& text);

  private:
    void addClicked();
    void removeClicked();
    void pasteClicked();

    UiSeam& seam_;
    QTreeWidget* lstData_ = nullptr;
    QPushButton* cmdAdd_ = nullptr;
    QPushButton* cmdRemove_ = nullptr;
};

}  // namespace zembra::client
