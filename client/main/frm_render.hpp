// frmRender: the client's main and only top-level window. The operator picks a map and
// an overlay from the program's Images folder, names the output file, gives the zip
// codes (typed by hand or from a batch source) and renders.
#pragma once

#include <QMainWindow>
#include <cstdint>

#include "main/render_logic.hpp"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace zembra::client {

class BatchPage;
class ManualPage;
class UiSeam;

class FrmRender : public QMainWindow {
    Q_OBJECT
  public:
    // Initialises the window for the program folder `appPath` (no trailing separator)
    // and runs its load: caption, map and overlay lists, sample zip codes, proposed
    // output file, first page, Access source. Load errors are reported, not raised.
    FrmRender(UiSeam& seam, const QString& appPath, QWidget* parent = nullptr);
    ~FrmRender() override;

    QString AppPath() const { return appPath_; }
    void setAppPath(const QString& appPath) { appPath_ = appPath; }

    // AppPath followed by "/Images".
    QString GetImagesDir() const;

    // Renders the zip codes of the selected page onto the chosen map and saves the
    // picture at the output path; returns true. Raises the failing step's Error unchanged.
    bool PlotPoints();

    // Checks map, overlay, output file and the selected page's data. On the first
    // problem shows its message, moves the focus and returns false. Otherwise deletes an
    // existing file at the output path and returns true. Raises Error when that fails.
    bool ValidateData();

    void SetBounds(double dMinLat, double dMaxLat, double dMinLon, double dMaxLon);
    // Chooses the bounds for the map file name `sType` and stores them.
    void UpdateBounds(const QString& sType);
    Bounds bounds() const { return bounds_; }

    // Appends the files of GetImagesDir()/sSubDir whose lower-cased extension equals
    // sExtension, in name order compared case-insensitively, and selects entry
    // nSelIndex, or the last entry when there are fewer. A missing folder changes nothing.
    void FillCombo(QComboBox* cb, const QString& sSubDir, const QString& sExtension,
                   int16_t nSelIndex);

    ManualPage* manualPage() const { return manualPage_; }
    BatchPage* batchPage() const { return batchPage_; }

    // The render command's response ("Render Image").
    void renderClicked();

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

    // Refuses input: the warning style (exclamation, program title) or the notice style
    // (information, window caption), then the focus to `focus`.
    bool refuse(const char* message, QWidget* focus, bool notice = false);

    UiSeam& seam_;
    QString appPath_;
    Bounds bounds_;

    QComboBox* cbMap_ = nullptr;
    QComboBox* cbOverlay_ = nullptr;
    QLineEdit* txtFile_ = nullptr;
    QPushButton* cmdBrowse_ = nullptr;
    QLabel* imgMap_ = nullptr;
    QTabWidget* tabMain_ = nullptr;
    QPushButton* cmdRender_ = nullptr;
    ManualPage* manualPage_ = nullptr;
    BatchPage* batchPage_ = nullptr;
};

}  // namespace zembra::client
