#include "main/frm_render.hpp"

#include <unistd.h>

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPixmap>
#include <QPushButton>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <mutex>
#include <zembra/draw/thematic.hpp>
#include <zembra/render/pictures.hpp>

#include "dialogs/frm_about.hpp"
#include "dialogs/frm_style.hpp"
#include "dialogs/frm_view_image.hpp"
#include "dialogs/help.hpp"
#include "input/batch_page.hpp"
#include "input/manual_page.hpp"
#include "main/render_job.hpp"
#include "main/render_logic.hpp"
#include "main/twips.hpp"
#include "main/ui_seam.hpp"

// Resources of a static library must be registered by name, outside any namespace.
static void initClientResources() { Q_INIT_RESOURCE(client); }

namespace zembra::client {

namespace {

std::string toNative(const QString& text) { return QFile::encodeName(text).toStdString(); }

template <typename W>
W* named(QWidget* parent, const char* name) {
    auto* widget = new W(parent);  // owned by `parent`
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QLabel* caption(QWidget* parent, const char* name, const char* text) {
    auto* label = named<QLabel>(parent, name);
    label->setText(QLatin1String(text));
    return label;
}

constexpr int kFolderRole = Qt::UserRole + 1;  // the folder a list entry was found in

}  // namespace

// One render's thread and what it hands back. The thread owns copies of everything it
// reads, so a cancelled render may finish on its own after the window stopped waiting.
struct FrmRender::Worker {
    std::shared_ptr<RenderControl> control;
    std::mutex mutex;
    bool done = false;
    std::optional<render::RenderResult> result;
    RenderDetails details;
    std::exception_ptr failure;
    std::vector<std::string> notices;
    std::thread thread;

    bool finished() {
        const std::lock_guard lock(mutex);
        return done;
    }
    ~Worker() {
        if (control) control->requestCancel();
        if (thread.joinable()) thread.join();
    }
};

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

FrmRender::~FrmRender() {
    if (control_) control_->requestCancel();
    workers_.clear();  // each worker cancels and joins its thread
}

void FrmRender::buildControls() {
    // The designed client area (8310 x 4695 twips) is the least the window shrinks to;
    // the layouts grow it with the window and with the system font.
    form_ = new QWidget(this);
    form_->setObjectName(QStringLiteral("clientArea"));
    form_->setMinimumSize(twipsSize(8310, 4695));
    setCentralWidget(form_);

    auto* label1 = caption(form_, "Label1", "Map");
    cbMap_ = named<QComboBox>(form_, "cbMap");
    auto* label2 = caption(form_, "Label2", "Overlay");
    cbOverlay_ = named<QComboBox>(form_, "cbOverlay");
    auto* label3 = caption(form_, "Label3", "Result File");
    txtFile_ = named<QLineEdit>(form_, "txtFile");
    txtFile_->setText(QStringLiteral("c:\\temp\\test.gif"));
    cmdBrowse_ = named<QPushButton>(form_, "cmdBrowse");
    cmdBrowse_->setText(QStringLiteral("Browse..."));
    imgMap_ = named<QLabel>(form_, "imgMap");
    imgMap_->setScaledContents(true);  // the preview is stretched to the box
    imgMap_->setMinimumSize(twipsSize(1935, 1095));
    imgMap_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);

    tabMain_ = named<QTabWidget>(form_, "tabMain");
    manualPage_ = new ManualPage(seam_, tabMain_);
    batchPage_ = new BatchPage(seam_, tabMain_);
    tabMain_->addTab(manualPage_, QStringLiteral("Manual Data Entry"));
    tabMain_->addTab(batchPage_, QStringLiteral("Batch Data Entry"));

    cmdRender_ = named<QPushButton>(form_, "cmdRender");
    cmdRender_->setText(QStringLiteral("Render Image"));
    cmdRender_->setMinimumSize(twipsSize(1575, 375));

