#include "main/frm_render.hpp"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "dialogs/frm_about.hpp"
#include "dialogs/frm_view_image.hpp"
#include "dialogs/help.hpp"
#include "input/batch_page.hpp"
#include "input/manual_page.hpp"
#include "main/twips.hpp"
#include "main/ui_seam.hpp"

// Resources of a static library must be registered by name, outside any namespace.
static void initClientResources() { Q_INIT_RESOURCE(client); }

namespace zembra::client {

namespace {

std::filesystem::path toPath(const QString& text) {
    return std::filesystem::path(QFile::encodeName(text).toStdString());
}

std::string toNative(const QString& text) { return QFile::encodeName(text).toStdString(); }

template <typename W>
W* place(QWidget* parent, const char* name, QRect rect) {
    auto* widget = new W(parent);  // owned by `parent`
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(rect);
    return widget;
}

// Deletes the file at `path` (a read-only file too, as the folder allows), raising the
// classic file errors.
void deleteExistingFile(const QString& text) {
    const std::filesystem::path path = toPath(text);
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(path, ec);
    if (ec || !(std::filesystem::is_regular_file(status) || std::filesystem::is_symlink(status))) {
        return;
    }
    if (std::filesystem::remove(path, ec) || !ec) return;
    if (ec == std::errc::permission_denied || ec == std::errc::operation_not_permitted ||
        ec == std::errc::read_only_file_system) {
        throw Error::standard(err::kPermissionDenied, kProgramTitle, toNative(text));
    }
    throw Error(75, kProgramTitle, "Path/File access error: " + toNative(text));
}

}  // namespace

FrmRender::FrmRender(UiSeam& seam, const QString& appPath, QWidget* parent)
    : QMainWindow(parent), seam_(seam) {
    initClientResources();
    setObjectName(QStringLiteral("frmRender"));
    setWindowTitle(QStringLiteral("Zembra"));
    setWindowIcon(QIcon(QStringLiteral(":/zembra/zembra.png")));
    buildControls();
    buildMenus();

    // Initialisation: the program folder and zero bounds.
    appPath_ = appPath;
    bounds_ = {};
    load();
}

FrmRender::~FrmRender() = default;

void FrmRender::buildControls() {
    auto* client = new QWidget(this);  // the client area, 8310 x 4695 twips
    client->setObjectName(QStringLiteral("clientArea"));
    client->setFixedSize(twipsSize(8310, 4695));
    setCentralWidget(client);

    auto* label1 = place<QLabel>(client, "Label1", twipsRect(120, 120, 1215, 255));
    label1->setText(QStringLiteral("Map"));
    cbMap_ = place<QComboBox>(client, "cbMap", twipsRect(1440, 120, 2655, 315));
    auto* label2 = place<QLabel>(client, "Label2", twipsRect(120, 480, 1215, 255));
    label2->setText(QStringLiteral("Overlay"));
    cbOverlay_ = place<QComboBox>(client, "cbOverlay", twipsRect(1440, 480, 2655, 315));
    auto* label3 = place<QLabel>(client, "Label3", twipsRect(120, 960, 1215, 255));
    label3->setText(QStringLiteral("Result File"));
    txtFile_ = place<QLineEdit>(client, "txtFile", twipsRect(1440, 960, 3375, 285));
    txtFile_->setText(QStringLiteral("c:\\temp\\test.gif"));
    cmdBrowse_ = place<QPushButton>(client, "cmdBrowse", twipsRect(4920, 960, 1212, 285));
    cmdBrowse_->setText(QStringLiteral("Browse..."));
    imgMap_ = place<QLabel>(client, "imgMap", twipsRect(6240, 120, 1935, 1095));
    imgMap_->setScaledContents(true);  // the preview is stretched to the box

    tabMain_ = place<QTabWidget>(client, "tabMain", twipsRect(120, 1440, 8055, 2655));
    manualPage_ = new ManualPage(seam_, tabMain_);
    batchPage_ = new BatchPage(seam_, tabMain_);
    tabMain_->addTab(manualPage_, QStringLiteral("Manual Data Entry"));
    tabMain_->addTab(batchPage_, QStringLiteral("Batch Data Entry"));

    cmdRender_ = place<QPushButton>(client, "cmdRender", twipsRect(6600, 4200, 1575, 375));
    cmdRender_->setText(QStringLiteral("Render Image"));

    setTabOrder(cbMap_, cbOverlay_);
    setTabOrder(cbOverlay_, txtFile_);
    setTabOrder(txtFile_, cmdBrowse_);
    setTabOrder(cmdBrowse_, tabMain_);
    setTabOrder(tabMain_, cmdRender_);

    connect(cbMap_, &QComboBox::currentIndexChanged, this,
            [this] { guardedResponse(seam_, this, [this] { mapSelected(); }); });
    connect(cmdBrowse_, &QPushButton::clicked, this,
            [this] { guardedResponse(seam_, this, [this] { browseClicked(); }); });
    connect(tabMain_, &QTabWidget::currentChanged, this, [this](int page) {
        guardedResponse(seam_, this, [this, page] { pageChanged(page); });
    });
    connect(cmdRender_, &QPushButton::clicked, this, &FrmRender::renderClicked);
    txtFile_->installEventFilter(this);
}

void FrmRender::buildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    file->menuAction()->setObjectName(QStringLiteral("mnuFile"));
    QAction* exit = file->addAction(QStringLiteral("E&xit"));
    exit->setObjectName(QStringLiteral("mnuFileExit"));
    // Exit has no error handling of its own: it only closes the window.
    connect(exit, &QAction::triggered, this, &QWidget::close);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    help->menuAction()->setObjectName(QStringLiteral("mnuHelp"));
    QAction* contents = help->addAction(QStringLiteral("&Contents"));
    contents->setObjectName(QStringLiteral("mnuHelpContents"));
    QAction* separator = help->addSeparator();
    separator->setObjectName(QStringLiteral("mnuHelpSep0"));
    QAction* about = help->addAction(QStringLiteral("&About..."));
    about->setObjectName(QStringLiteral("mnuHelpAbout"));
    connect(contents, &QAction::triggered, this,
            [this] { guardedResponse(seam_, this, [this] { helpContents(); }); });
    connect(about, &QAction::triggered, this,
            [this] { guardedResponse(seam_, this, [this] { helpAbout(); }); });
}

