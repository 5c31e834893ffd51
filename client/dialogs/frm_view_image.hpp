// frmViewImage: shows a rendered picture at its natural size in a window sized tightly
// around it, and reports the zip code found under each mouse-button release.
#pragma once

#include <QDialog>
#include <cstdint>

#include "main/render_logic.hpp"

class QLabel;

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
    void setLookupBounds(const Bounds& bounds) { lookupBounds_ = bounds; }

    // Places the picture box at the client origin and sizes the window around it.
    void SizeToPicture();

    // One reverse lookup at picture pixel (x, y), answered in a message box.
    void lookupAt(double x, double y);

    QLabel* pbImage() const { return pbImage_; }

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void load();

    UiSeam& seam_;
    QString imageFile_;
    QString lookupMapFile_;
    Bounds lookupBounds_;
    bool loaded_ = false;
    QLabel* pbImage_ = nullptr;
};

}  // namespace zembra::client
