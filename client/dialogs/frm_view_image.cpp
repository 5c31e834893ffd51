#include "dialogs/frm_view_image.hpp"

#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
#include <QStyle>
#include <QWindow>

#include "main/twips.hpp"
#include "main/ui_seam.hpp"

namespace zembra::client {

namespace {

// 32-bit arithmetic that raises the overflow error instead of wrapping.
int32_t mul(int32_t a, int32_t b) {
    int32_t out = 0;
    if (__builtin_mul_overflow(a, b, &out)) throw Error::standard(err::kOverflow, kProgramTitle);
    return out;
}

int32_t add(int32_t a, int32_t b) {
    int32_t out = 0;
    if (__builtin_add_overflow(a, b, &out)) throw Error::standard(err::kOverflow, kProgramTitle);
    return out;
}

}  // namespace

FrameExtras sizeExtrasTwips(double twipsPerPixel, int32_t border, int32_t caption, bool hasMenu,
                            int32_t menu) {
    const int32_t t = roundToInt32(twipsPerPixel);
    const int32_t borders = mul(mul(border, t), 4);
    FrameExtras extras;
    extras.width = add(borders, 40);
    extras.height = add(add(borders, mul(caption, t)), 40);
    if (hasMenu) extras.height = add(extras.height, mul(menu, t));
    return extras;
}

FrmViewImage::FrmViewImage(UiSeam& seam, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      seam_(seam) {
    setObjectName(QStringLiteral("frmViewImage"));
    setWindowTitle(QStringLiteral("View Image"));
    setFixedSize(twipsSize(5730, 4515));  // the design size, until SizeToPicture runs

    pbImage_ = new QLabel(this);
    pbImage_->setObjectName(QStringLiteral("pbImage"));
    pbImage_->setFrameStyle(QFrame::Box | QFrame::Plain);
    pbImage_->setLineWidth(1);
    pbImage_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    pbImage_->setGeometry(twipsRect(240, 120, 5220, 4140));
    pbImage_->installEventFilter(this);
}

void FrmViewImage::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!loaded_) {
        loaded_ = true;
        load();
        // Centred on the screen when first shown (the viewer has no owner window).
        if (QScreen* screen = this->screen()) {
            QRect placed = frameGeometry();
            placed.moveCenter(screen->availableGeometry().center());
            move(placed.topLeft());
        }
    }
}

void FrmViewImage::load() {
    guardedResponse(
        seam_, this,
        [this] {
            if (!QFile::exists(imageFile_)) {
                throw Error::standard(err::kFileNotFound, kProgramTitle,
                                      QFile::encodeName(imageFile_).toStdString());
            }
            QPixmap picture;
            if (!picture.load(imageFile_)) {
                throw Error(481, kProgramTitle,
                            "Invalid picture: " + QFile::encodeName(imageFile_).toStdString());
            }
            // Auto-size: the inside of the box takes the picture's size.
            pbImage_->setPixmap(picture);
            const int frame = pbImage_->frameWidth();
            pbImage_->resize(picture.width() + 2 * frame, picture.height() + 2 * frame);
            SizeToPicture();
        },
        windowTitle());
}

void FrmViewImage::SizeToPicture() {
    // Frame measures: taken from the window manager's decoration once the window has
    // one, otherwise from the style (a headless display has no decoration).
    int32_t border = 1;
    int32_t caption = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
    QMargins margins;
    if (windowHandle() != nullptr) margins = windowHandle()->frameMargins();
    if (margins.top() > 0) {
        border = std::max(1, margins.bottom());
        caption = margins.top() - border;
    }
    const bool hasMenu = false;  // the viewer has no menu bar
    const double twipsPerPixel = kTwipsPerPixel;
    const FrameExtras extras = sizeExtrasTwips(twipsPerPixel, border, caption, hasMenu, 0);

    pbImage_->move(0, 0);
    // Outer size in twips, as single precision; then the client size the frame leaves.
    const auto outerWidth =
        static_cast<float>(static_cast<double>(pbImage_->width()) * kTwipsPerPixel + extras.width);
    const auto outerHeight = static_cast<float>(
        static_cast<double>(pbImage_->height()) * kTwipsPerPixel + extras.height);
    const int frameWidth = margins.left() + margins.right();
    const int frameHeight = margins.top() + margins.bottom();
    const int clientWidth = static_cast<int>(std::lround(outerWidth / kTwipsPerPixel)) - frameWidth;
    const int clientHeight =
        static_cast<int>(std::lround(outerHeight / kTwipsPerPixel)) - frameHeight;
    // No clipping: the client area always holds the whole picture box.
    setFixedSize(std::max(clientWidth, pbImage_->width()),
                 std::max(clientHeight, pbImage_->height()));
}

bool FrmViewImage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == pbImage_ && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        // Picture pixels: inside the box's frame, origin at the picture's top-left.
        const QPointF inside = mouse->position() - QPointF(pbImage_->contentsRect().topLeft());
        lookupAt(inside.x(), inside.y());
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void FrmViewImage::lookupAt(double x, double y) {
    guardedResponse(
        seam_, this,
        [&] {
            Object map = createObject("Zembra.CMap");  // one engine object per click
            map.put("InputMapFile", QFile::encodeName(lookupMapFile_).toStdString());
            map.put("ConnectionString", "ZipCodes");
            map.put("MinLat", lookupBounds_.minLat);
            map.put("MaxLat", lookupBounds_.maxLat);
            map.put("MinLon", lookupBounds_.minLon);
            map.put("MaxLon", lookupBounds_.maxLon);
            const Variant found =
                map.callWith("GetZipCodeFromMapPoint", roundToInt32(x), roundToInt32(y));
            const QString text = found.isNull()
                                     ? QStringLiteral("Please supply a Zip code to search by.")
                                     : QString::fromStdString(found.toString());
            seam_.showMessage(this, text, QLatin1String(kProgramTitle), MessageIcon::None);
        },
        windowTitle());
}

}  // namespace zembra::client