void FrmRender::load() {
    guardedResponse(seam_, this, [this] {
        setWindowTitle(QStringLiteral("Zembra, version %1.%2")
                           .arg(ZEMBRA_VERSION_MAJOR)
                           .arg(ZEMBRA_VERSION_MINOR));
        FillCombo(cbMap_, QStringLiteral("Maps"), QStringLiteral("jpg"), 2);
        FillCombo(cbOverlay_, QStringLiteral("Overlays"), QStringLiteral("png"), 4);
        manualPage_->SetListColumns();
        manualPage_->addRow(QStringLiteral("08873"));
        manualPage_->addRow(QStringLiteral("08232"));
        txtFile_->setText(GetImagesDir() + QStringLiteral("/Output/Temp.jpg"));
        tabMain_->setTabEnabled(1, true);
        tabMain_->setTabEnabled(0, true);
        tabMain_->setCurrentIndex(0);  // runs the page-switch response if the page changes
        batchPage_->selectSource(BatchPage::kAccess);
    });
}

QString FrmRender::GetImagesDir() const { return appPath_ + QStringLiteral("/Images"); }

void FrmRender::SetBounds(double dMinLat, double dMaxLat, double dMinLon, double dMaxLon) {
    bounds_ = {dMinLat, dMaxLat, dMinLon, dMaxLon};
}

void FrmRender::UpdateBounds(const QString& sType) {
    const Bounds chosen = boundsForMapName(sType.toStdString());
    SetBounds(chosen.minLat, chosen.maxLat, chosen.minLon, chosen.maxLon);
}

