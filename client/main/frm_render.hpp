// frmRender: the client's main and only top-level window. The operator picks a map and
// an overlay from the program's Images folder (or the user's own), names the output
// file, gives the zip codes (typed by hand or from a batch source) and renders.
#pragma once

#include <QMainWindow>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>
#include <vector>
#include <zembra/render/catalogue.hpp>
#include <zembra/render/parameters.hpp>
#include <zembra/render/render.hpp>

#include "main/render_job.hpp"
#include "main/validation.hpp"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace zembra::client {

class BatchPage;
class ManualPage;
class RenderControl;
class UiSeam;
struct RenderJob;

class FrmRender : public QMainWindow {
    Q_OBJECT
  public:
    // Initialises the window for the program folder `appPath` (no trailing separator)
    // and runs its load: caption, map and overlay lists, sample zip codes, proposed
    // output file, first page, Access source. Load errors are reported, not raised.
    FrmRender(UiSeam& seam, const QString& appPath, QWidget* parent = nullptr);
    // Cancels a render still running and waits for its thread.
    ~FrmRender() override;

    QString AppPath() const { return appPath_; }
    void setAppPath(const QString& appPath) { appPath_ = appPath; }

    // AppPath followed by "/Images".
    QString GetImagesDir() const;
    // The user's own images folder: Zembra/Images under the user's data folder.
    static QString userImagesDir();

    // Renders the zip codes of the selected page onto the chosen map and saves the
    // picture at the output path, on a worker thread while the window stays responsive;
    // returns true. Raises the failing step's Error unchanged, render::Cancelled when
    // the operator cancelled.
    bool PlotPoints();

    // Checks map, overlay, output file and the selected page's data. On the first
    // problem shows its message, moves the focus and returns false; otherwise true.
    // Touches no file.
    bool ValidateData();

    void SetBounds(double dMinLat, double dMaxLat, double dMinLon, double dMaxLon);
    // Chooses the bounds for the map file name `sType` from the map catalogue (the name
    // rule, then the world file beside the chosen picture) and stores them; all zero
    // and unknown when neither gives bounds.
    void UpdateBounds(const QString& sType);
    render::Bounds bounds() const { return bounds_; }
    bool boundsKnown() const { return boundsKnown_; }

    // Appends the files of GetImagesDir()/sSubDir whose lower-cased extension equals
    // sExtension, in name order compared case-insensitively, then those of the user's
    // own folder the same way, and selects entry nSelIndex, or the last entry when there
    // are fewer. Missing folders change nothing.
    void FillCombo(QComboBox* cb, const QString& sSubDir, const QString& sExtension,
                   int16_t nSelIndex);

    // The full paths of the chosen map and overlay pictures, in the folder each entry
    // was listed from.
    QString mapFile() const;
    QString overlayFile() const;

    ManualPage* manualPage() const { return manualPage_; }
    BatchPage* batchPage() const { return batchPage_; }
    bool rendering() const { return control_ != nullptr; }

    // The render command's response ("Render Image").
    void renderClicked();
    // Options, Style...: the style dialog; confirmed settings apply to the next renders.
    void styleClicked();
    // The style settings (the parameter table's style rows): with the default style, the
    // plain markers of the engine, rendered as without them.
    const render::ParameterValues& styleValues() const { return styleValues_; }
    // Cancel during a render.
    void cancelClicked();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildControls();
    void buildMenus();
    void load();
    void mapSelected();
    void browseClicked();
    void pageChanged(int page);
    void helpContents();
    void helpAbout();
    bool eventFilter(QObject* watched, QEvent* event) override;

    QString proposedOutputFile() const;
    // The boundary data beside the program; empty when there is none there.
    QString boundaryFolder() const;
    ValidationInput validationInput() const;
    RenderJob renderJob() const;
    QWidget* control(Control which) const;
    void showProgress(bool shown);
    void updateProgress();
    void reapFinishedThreads();

    UiSeam& seam_;
    QString appPath_;
    render::Bounds bounds_;
    bool boundsKnown_ = false;

    QComboBox* cbMap_ = nullptr;
    QComboBox* cbOverlay_ = nullptr;
    QLineEdit* txtFile_ = nullptr;
    QPushButton* cmdBrowse_ = nullptr;
    QLabel* imgMap_ = nullptr;
    QTabWidget* tabMain_ = nullptr;
    QPushButton* cmdRender_ = nullptr;
    ManualPage* manualPage_ = nullptr;
    BatchPage* batchPage_ = nullptr;
    QWidget* form_ = nullptr;  // everything but the progress line
    QLabel* lblProgress_ = nullptr;
    QPushButton* cmdCancel_ = nullptr;

    // The render running now, and renders cancelled while their thread was still
    // blocked (in a database connect, say): joined once done, at the latest on close.
    struct Worker;
    std::shared_ptr<RenderControl> control_;
    std::vector<std::unique_ptr<Worker>> workers_;
    bool closeRequested_ = false;
    std::optional<render::RenderResult> lastResult_;
    render::ParameterValues styleValues_;
    RenderDetails lastDetails_;  // where the last render drew its markers, how it read
};

}  // namespace zembra::client
