// The client's seam to the operator: message boxes, file dialogs, modal windows and
// the desktop's document launcher. Windows reach these only through a UiSeam, so that
// tests can answer them without blocking; the program uses QtUiSeam.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QUrl>
#include <optional>
#include <zembra/runtime.hpp>

class QDialog;
class QWidget;

namespace zembra::client {

// The program's own title, used by message boxes that carry no caption of their own.
inline constexpr const char* kProgramTitle = "ZembraClient";

enum class MessageIcon { None, Information, Exclamation, Critical, Question };

class UiSeam {
  public:
    virtual ~UiSeam();

    // Shows a message box with an OK button; returns the button that closed it.
    virtual QMessageBox::StandardButton showMessage(QWidget* parent, const QString& text,
                                                    const QString& title, MessageIcon icon) = 0;

    // Asks for a file to open. `qtFilter` is in Qt's form ("Desc (*.x);;Desc (*.y)").
    // With mustExist false any file name is accepted. Returns the full path, or nothing
    // when the operator cancelled.
    virtual std::optional<QString> getOpenFileName(QWidget* parent, const QString& title,
                                                   const QString& initialPath,
                                                   const QString& qtFilter, bool mustExist) = 0;

    // Shows `dialog` modally and returns once it is hidden; returns its result code.
    virtual int runModal(QDialog& dialog) = 0;

    // Opens a document with the desktop's viewer for it; returns whether that was started.
    virtual bool openUrl(const QUrl& url) = 0;

    // The desktop entry of the program registered to show files like `path` (by their
    // type), nothing when none is: the desktop's launcher would then hand the file to
    // whatever opens anything, a web browser say.
    virtual std::optional<QString> viewerFor(const QString& path) = 0;
};

// The real seam: QMessageBox, QFileDialog, QDialog::exec and QDesktopServices.
class QtUiSeam final : public UiSeam {
  public:
    QMessageBox::StandardButton showMessage(QWidget* parent, const QString& text,
                                            const QString& title, MessageIcon icon) override;
    std::optional<QString> getOpenFileName(QWidget* parent, const QString& title,
                                           const QString& initialPath, const QString& qtFilter,
                                           bool mustExist) override;
    int runModal(QDialog& dialog) override;
    bool openUrl(const QUrl& url) override;
    std::optional<QString> viewerFor(const QString& path) override;
};

// The desktop entry registered as the default program for any of `mimeTypes` (asked of
// xdg-mime, which reads the user's and the system's mimeapps.list and the desktop files'
// caches), when its desktop file is installed; nothing otherwise, also when xdg-mime
// cannot be run.
std::optional<QString> registeredViewer(const QStringList& mimeTypes);

// Converts a filter written as "desc|pattern|desc|pattern||" into Qt's form. A
// description that does not already show its pattern in brackets gets it appended;
// several patterns separated by ";" become a blank-separated list.
QString qtFilterFromPipes(const QString& pipeFilter);

// Asks for a file through `seam` with the title "Select Database", starting at
// `initialPath` ("/" when empty). Returns the chosen path, or nothing on cancel or error.
std::optional<QString> browseForFile(UiSeam& seam, QWidget* parent, const QString& initialPath,
                                     const QString& pipeFilter, bool mustExist);

// The text of the common error response: "[" number "]" CR LF description.
QString errorResponseText(const Error& error);

// The common error response: the message box (information icon, OK, `title`), then
// `window` enabled again and the screen's pointer back to the default.
void showErrorResponse(UiSeam& seam, QWidget* window, const Error& error, const QString& title);

// Runs an event response, ending any error it raises in the common error response
// titled with `window`'s caption (or `title` when given). Returns true when `body` ran
// to its end.
template <typename Body>
bool guardedResponse(UiSeam& seam, QWidget* window, Body&& body, const QString& title = {});

// The hourglass over the whole screen, and back to the default pointer.
void setHourglass();
void resetPointer();

// Removes leading and trailing space characters only (not tabs or line breaks).
QString trimSpaces(const QString& text);

namespace detail {
// Failures that are not zembra::Error values (allocation, the standard library) are
// reported as the classic "Internal error" with their message.
Error asError(const std::exception& failure);
}  // namespace detail

template <typename Body>
bool guardedResponse(UiSeam& seam, QWidget* window, Body&& body, const QString& title) {
    try {
        body();
        return true;
    } catch (const Error& error) {
        showErrorResponse(seam, window, error, title);
    } catch (const std::exception& failure) {
        showErrorResponse(seam, window, detail::asError(failure), title);
    }
    return false;
}

}  // namespace zembra::client
