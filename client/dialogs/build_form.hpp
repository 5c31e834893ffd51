// BuildForm: the modal dialog that composes a SQL Server connection string from server,
// database, user and password.
//
// Calling protocol: create, set ConnectionString, call UpdateForm and show the dialog
// modally only when it returns more than 0; afterwards read Response (1 OK, 2 Cancel,
// 0 when no button was pressed) and, on 1, ConnectionString. The buttons only hide the
// dialog; the caller destroys it.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>

class QLabel;
class QLineEdit;
class QPushButton;

namespace zembra::client {

class UiSeam;

inline constexpr const char* kBuildFormCaption = "Build Connection String";

class BuildForm : public QDialog {
    Q_OBJECT
  public:
    explicit BuildForm(UiSeam& seam, QWidget* parent = nullptr);

    QString ConnectionString() const { return connectionString_; }
    void setConnectionString(const QString& value) { connectionString_ = value; }

    // 0 before any button, 1 after an accepted OK, 2 after Cancel or a refused OK.
    int16_t Response() const { return response_; }

    // Fills the four fields from ConnectionString by position: ";"-separated element 1
    // (upper-cased) to the server, 2 database, 3 UID, 4 password, each through
    // GetPairValue; element 0 and keys are ignored. Returns 1, or -1 after an error.
    int16_t UpdateForm();

    // "Driver={SQL Server}; Server=S; Database=D; UID=U; PWD=P;" with the texts unchanged.
    static QString composeConnectionString(const QString& server, const QString& database,
                                           const QString& uid, const QString& pwd);

    QLineEdit* txtServer() const { return txtServer_; }
    QLineEdit* txtDatabase() const { return txtDatabase_; }
    QLineEdit* txtUID() const { return txtUID_; }
    QLineEdit* txtPWD() const { return txtPWD_; }
    QPushButton* cmdOK() const { return cmdOK_; }
    QPushButton* cmdCancel() const { return cmdCancel_; }

  public slots:
    // Escape and the window's close box count as Cancel.
    void reject() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void okClicked();
    void cancelClicked();
    // Shows the message of the first empty field and moves the focus there; returns
    // false then.
    bool ValidateEntries();
    void normalizeField(QLineEdit* field);

    UiSeam& seam_;
    QString connectionString_;
    int16_t response_ = 0;
    QLineEdit* txtServer_ = nullptr;
    QLineEdit* txtDatabase_ = nullptr;
    QLineEdit* txtUID_ = nullptr;
    QLineEdit* txtPWD_ = nullptr;
    QPushButton* cmdOK_ = nullptr;
    QPushButton* cmdCancel_ = nullptr;
};

}  // namespace zembra::client
