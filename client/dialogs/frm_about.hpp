// frmAbout: product name, the program's icon and its version.
#pragma once

#include <QDialog>
#include <QIcon>

namespace zembra::client {

class FrmAbout : public QDialog {
    Q_OBJECT
  public:
    // `icon` is the main window's icon, shown at the top left.
    explicit FrmAbout(const QIcon& icon, QWidget* parent = nullptr);

  private:
    void load(const QIcon& icon);
};

}  // namespace zembra::client