    // Map, overlay and result file on the left, the preview on the right, the pages
    // below, the render button at the bottom right: the designed arrangement.
    auto* top = new QGridLayout;
    top->addWidget(label1, 0, 0);
    top->addWidget(cbMap_, 0, 1);
    top->addWidget(label2, 1, 0);
    top->addWidget(cbOverlay_, 1, 1);
    top->addWidget(label3, 2, 0);
    top->addWidget(txtFile_, 2, 1, 1, 2);
    top->addWidget(cmdBrowse_, 2, 3);
    top->addWidget(imgMap_, 0, 4, 3, 1);
    top->setColumnMinimumWidth(0, twipsToPixels(1215));
    top->setColumnStretch(1, 3);
    top->setColumnStretch(2, 1);
    top->setColumnStretch(4, 2);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(cmdRender_);
    auto* column = new QVBoxLayout(form_);
    column->setContentsMargins(8, 8, 8, 8);
    column->addLayout(top);
    column->addWidget(tabMain_, 1);
    column->addLayout(bottom);

    // The progress line of a render, with its Cancel button.
    lblProgress_ = named<QLabel>(this, "lblProgress");
    cmdCancel_ = named<QPushButton>(this, "cmdCancel");
    cmdCancel_->setText(QStringLiteral("Cancel"));
    statusBar()->addWidget(lblProgress_, 1);
    statusBar()->addPermanentWidget(cmdCancel_);
    statusBar()->setSizeGripEnabled(true);
    showProgress(false);

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
    connect(cmdCancel_, &QPushButton::clicked, this, &FrmRender::cancelClicked);
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

    // The render's style, in a menu of its own between the written two.
    QMenu* options = menuBar()->addMenu(QStringLiteral("&Options"));
    options->setObjectName(QStringLiteral("mnuOptions"));
    options->menuAction()->setObjectName(QStringLiteral("mnuOptions"));
    QAction* style = options->addAction(QStringLiteral("&Style..."));
    style->setObjectName(QStringLiteral("mnuOptionsStyle"));
    connect(style, &QAction::triggered, this,
            [this] { guardedResponse(seam_, this, [this] { styleClicked(); }); });

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
        const auto text = [](std::string_view s) {
            return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
        };
        FillCombo(cbMap_, text(render::folderName(render::PictureKind::Map)),
                  text(render::pictureExtension(render::PictureKind::Map)), 2);
        FillCombo(cbOverlay_, text(render::folderName(render::PictureKind::Marker)),
                  text(render::pictureExtension(render::PictureKind::Marker)), 4);
        manualPage_->SetListColumns();
        manualPage_->addRow(QStringLiteral("08873"));
        manualPage_->addRow(QStringLiteral("08232"));
        txtFile_->setText(proposedOutputFile());
        tabMain_->setTabEnabled(1, true);
        tabMain_->setTabEnabled(0, true);
        tabMain_->setCurrentIndex(0);  // runs the page-switch response if the page changes
        batchPage_->selectSource(BatchPage::kAccess);
    });
}

QString FrmRender::GetImagesDir() const { return appPath_ + QStringLiteral("/Images"); }

QString FrmRender::userImagesDir() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Zembra/Images");
}

QString FrmRender::proposedOutputFile() const {
    // The program folder's Output when the user may write there (a copy run from where
    // it was built); an installed program folder belongs to root, so then Zembra/ in the
    // user's pictures folder (home when there is none), created as needed.
    const QString output = GetImagesDir() + QStringLiteral("/Output");
    const QFileInfo folder(output);
    if (folder.isDir() && ::access(QFile::encodeName(output).constData(), W_OK) == 0) {
        return output + QStringLiteral("/Temp.jpg");
    }
    QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (pictures.isEmpty()) pictures = QDir::homePath();
    const QString own = pictures + QStringLiteral("/Zembra");
    QDir().mkpath(own);
    return own + QStringLiteral("/Temp.jpg");
}

void FrmRender::SetBounds(double dMinLat, double dMaxLat, double dMinLon, double dMaxLon) {
    bounds_ = {dMinLat, dMaxLat, dMinLon, dMaxLon};
}

