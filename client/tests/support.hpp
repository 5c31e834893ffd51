// Shared pieces of the client tests: a seam that records what the windows show and
// answers from queues, and a temporary program folder with generated pictures.
#pragma once

#include <QDialog>
#include <QImage>
#include <QStringList>
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "main/ui_seam.hpp"

namespace zembra::client::test {

struct RecordedMessage {
    QString text;
    QString title;
    MessageIcon icon = MessageIcon::None;
};

struct RecordedFileRequest {
    QString title;
    QString initialPath;
    QString filter;
    bool mustExist = false;
};

class RecordingSeam final : public UiSeam {
  public:
    QMessageBox::StandardButton showMessage(QWidget* parent, const QString& text,
                                            const QString& title, MessageIcon icon) override;
    std::optional<QString> getOpenFileName(QWidget* parent, const QString& title,
                                           const QString& initialPath, const QString& qtFilter,
                                           bool mustExist) override;
    // Shows the dialog (not modally), hands it to the next queued handler, then closes it
    // as its close box would if the handler left it open.
    int runModal(QDialog& dialog) override;
    bool openUrl(const QUrl& url) override;
    std::optional<QString> viewerFor(const QString& path) override;

    std::vector<RecordedMessage> messages;
    std::vector<RecordedFileRequest> fileRequests;
    std::deque<QString> fileAnswers;  // an empty text or an empty queue: the operator cancels
    std::deque<std::function<void(QDialog&)>> modalHandlers;
    QStringList modalShown;  // object names of the dialogs shown modally
    std::vector<QUrl> openedUrls;
    bool openUrlSucceeds = true;  // what the desktop's launcher reports
    std::optional<QString> viewer = QStringLiteral("xchm.desktop");  // registered for any file
    QStringList viewerQueries;                                       // the paths asked about
};

// A program folder: <dir>/Images/{Maps,Overlays,Output}, filled by the caller.
class ProgramFolder {
  public:
    ProgramFolder();
    QString path() const { return dir_.path(); }
    QString images() const { return dir_.path() + QStringLiteral("/Images"); }

    // Writes a plain map picture into Images/Maps (format from the name's extension).
    void addMap(const QString& name, int width = 320, int height = 200);
    // Writes a small marker picture into Images/Overlays.
    void addOverlay(const QString& name);
    // Writes arbitrary bytes to a file below the folder, creating folders as needed.
    void writeFile(const QString& relative, const QByteArray& bytes);

    // The usual layout: maps alaska, hawaii, usa; five overlays.
    static void fillStandard(ProgramFolder& folder);

  private:
    QTemporaryDir dir_;
};

// Points the user's data, configuration and home folders (XDG_DATA_HOME,
// XDG_CONFIG_HOME, HOME) into a temporary folder for the life of the object.
class UserFolders {
  public:
    UserFolders();
    ~UserFolders();
    UserFolders(const UserFolders&) = delete;
    UserFolders& operator=(const UserFolders&) = delete;
    QString data() const { return dir_.path() + QStringLiteral("/data"); }
    QString home() const { return dir_.path(); }

  private:
    QTemporaryDir dir_;
    QList<std::pair<const char*, QByteArray>> saved_;
};

}  // namespace zembra::client::test