void FrmRender::FillCombo(QComboBox* cb, const QString& sSubDir, const QString& sExtension,
                          int16_t nSelIndex) {
    const QDir folder(GetImagesDir() + QLatin1Char('/') + sSubDir);
    if (!folder.exists()) return;

    // A folder lists in name order compared case-insensitively, as the file system the
    // program was designed for lists it; ties fall back to an exact comparison.
    QStringList names = folder.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::NoSort);
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int folded = QString::compare(a, b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });

    const std::string wanted = sExtension.toStdString();
    {
        // Adding to an empty combo box selects its first entry by itself; the selection
        // response must run once, for the entry chosen below, so changes are held back.
        const int previous = cb->currentIndex();
        const QSignalBlocker blocker(cb);
        for (const QString& name : names) {
            if (lowerAscii(extensionName(name.toStdString())) == wanted) cb->addItem(name);
        }
        cb->setCurrentIndex(previous);
    }
    if (cb->count() == 0) return;
    // A folder shorter than the default index selects its last entry, so start-up
    // completes with what there is.
    cb->setCurrentIndex(std::min<int>(nSelIndex, cb->count() - 1));
}

void FrmRender::mapSelected() {
    if (cbMap_->currentIndex() < 0) {  // the list was emptied: nothing to preview
        imgMap_->clear();
        return;
    }
    const QString name = cbMap_->currentText();
    const QString file = GetImagesDir() + QStringLiteral("/Maps/") + name;
    if (!QFile::exists(file)) {
        throw Error::standard(err::kFileNotFound, kProgramTitle, toNative(file));
    }
    QPixmap picture;
    if (!picture.load(file)) {
        throw Error(481, kProgramTitle, "Invalid picture: " + toNative(file));
    }
    imgMap_->setPixmap(picture);
    UpdateBounds(name);
}

void FrmRender::browseClicked() {
    const QString filter = QStringLiteral(
        "BMP file (*.bmp)|*.bmp|GIF file (*.gif)|*.gif|JPEG file (*.jpg)|*.jpg|"
        "PNG file (*.png)|*.png||");
    if (auto chosen = browseForFile(seam_, this, txtFile_->text(), filter, false)) {
        txtFile_->setText(*chosen);
    }
}

void FrmRender::pageChanged(int page) {
    const bool manual = page == 0;
    if (page != 0 && page != 1) return;
    manualPage_->lstData()->setFocusPolicy(manual ? Qt::StrongFocus : Qt::ClickFocus);
    manualPage_->cmdAdd()->setEnabled(manual);
    manualPage_->cmdRemove()->setEnabled(manual);
}

bool FrmRender::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtFile_ && event->type() == QEvent::FocusOut) {
        guardedResponse(seam_, this, [this] { txtFile_->setText(trimSpaces(txtFile_->text())); });
    }
    return QMainWindow::eventFilter(watched, event);
}

bool FrmRender::refuse(const char* message, QWidget* focus, bool notice) {
    if (notice) {
        seam_.showMessage(this, QLatin1String(message), windowTitle(), MessageIcon::Information);
    } else {
        seam_.showMessage(this, QLatin1String(message), QLatin1String(kProgramTitle),
                          MessageIcon::Exclamation);
    }
    focus->setFocus(Qt::OtherFocusReason);
    return false;
}