void FrmRender::UpdateBounds(const QString& sType) {
    // A world file beside the chosen picture decides; the name rule serves a map without
    // one. The chosen entry's picture is looked at only when it is `sType`.
    const std::optional<render::Bounds> chosen =
        cbMap_->currentText() == sType
            ? render::boundsForMap(std::filesystem::path(toNative(mapFile())))
            : render::boundsForMapName(sType.toStdString());
    boundsKnown_ = chosen.has_value();
    const render::Bounds b = chosen.value_or(render::Bounds{});
    SetBounds(b.minLat, b.maxLat, b.minLon, b.maxLon);
}

void FrmRender::FillCombo(QComboBox* cb, const QString& sSubDir, const QString& sExtension,
                          int16_t nSelIndex) {
    // The program's own folder first, then the user's own; the same folder once.
    const render::PictureFolders folders{{std::filesystem::path(toNative(GetImagesDir())),
                                          std::filesystem::path(toNative(userImagesDir()))}};
    const auto pictures =
        render::listPictures(folders, toNative(sSubDir), lowerAscii(sExtension.toStdString()));
    {
        // Adding to an empty combo box selects its first entry by itself; the selection
        // response must run once, for the entry chosen below, so changes are held back.
        const int previous = cb->currentIndex();
        const QSignalBlocker blocker(cb);
        for (const render::PictureFile& picture : pictures) {
            cb->addItem(QFile::decodeName(QByteArray::fromStdString(picture.fileName)));
            cb->setItemData(cb->count() - 1,
                            QFile::decodeName(QByteArray::fromStdString(picture.folder.string())),
                            kFolderRole);
        }
        cb->setCurrentIndex(previous);
    }
    if (pictures.empty()) return;
    // A folder shorter than the default index selects its last entry, so start-up
    // completes with what there is.
    cb->setCurrentIndex(std::min<int>(nSelIndex, cb->count() - 1));
}

static QString entryFile(const QComboBox* cb, const QString& fallbackFolder) {
    const int index = cb->currentIndex();
    QString folder = index >= 0 ? cb->itemData(index, kFolderRole).toString() : QString();
    if (folder.isEmpty()) folder = fallbackFolder;
    return folder + QLatin1Char('/') + cb->currentText();
}

QString FrmRender::mapFile() const { return entryFile(cbMap_, GetImagesDir() + "/Maps"); }

QString FrmRender::overlayFile() const {
    return entryFile(cbOverlay_, GetImagesDir() + "/Overlays");
}

