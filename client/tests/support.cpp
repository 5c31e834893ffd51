#include "tests/support.hpp"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QTest>
#include <QWidget>

namespace zembra::client::test {

QMessageBox::StandardButton RecordingSeam::showMessage(QWidget*, const QString& text,
                                                       const QString& title, MessageIcon icon) {
    messages.push_back({text, title, icon});
    return QMessageBox::Ok;
}

std::optional<QString> RecordingSeam::getOpenFileName(QWidget*, const QString& title,
                                                      const QString& initialPath,
                                                      const QString& qtFilter, bool mustExist) {
    fileRequests.push_back({title, initialPath, qtFilter, mustExist});
    if (fileAnswers.empty()) return std::nullopt;
    const QString answer = fileAnswers.front();
    fileAnswers.pop_front();
    if (answer.isEmpty()) return std::nullopt;
    return answer;
}

int RecordingSeam::runModal(QDialog& dialog) {
    modalShown << dialog.objectName();
    dialog.show();
    // What a modal loop does before the operator acts: the window's geometry and layout,
    // which the window system delivers as events, are in place.
    if (QTest::qWaitForWindowExposed(&dialog)) QCoreApplication::processEvents();
    if (!modalHandlers.empty()) {
        auto handler = std::move(modalHandlers.front());
        modalHandlers.pop_front();
        handler(dialog);
    }
    if (dialog.isVisible()) dialog.reject();
    return dialog.result();
}

bool RecordingSeam::openUrl(const QUrl& url) {
    openedUrls.push_back(url);
    return openUrlSucceeds;
}

std::optional<QString> RecordingSeam::viewerFor(const QString& path) {
    viewerQueries << path;
    return viewer;
}

ProgramFolder::ProgramFolder() {
    QDir root(dir_.path());
    root.mkpath(QStringLiteral("Images/Maps"));
    root.mkpath(QStringLiteral("Images/Overlays"));
    root.mkpath(QStringLiteral("Images/Output"));
}

void ProgramFolder::addMap(const QString& name, int width, int height) {
    QImage map(width, height, QImage::Format_RGB32);
    map.fill(QColor(200, 225, 245));
    QPainter painter(&map);
    painter.fillRect(width / 8, height / 8, width * 3 / 4, height * 3 / 4, QColor(150, 200, 120));
    painter.end();
    const QString path = images() + QStringLiteral("/Maps/") + name;
    QString format = QFileInfo(name).suffix().toLower();
    if (format == QStringLiteral("jpg")) format = QStringLiteral("jpeg");
    map.save(path, format.toLatin1().constData());
}

void ProgramFolder::addOverlay(const QString& name) {
    QImage marker(7, 7, QImage::Format_RGB32);
    marker.fill(Qt::white);
    QPainter painter(&marker);
    painter.fillRect(1, 1, 5, 5, Qt::red);
    painter.end();
    marker.save(images() + QStringLiteral("/Overlays/") + name, "PNG");
}

void ProgramFolder::writeFile(const QString& relative, const QByteArray& bytes) {
    const QString path = dir_.path() + QLatin1Char('/') + relative;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) file.write(bytes);
}

UserFolders::UserFolders() {
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "HOME"}) {
        saved_.append({name, qgetenv(name)});
    }
    qputenv("XDG_DATA_HOME", QFile::encodeName(data()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.path() + QStringLiteral("/config")));
    qputenv("HOME", QFile::encodeName(dir_.path()));
}

UserFolders::~UserFolders() {
    for (const auto& [name, value] : saved_) {
        if (value.isNull()) {
            qunsetenv(name);
        } else {
            qputenv(name, value);
        }
    }
}

void ProgramFolder::fillStandard(ProgramFolder& folder) {
    for (const char* map : {"alaska.jpg", "hawaii.jpg", "usa.jpg"}) {
        folder.addMap(QLatin1String(map));
    }
    for (const char* overlay : {"a_dot.png", "b_dot.png", "c_dot.png", "d_dot.png", "e_pin.png"}) {
        folder.addOverlay(QLatin1String(overlay));
    }
}

}  // namespace zembra::client::test