bool FrmRender::ValidateData() {
    if (cbMap_->currentText().isEmpty()) return refuse("Map image was not specified.", cbMap_);
    if (cbOverlay_->currentText().isEmpty()) {
        return refuse("Overlay image was not specified.", cbOverlay_);
    }
    const QString output = trimSpaces(txtFile_->text());
    if (output.isEmpty()) return refuse("Output file was not specified", txtFile_);
    const std::string folder = parentFolderName(toNative(output));
    std::error_code ec;
    if (folder.empty() || !std::filesystem::is_directory(folder, ec)) {
        return refuse("Output file directory does not exist.", txtFile_);
    }
    const std::string extension = lowerAscii(extensionName(toNative(output)));
    if (extension != "jpg" && extension != "gif" && extension != "bmp" && extension != "png") {
        return refuse("Output file extension is not valid", txtFile_);
    }

    const int page = tabMain_->currentIndex();
    if (page == 0) {
        if (manualPage_->lstData()->topLevelItemCount() == 0) {
            tabMain_->setCurrentIndex(0);
            return refuse("Please enter data to plot.", manualPage_->lstData());
        }
    } else if (page == 1) {
        const BatchPage::Controls& batch = batchPage_->controls();
        const auto blank = [](const QLineEdit* box) { return trimSpaces(box->text()).isEmpty(); };
        const auto refuseBatch = [this](const char* message, QWidget* focus) {
            tabMain_->setCurrentIndex(1);
            return refuse(message, focus, true);
        };
        switch (batchPage_->selectedSource()) {
            case BatchPage::kAccess:
                if (blank(batch.txtAccessPath)) {
                    return refuseBatch("Please specify file name.", batch.txtAccessPath);
                }
                if (blank(batch.txtTableName)) {
                    return refuseBatch("Please enter Table Name.", batch.txtTableName);
                }
                if (blank(batch.txtFieldName)) {
                    return refuseBatch("Please enter Field Name.", batch.txtFieldName);
                }
                break;
            case BatchPage::kExcel:
                if (blank(batch.txtExcelPath)) {
                    return refuseBatch("Please specify file name.", batch.txtExcelPath);
                }
                if (blank(batch.txtTableName)) {
                    return refuseBatch("Please enter Sheet Name.", batch.txtTableName);
                }
                if (blank(batch.txtFieldName)) {
                    return refuseBatch("Please enter Field Index.", batch.txtFieldName);
                }
                if (!isNumericText(batch.txtFieldName->text().toStdString())) {
                    return refuseBatch("The Field Index must be numeric.", batch.txtFieldName);
                }
                break;
            case BatchPage::kSqlServer:
                if (blank(batch.txtConnString)) {
                    return refuseBatch("Please specify Connection String.", batch.txtConnString);
                }
                if (blank(batch.txtTableName)) {
                    return refuseBatch("Please enter Table Name.", batch.txtTableName);
                }
                if (blank(batch.txtFieldName)) {
                    return refuseBatch("Please enter Field Name.", batch.txtFieldName);
                }
                break;
            case BatchPage::kCsv:
                if (blank(batch.txtCSVPath)) {
                    return refuseBatch("Please specify file name.", batch.txtCSVPath);
                }
                if (trimSpaces(batch.cboFieldName->currentText()).isEmpty()) {
                    return refuseBatch("Please select a Field Name.", batch.cboFieldName);
                }
                break;
            default:
                break;
        }
    }

    deleteExistingFile(output);
    return true;
}

bool FrmRender::PlotPoints() {
    // The engine object lives for this one render and is released on every path out.
    Object map = createObject("Zembra.CMap");
    map.put("InputMapFile",
            toNative(GetImagesDir() + QStringLiteral("/Maps/") + cbMap_->currentText()));
    map.put("InputOverlayFile",
            toNative(GetImagesDir() + QStringLiteral("/Overlays/") + cbOverlay_->currentText()));
    map.put("MinLat", bounds_.minLat);
    map.put("MaxLat", bounds_.maxLat);
    map.put("MinLon", bounds_.minLon);
    map.put("MaxLon", bounds_.maxLon);

    const int page = tabMain_->currentIndex();
    if (page == 0 || page == 1) {
        const std::vector<std::string> zips =
            page == 0 ? manualPage_->zipCodes() : batchPage_->ReadBatchData();
        std::vector<Variant> texts(zips.begin(), zips.end());
        map.callWith("MapZips", std::move(texts));
    }

    const QString output = txtFile_->text();
    map.put("OutputImageType", lowerAscii(extensionName(toNative(output))));
    map.callWith("SaveMap", toNative(output));
    return true;
}

void FrmRender::renderClicked() {
    guardedResponse(seam_, this, [this] {
        if (!ValidateData()) return;
        setHourglass();
        if (PlotPoints()) {
            resetPointer();
            FrmViewImage viewer(seam_);  // one viewer per render, released after it closes
            viewer.setImageFile(txtFile_->text());
            viewer.setLookupMapFile(txtFile_->text());
            viewer.setLookupBounds(bounds_);
            seam_.runModal(viewer);
        }
        resetPointer();
    });
}

void FrmRender::helpContents() { openHelpContents(seam_, this, appPath_); }

void FrmRender::helpAbout() {
    FrmAbout about(windowIcon());
    seam_.runModal(about);
}

}  // namespace zembra::client