void FrmRender::mapSelected() {
    if (cbMap_->currentIndex() < 0) {  // the list was emptied: nothing to preview
        imgMap_->clear();
        return;
    }
    const QString name = cbMap_->currentText();
    const QString file = mapFile();
    if (!QFile::exists(file)) {
        throw Error::standard(err::kFileNotFound, kProgramTitle, toNative(file));
    }
    QPixmap picture;
    if (!picture.load(file)) {
        throw Error(err::kInvalidPicture, kProgramTitle, "Invalid picture: " + toNative(file));
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

ValidationInput FrmRender::validationInput() const {
    const BatchPage::Controls& batch = batchPage_->controls();
    ValidationInput in;
    in.mapName = cbMap_->currentText().toStdString();
    in.overlayName = cbOverlay_->currentText().toStdString();
    in.mapFile = toNative(mapFile());
    in.overlayFile = toNative(overlayFile());
    in.output = toNative(txtFile_->text());
    in.page = tabMain_->currentIndex();
    in.manualRows = static_cast<size_t>(manualPage_->lstData()->topLevelItemCount());
    in.source = batchPage_->selectedSource();
    in.accessPath = batch.txtAccessPath->text().toStdString();
    in.excelPath = batch.txtExcelPath->text().toStdString();
    in.connString = batch.txtConnString->text().toStdString();
    in.csvPath = batch.txtCSVPath->text().toStdString();
    in.tableName = batch.txtTableName->text().toStdString();
    in.fieldName = batch.txtFieldName->text().toStdString();
    in.csvField = batch.cboFieldName->currentText().toStdString();
    return in;
}

QWidget* FrmRender::control(Control which) const {
    const BatchPage::Controls& batch = batchPage_->controls();
    switch (which) {
        case Control::cbMap:
            return cbMap_;
        case Control::cbOverlay:
            return cbOverlay_;
        case Control::txtFile:
            return txtFile_;
        case Control::lstData:
            return manualPage_->lstData();
        case Control::txtAccessPath:
            return batch.txtAccessPath;
        case Control::txtExcelPath:
            return batch.txtExcelPath;
        case Control::txtConnString:
            return batch.txtConnString;
        case Control::txtCSVPath:
            return batch.txtCSVPath;
        case Control::txtTableName:
            return batch.txtTableName;
        case Control::txtFieldName:
            return batch.txtFieldName;
        case Control::cboFieldName:
            return batch.cboFieldName;
    }
    return txtFile_;
}

bool FrmRender::ValidateData() {
    const std::optional<Refusal> refusal = validateInput(validationInput());
    if (!refusal) return true;
    if (refusal->page >= 0) tabMain_->setCurrentIndex(refusal->page);
    const QString message =
        QString::fromUtf8(refusal->message.data(), static_cast<qsizetype>(refusal->message.size()));
    if (refusal->notice) {
        seam_.showMessage(this, message, windowTitle(), MessageIcon::Information);
    } else {
        seam_.showMessage(this, message, QLatin1String(kProgramTitle), MessageIcon::Exclamation);
    }
    control(refusal->focus)->setFocus(Qt::OtherFocusReason);
    return false;
}

void FrmRender::styleClicked() {
    // A CSV source offers its header's fields as the style's columns.
    QStringList columns;
    if (batchPage_->selectedSource() == BatchPage::kCsv) {
        const QComboBox* fields = batchPage_->controls().cboFieldName;
        for (int i = 0; i < fields->count(); ++i) columns << fields->itemText(i);
    }
    FrmStyle dialog(seam_, styleValues_, columns, this);  // one dialog per opening
    seam_.runModal(dialog);
    if (dialog.Response() == 1) styleValues_ = dialog.values();
}

QString FrmRender::boundaryFolder() const {
    // Beside the program as installed (and in the build tree); elsewhere the drawing
    // library's own default.
    const QString folder = appPath_ + QStringLiteral("/" ZEMBRA_REL_APP_TO_DATA "/boundaries");
    return QFileInfo(folder).isDir() ? folder : QString();
}

RenderJob FrmRender::renderJob() const {
    RenderJob job;
    job.map = toNative(mapFile());
    job.mapName = cbMap_->currentText().toStdString();
    job.overlay = toNative(overlayFile());
    if (boundsKnown_) job.bounds = bounds_;
    job.output = toNative(txtFile_->text());
    const int page = tabMain_->currentIndex();
    if (page == 0) {
        job.zips = manualPage_->zipCodes();
    } else if (page == 1) {
        job.batch = batchPage_->batchSource();
    }
    const render::Parameter& style = render::parameter("style");
    if (styleValues_.text(style.name) != style.defaultValue) {
        try {
            job.style = draw::thematicOptions(styleValues_);
        } catch (const render::ParameterError& e) {
            throw Error::standard(err::kInvalidArgument, kProgramTitle,
                                  e.message(FrmStyle::caption(e.parameter()).toStdString()));
        }
        if (job.batch) {
            job.batch->categoryField = styleValues_.text("category");
            job.batch->valueField = styleValues_.text("value");
        }
        job.boundaries = toNative(boundaryFolder());
    }
    return job;
}

void FrmRender::showProgress(bool shown) {
    lblProgress_->setVisible(shown);
    cmdCancel_->setVisible(shown);
    cmdCancel_->setEnabled(shown);
    form_->setEnabled(!shown);
    if (!shown) lblProgress_->clear();
}

void FrmRender::updateProgress() {
    if (!control_) return;
    if (control_->reading.load()) {
        lblProgress_->setText(QStringLiteral("Reading zip codes..."));
        return;
    }
    lblProgress_->setText(QStringLiteral("Read %1 zip codes, placed %2")
                              .arg(control_->codesRead.load())
                              .arg(control_->codesPlaced.load()));
}

void FrmRender::reapFinishedThreads() {
    std::erase_if(workers_, [](const std::unique_ptr<Worker>& w) { return w->finished(); });
}

bool FrmRender::PlotPoints() {
    reapFinishedThreads();
    RenderJob job = renderJob();
    auto worker = std::make_unique<Worker>();
    worker->control = std::make_shared<RenderControl>();
    Worker* run = worker.get();
    workers_.push_back(std::move(worker));
    control_ = run->control;

    // The batch read, the engine and the save run on their own thread; this thread
    // keeps the window painted and answers Cancel until the render is done or dropped.
    run->thread = std::thread([run, job = std::move(job)] {
        std::optional<render::RenderResult> result;
        RenderDetails details;
        std::exception_ptr failure;
        std::vector<std::string> notices;
        try {
            result = runRenderJob(
                job, *run->control, [&](const std::string& text) { notices.push_back(text); },
                &details);
        } catch (...) {
            failure = std::current_exception();
        }
        const std::lock_guard lock(run->mutex);
        run->result = std::move(result);
        run->details = std::move(details);
        run->failure = failure;
        run->notices = std::move(notices);
        run->done = true;
    });

    showProgress(true);
    updateProgress();
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(25);
    connect(&poll, &QTimer::timeout, &loop, [&] {
        updateProgress();
        if (run->finished() || control_->cancelRequested()) loop.quit();
    });
    poll.start();
    loop.exec();
    poll.stop();
    const bool cancelled = control_->cancelRequested();
    control_.reset();
    showProgress(false);

    if (cancelled) throw render::Cancelled();
    // The reader's notice comes first, as it did when the read ran on this thread.
    std::vector<std::string> notices;
    std::exception_ptr failure;
    {
        const std::lock_guard lock(run->mutex);
        notices = run->notices;
        failure = run->failure;
        lastResult_ = run->result;
        lastDetails_ = run->details;
    }
    for (const std::string& text : notices) {
        seam_.showMessage(this, QString::fromStdString(text), windowTitle(),
                          MessageIcon::Information);
    }
    reapFinishedThreads();
    if (failure) std::rethrow_exception(failure);
    return true;
}

void FrmRender::cancelClicked() {
    if (control_) control_->requestCancel();
}

void FrmRender::closeEvent(QCloseEvent* event) {
    if (control_) {
        // Closing during a render cancels it; the window closes once the render ends.
        closeRequested_ = true;
        control_->requestCancel();
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void FrmRender::renderClicked() {
    if (control_) return;  // one render at a time
    guardedResponse(seam_, this, [this] {
        if (!ValidateData()) return;
        setHourglass();
        bool plotted = false;
        try {
            plotted = PlotPoints();
        } catch (const render::Cancelled&) {
            resetPointer();
            if (!closeRequested_) {
                seam_.showMessage(this, QLatin1String(kCancelledMessage), windowTitle(),
                                  MessageIcon::Information);
            }
            return;
        }
        if (plotted) {
            resetPointer();
            // The picture is saved; a render that placed nothing says so before the viewer.
            if (lastResult_ && lastResult_->requested > 0 && lastResult_->placed() == 0) {
                seam_.showMessage(this,
                                  QStringLiteral("None of the %1 zip codes read was placed.")
                                      .arg(lastResult_->requested),
                                  windowTitle(), MessageIcon::Information);
            }
            FrmViewImage viewer(seam_);  // one viewer per render, released after it closes
            viewer.setImageFile(txtFile_->text());
            viewer.setLookupMapFile(txtFile_->text());
            viewer.setLookupBounds(bounds_);
            if (lastResult_) viewer.setRenderResult(*lastResult_);
            viewer.setRenderDetails(lastDetails_);
            seam_.runModal(viewer);
        }
        resetPointer();
    });
    if (closeRequested_) {
        closeRequested_ = false;
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

void FrmRender::helpContents() { openHelpContents(seam_, this, appPath_); }

void FrmRender::helpAbout() {
    FrmAbout about(windowIcon());
    seam_.runModal(about);
}

}  // namespace zembra::client
