// frmViewImage: shows a rendered picture in a window that fits the screen, scrolls a
// larger picture and zooms (fit to window, 100%, in and out), tells on a status line
// the latitude/longitude under the pointer and what the render placed, and reports the
// zip code found under each mouse-button release.
#pragma once

#include <QDialog>
#include <QImage>
#include <cstdint>
#include <optional>
#include <zembra/render/render.hpp>

class QLabel;
class QScrollArea;
class QToolBar;

namespace zembra::client {

class UiSeam;

// How much larger than the picture box the viewer window is, in twips.
struct FrameExtras {
    int32_t width = 0;
    int32_t height = 0;
};

// The window's extra width and height around its picture box, in twips:
//   t = twipsPerPixel rounded half to even, W = b*t*4 + 40, H = b*t*4 + c*t + 40,
//   plus m*t on H when the window has a menu bar.
// `border`, `caption` and `menu` are pixel heights of the window's thin border, caption
// and menu bar. Raises Error 6 (overflow) when a value leaves the 32-bit range.
FrameExtras sizeExtrasTwips(double twipsPerPixel, int32_t border, int32_t caption, bool hasMenu,
                            int32_t menu);

// The text of the status line after a render: what became of the codes (placed, and how;
// outside the map; not found), listing the first `shownCodes` of each list.
QString placedSummary(const render::RenderResult& result, std::size_t shownCodes = 12);

// The picture pixel under a point of the displayed picture: `scale` is displayed
// (logical) pixels per picture pixel; rounded half to even.
QPoint picturePixel(QPointF displayed, double scale);

class FrmViewImage : public QDialog {
    Q_OBJECT
  public:
    explicit FrmViewImage(UiSeam& seam, QWidget* parent = nullptr);

    // Full path of the picture shown; set before the first show.
    QString ImageFile() const { return imageFile_; }
    void setImageFile(const QString& path) { imageFile_ = path; }

    // The map file and bounds each lookup hands to the engine: the picture rendered and
    // the bounds it was rendered with.
    void setLookupMapFile(const QString& path) { lookupMapFile_ = path; }
    void setLookupBounds(const render::Bounds& bounds) { lookupBounds_ = bounds; }
    // What the render placed, for the status line.
    void setRenderResult(const render::RenderResult& result);

    // Places the picture box at the client origin and sizes the window around it, never
    // larger than the screen's available area.
    void SizeToPicture();
    // Shrinks and moves the window, frame included, into the screen's available area.
    void fitOnScreen();

    // One reverse lookup at picture pixel (x, y), answered in a message box.
    void lookupAt(double x, double y);

    // Displayed (logical) pixels per picture pixel. 100% shows one picture pixel per
    // device pixel, so a scaled screen shows the picture sharp.
    double scale() const;
    double zoom() const { return zoom_; }
    void setZoom(double zoom);
    void zoomToFit();
    void zoomToActualSize() { setZoom(1.0); }

    QLabel* pbImage() const { return pbImage_; }
    QScrollArea* scrollArea() const { return scrollArea_; }
    QLabel* statusLine() const { return lblStatus_; }

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void load();
    void showPointer(QPointF displayed);

    UiSeam& seam_;
    QString imageFile_;
    QString lookupMapFile_;
    render::Bounds lookupBounds_;
    QString summary_;
    bool loaded_ = false;
    QImage picture_;
    double zoom_ = 1.0;
    QToolBar* toolBar_ = nullptr;
    QScrollArea* scrollArea_ = nullptr;
    QLabel* pbImage_ = nullptr;
    QLabel* lblStatus_ = nullptr;
};

}  // namespace zembra::client
