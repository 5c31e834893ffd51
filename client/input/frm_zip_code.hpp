// frmZipCode: the small modal dialog in which the operator types one zip code.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace zembra::client {

class UiSeam;

class FrmZipCode : public QDialog {
    Q_OBJECT
  public:
    explicit FrmZipCode(UiSeam& seam, QWidget* parent = nullptr);

    // True once OK was pressed with a non-empty text; false when the dialog opens.
    bool Confirmed() const { return confirmed_; }
    // The text typed, exactly as typed.
    QString ZipCode() const;

  private:
    void okClicked();

    UiSeam& seam_;
    bool confirmed_ = false;
    QLineEdit* txtZipCode_ = nullptr;
};

}  // namespace zembra::client
