#include "main/ui_seam.hpp"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QFont>
#include <QGuiApplication>
#include <QMimeDatabase>
#include <QProcess>
#include <QShortcut>
#include <QStandardPaths>
#include <QStringList>
#include <QWidget>

namespace zembra::client {

UiSeam::~UiSeam() = default;

QMessageBox::StandardButton QtUiSeam::showMessage(QWidget* parent, const QString& text,
                                                  const QString& title, MessageIcon icon) {
    QMessageBox::Icon qtIcon = QMessageBox::NoIcon;
    switch (icon) {
        case MessageIcon::None:
            qtIcon = QMessageBox::NoIcon;
            break;
        case MessageIcon::Information:
            qtIcon = QMessageBox::Information;
            break;
        case MessageIcon::Exclamation:
            qtIcon = QMessageBox::Warning;
            break;
        case MessageIcon::Critical:
            qtIcon = QMessageBox::Critical;
            break;
        case MessageIcon::Question:
            qtIcon = QMessageBox::Question;
            break;
    }
    QMessageBox box(qtIcon, title, text, QMessageBox::Ok, parent);
    // Ctrl+C copies the message, so an operator can paste an error into a report.
    auto* copy = new QShortcut(QKeySequence::Copy, &box);  // owned by the box
    QObject::connect(copy, &QShortcut::activated, &box,
                     [text] { QGuiApplication::clipboard()->setText(text); });
    box.exec();
    return QMessageBox::Ok;
}

std::optional<QString> QtUiSeam::getOpenFileName(QWidget* parent, const QString& title,
                                                 const QString& initialPath,
                                                 const QString& qtFilter, bool mustExist) {
    QFileDialog dialog(parent, title, initialPath, qtFilter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().front();
}

int QtUiSeam::runModal(QDialog& dialog) { return dialog.exec(); }

bool QtUiSeam::openUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

std::optional<QString> QtUiSeam::viewerFor(const QString& path) {
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
    // A type the database does not know is no type a viewer could be registered for.
    if (!type.isValid() || type.isDefault()) return std::nullopt;
    return registeredViewer(QStringList{type.name()} + type.aliases());
}

std::optional<QString> registeredViewer(const QStringList& mimeTypes) {
    for (const QString& type : mimeTypes) {
        QProcess query;
        query.start(QStringLiteral("xdg-mime"),
                    {QStringLiteral("query"), QStringLiteral("default"), type});
        if (!query.waitForStarted(5000)) return std::nullopt;
        if (!query.waitForFinished(10000)) {
            query.kill();
            query.waitForFinished();
            return std::nullopt;
        }
        if (query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0) continue;
        // The answer may list several entries; the first one installed is the viewer.
        const QString answer = QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
        for (const QString& entry : answer.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString name = entry.trimmed();
            if (!QStandardPaths::locate(QStandardPaths::ApplicationsLocation, name).isEmpty()) {
                return name;
            }
        }
    }
    return std::nullopt;
}

QString qtFilterFromPipes(const QString& pipeFilter) {
    const QStringList parts = pipeFilter.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        const QString& patterns = parts[i + 1];
        if (description.isEmpty() && patterns.isEmpty()) break;  // the closing "||"
        QString spaced = patterns;
        spaced.replace(QLatin1Char(';'), QLatin1Char(' '));
        const QString written = QLatin1Char('(') + patterns + QLatin1Char(')');
        if (description.contains(written)) {
            // Qt separates the patterns in the parentheses by blanks: "(*.xls *.xlsx)".
            QString shown = description;
            shown.replace(written, QLatin1Char('(') + spaced + QLatin1Char(')'));
            entries << shown;
        } else {
            entries << description + QStringLiteral(" (") + spaced + QLatin1Char(')');
        }
    }
    return entries.join(QStringLiteral(";;"));
}

std::optional<QString> browseForFile(UiSeam& seam, QWidget* parent, const QString& initialPath,
                                     const QString& pipeFilter, bool mustExist) {
    try {
        const QString start = initialPath.isEmpty() ? QStringLiteral("/") : initialPath;
        return seam.getOpenFileName(parent, QStringLiteral("Select Database"), start,
                                    qtFilterFromPipes(pipeFilter), mustExist);
    } catch (const std::exception&) {
        // Any failure of the dialog counts as "nothing chosen".
        return std::nullopt;
    }
}

QString errorResponseText(const Error& error) {
    return QStringLiteral("[") + QString::number(error.number()) + QStringLiteral("]\r\n") +
           QString::fromStdString(error.description());
}

void showErrorResponse(UiSeam& seam, QWidget* window, const Error& error, const QString& title) {
    QString caption = title;
    if (caption.isEmpty() && window != nullptr) caption = window->window()->windowTitle();
    seam.showMessage(window, errorResponseText(error), caption, MessageIcon::Information);
    if (window != nullptr) window->window()->setEnabled(true);
    resetPointer();
}

void setHourglass() { QApplication::setOverrideCursor(Qt::WaitCursor); }

void resetPointer() {
    while (QApplication::overrideCursor() != nullptr) QApplication::restoreOverrideCursor();
}

QString trimSpaces(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] == QLatin1Char(' ')) ++first;
    while (last > first && text[last - 1] == QLatin1Char(' ')) --last;
    return text.mid(first, last - first);
}

namespace detail {
Error asError(const std::exception& failure) {
    return Error(err::kInternal, kProgramTitle, std::string("Internal error: ") + failure.what());
}
}  // namespace detail

}  // namespace zembra::client
