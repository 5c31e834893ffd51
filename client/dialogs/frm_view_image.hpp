// frmViewImage: shows a rendered picture in a window that fits the screen, opens a larger
// picture fitted to the window, scrolls and zooms (fit to window, 100%, in and out, Ctrl+wheel
// about the pointer), tells on a status line
// the latitude/longitude under the pointer and what the render placed, and reports the
// zip code found under each mouse-button release.
#pragma once

#include <QDialog>
#include <QImage>
#include <cstdint>
#include <optional>
#include <vector>
#include <zembra/render/render.hpp>

#include "main/render_job.hpp"

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

// A marker as the engine drew it: its rectangle on the picture, in picture pixels.
struct DrawnMarker {
    QRect rect;
    QString zip;
};

// Where the engine stamps a marker of `marker` size for a code at `position` on a picture
// of `picture` size rendered with `bounds`: its projection (bounds edge to edge, rounded
// half to even), the marker centred on the point.
QRect markerRect(const render::LatLon& position, const render::Bounds& bounds, QSize picture,
                 QSize marker);

// The status line's naming of the codes under the pointer: "zip 08873", "zip codes 08873,
// 08875", at most `shown` and "and N more"; empty for none.
QString codesUnderText(const QStringList& codes, qsizetype shown = 5);

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
    // Where the render drew its markers (the status line names the codes under the pointer,
    // and the opening view shows them) and how it read its source (told on the status line);
    // set before the first show.
    void setRenderDetails(const RenderDetails& details);
    // The codes whose drawn marker covers picture pixel `pixel` (a white marker pixel
    // leaves the map showing, so it covers nothing), the one drawn last first.
    QStringList codesAt(QPoint pixel) const;

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
    // Sets the zoom keeping the picture point at the centre of the view where it is.
    void setZoom(double zoom);
    // Sets the zoom keeping the picture point under `anchor`, a point of the scroll area's
    // viewport, where it is.
    void zoomAround(double zoom, QPointF anchor);
    void zoomToFit();
    void zoomToActualSize() { setZoom(1.0); }
    // The view the window opens with, for a picture larger than the window's room: at 100%
    // scrolled to the plotted markers when they all fit in the view, otherwise the picture
    // fitted to the window; a smaller picture at 100%. Applied again whenever the window's
    // room changes, until the operator zooms or scrolls.
    void showOpeningView();
    // True once the operator has zoomed or scrolled.
    bool viewChosen() const { return viewChosen_; }

    QLabel* pbImage() const { return pbImage_; }
    QScrollArea* scrollArea() const { return scrollArea_; }
    QLabel* statusLine() const { return lblStatus_; }

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void load();
    void showPointer(QPointF displayed);
    // Resamples the picture for the current zoom and sizes the picture box to it.
    void showAtZoom();
    void placeMarkers();
    // What the render placed and how its source was read.
    QString summaryText() const;
    void showSummary();
    void operatorZoom(double zoom, std::optional<QPointF> anchor);

    UiSeam& seam_;
    QString imageFile_;
    QString lookupMapFile_;
    render::Bounds lookupBounds_;
    QString summary_;
    QString readNote_;
    PlottedMarkers plotted_;
    QImage markerPicture_;
    std::vector<DrawnMarker> markers_;  // in drawing order
    QRect markersBox_;                  // around every marker on the picture
    bool loaded_ = false;
    QImage picture_;
    double zoom_ = 1.0;
    bool viewChosen_ = false;
    bool applyingView_ = false;
    QToolBar* toolBar_ = nullptr;
    QScrollArea* scrollArea_ = nullptr;
    QLabel* pbImage_ = nullptr;
    QLabel* lblStatus_ = nullptr;
};

}  // namespace zembra::client
