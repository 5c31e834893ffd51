#include "dialogs/frm_view_image.hpp"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QScopedValueRollback>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QWindow>
#include <algorithm>
#include <cmath>

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

constexpr double kMinZoom = 1.0 / 16;
constexpr double kMaxZoom = 8.0;
constexpr double kZoomStep = 1.25;  // per button press or wheel notch

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

QString placedSummary(const render::RenderResult& result, std::size_t shownCodes) {
    return QString::fromStdString(render::summarize(result, shownCodes));
}

QPoint picturePixel(QPointF displayed, double scale) {
    return {roundToInt32(displayed.x() / scale), roundToInt32(displayed.y() / scale)};
}

QRect markerRect(const render::LatLon& position, const render::Bounds& b, QSize picture,
                 QSize marker) {
    const double w = picture.width();
    const double h = picture.height();
    const double x = roundHalfEven(w / (b.maxLon - b.minLon) * (position.lon - b.minLon));
    const double y = roundHalfEven(h - h / (b.maxLat - b.minLat) * (position.lat - b.minLat));
    const double left = roundHalfEven(x - marker.width() / 2.0);
    const double top = roundHalfEven(y - marker.height() / 2.0);
    // Far off the picture (or not a number): nothing the pointer can reach.
    if (!(std::abs(left) < 1e9 && std::abs(top) < 1e9)) return {};
    return {static_cast<int>(left), static_cast<int>(top), marker.width(), marker.height()};
}

QString codesUnderText(const QStringList& codes, qsizetype shown) {
    if (codes.isEmpty()) return {};
    if (codes.size() == 1) return QStringLiteral("zip ") + codes.front();
    QString text = QStringLiteral("zip codes ") + codes.mid(0, shown).join(QStringLiteral(", "));
    if (codes.size() > shown) text += QStringLiteral(" and %1 more").arg(codes.size() - shown);
    return text;
}

FrmViewImage::FrmViewImage(UiSeam& seam, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::WindowMaximizeButtonHint),
      seam_(seam) {
    setObjectName(QStringLiteral("frmViewImage"));
    setWindowTitle(QStringLiteral("View Image"));
    resize(twipsSize(5730, 4515));  // the design size, until SizeToPicture runs

    toolBar_ = new QToolBar(this);
    toolBar_->setObjectName(QStringLiteral("tbView"));
    const auto action = [this](const char* name, const QString& text, const QKeySequence& key,
                               auto slot) {
        QAction* act = toolBar_->addAction(text);
        act->setObjectName(QLatin1String(name));
        act->setShortcut(key);
        act->setToolTip(text + QStringLiteral(" (") + key.toString(QKeySequence::NativeText) +
                        QLatin1Char(')'));
        connect(act, &QAction::triggered, this, slot);
        addAction(act);
        return act;
    };
    action("actFit", QStringLiteral("Fit to Window"), QKeySequence(Qt::CTRL | Qt::Key_F), [this] {
        viewChosen_ = true;
        zoomToFit();
    });
    action("actActualSize", QStringLiteral("100%"), QKeySequence(Qt::CTRL | Qt::Key_0),
           [this] { operatorZoom(1.0, std::nullopt); });
    action("actZoomIn", QStringLiteral("Zoom In"), QKeySequence::ZoomIn,
           [this] { operatorZoom(zoom_ * kZoomStep, std::nullopt); });
    action("actZoomOut", QStringLiteral("Zoom Out"), QKeySequence::ZoomOut,
           [this] { operatorZoom(zoom_ / kZoomStep, std::nullopt); });

    pbImage_ = new QLabel;
    pbImage_->setObjectName(QStringLiteral("pbImage"));
    pbImage_->setFrameStyle(QFrame::Box | QFrame::Plain);
    pbImage_->setLineWidth(1);
    pbImage_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    pbImage_->setMouseTracking(true);
    pbImage_->installEventFilter(this);

    scrollArea_ = new QScrollArea(this);
    scrollArea_->setObjectName(QStringLiteral("scrImage"));
    scrollArea_->setFrameShape(QFrame::NoFrame);
    scrollArea_->setWidget(pbImage_);  // owned by the scroll area
    scrollArea_->setWidgetResizable(false);
    // The opening view follows the window's room until the operator zooms or scrolls.
    scrollArea_->viewport()->installEventFilter(this);
    for (QScrollBar* bar : {scrollArea_->horizontalScrollBar(), scrollArea_->verticalScrollBar()}) {
        connect(bar, &QAbstractSlider::actionTriggered, this, [this] { viewChosen_ = true; });
    }

    lblStatus_ = new QLabel(this);
    lblStatus_->setObjectName(QStringLiteral("lblStatus"));
    lblStatus_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(toolBar_);
    column->addWidget(scrollArea_, 1);
    column->addWidget(lblStatus_);
}

void FrmViewImage::setRenderDetails(const RenderDetails& details) {
    plotted_ = details.plotted;
    readNote_ = QString::fromStdString(details.readNote);
    showSummary();
}

QString FrmViewImage::summaryText() const {
    if (readNote_.isEmpty()) return summary_;
    return summary_.isEmpty() ? readNote_ : summary_ + QStringLiteral("; ") + readNote_;
}

void FrmViewImage::showSummary() { lblStatus_->setText(summaryText()); }

void FrmViewImage::setRenderResult(const render::RenderResult& result) {
    summary_ = placedSummary(result);
    QStringList tip;
    const auto listAll = [&](const char* heading, const std::vector<std::string>& codes) {
        if (codes.empty()) return;
        QStringList all;
        for (const std::string& code : codes) {
            all << QString::fromStdString(render::escapeForDisplay(code));
        }
        tip << QLatin1String(heading) + all.join(QStringLiteral(" "));
    };
    listAll("Outside this map: ", result.outside);
    listAll("Not found: ", result.notFound);
    lblStatus_->setToolTip(tip.join(QLatin1Char('\n')));
    showSummary();
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
        fitOnScreen();
        // The window manager's frame is known only once it has framed the window.
        QTimer::singleShot(0, this, &FrmViewImage::fitOnScreen);
        QTimer::singleShot(250, this, &FrmViewImage::fitOnScreen);
    }
}

void FrmViewImage::fitOnScreen() {
    const QScreen* screen = this->screen();
    if (screen == nullptr || !isVisible()) return;
    const QRect area = screen->availableGeometry();
    const QRect frame = frameGeometry();
    const QSize decoration = frame.size() - size();
    const QSize client = size().boundedTo(area.size() - decoration);
    if (client != size()) resize(client);
    QRect outer(frame.topLeft(), client + decoration);
    if (outer.right() > area.right()) outer.moveRight(area.right());
    if (outer.bottom() > area.bottom()) outer.moveBottom(area.bottom());
    if (outer.left() < area.left()) outer.moveLeft(area.left());
    if (outer.top() < area.top()) outer.moveTop(area.top());
    if (outer.topLeft() != frame.topLeft()) move(outer.topLeft());
}

void FrmViewImage::load() {
    guardedResponse(
        seam_, this,
        [this] {
            if (!QFile::exists(imageFile_)) {
                throw Error::standard(err::kFileNotFound, kProgramTitle,
                                      QFile::encodeName(imageFile_).toStdString());
            }
            QImage picture;
            if (!picture.load(imageFile_)) {
                throw Error(err::kInvalidPicture, kProgramTitle,
                            "Invalid picture: " + QFile::encodeName(imageFile_).toStdString());
            }
            picture_ = std::move(picture);
            placeMarkers();
            zoom_ = 1.0;
            showAtZoom();
            SizeToPicture();
            showOpeningView();
        },
        windowTitle());
}

void FrmViewImage::placeMarkers() {
    markers_.clear();
    markersBox_ = {};
    const render::Bounds& b = lookupBounds_;
    if (plotted_.zips.empty() || b.maxLat == b.minLat || b.maxLon == b.minLon) return;
    QImage marker;
    if (!marker.load(QFile::decodeName(plotted_.marker.string().c_str()))) return;
    markerPicture_ = marker.convertToFormat(QImage::Format_RGB32);
    const QRect whole = picture_.rect();
    for (size_t i = 0; i < plotted_.zips.size() && i < plotted_.positions.size(); ++i) {
        const QRect rect =
            markerRect(plotted_.positions[i], b, picture_.size(), markerPicture_.size());
        if (!rect.intersects(whole)) continue;
        markers_.push_back(
            {rect, QString::fromStdString(render::escapeForDisplay(plotted_.zips[i]))});
        markersBox_ = markersBox_.united(rect & whole);
    }
}

QStringList FrmViewImage::codesAt(QPoint pixel) const {
    QStringList codes;
    for (auto it = markers_.rbegin(); it != markers_.rend(); ++it) {
        if (!it->rect.contains(pixel)) continue;
        // The engine's stamp leaves the map visible where the marker is white.
        const QPoint inMarker = pixel - it->rect.topLeft();
        if ((markerPicture_.pixel(inMarker) & 0xffffff) == 0xffffff) continue;
        if (!codes.contains(it->zip)) codes << it->zip;
    }
    return codes;
}

double FrmViewImage::scale() const {
    const double ratio = devicePixelRatioF() > 0 ? devicePixelRatioF() : 1.0;
    return zoom_ / ratio;
}

void FrmViewImage::setZoom(double zoom) {
    const QSize view = scrollArea_->viewport()->size();
    zoomAround(zoom, QPointF(view.width() / 2.0, view.height() / 2.0));
}

void FrmViewImage::zoomAround(double zoom, QPointF anchor) {
    if (picture_.isNull()) return;
    // The picture point under the anchor, in picture pixels, before the zoom changes.
    const QPointF inside(pbImage_->pos() + pbImage_->contentsRect().topLeft());
    const QPointF point = (anchor - inside) / scale();
    zoom_ = std::clamp(zoom, kMinZoom, kMaxZoom);
    showAtZoom();
    // Scrolled so that the same point lies under the anchor again (as far as the scroll
    // range allows; a picture smaller than the view is not scrolled).
    const QPointF offset = point * scale() + QPointF(pbImage_->contentsRect().topLeft()) - anchor;
    scrollArea_->horizontalScrollBar()->setValue(static_cast<int>(std::lround(offset.x())));
    scrollArea_->verticalScrollBar()->setValue(static_cast<int>(std::lround(offset.y())));
}

void FrmViewImage::showAtZoom() {
    const double ratio = devicePixelRatioF() > 0 ? devicePixelRatioF() : 1.0;
    // 100% is the picture itself, one picture pixel per device pixel; other zooms are
    // resampled once here, not on every paint.
    QPixmap shown;
    if (zoom_ == 1.0) {
        shown = QPixmap::fromImage(picture_);
    } else {
        const QSize size(std::max(1, static_cast<int>(std::lround(picture_.width() * zoom_))),
                         std::max(1, static_cast<int>(std::lround(picture_.height() * zoom_))));
        shown = QPixmap::fromImage(
            picture_.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }
    shown.setDevicePixelRatio(ratio);
    pbImage_->setPixmap(shown);
    // Auto-size: the inside of the box takes the displayed picture's size.
    const int frame = pbImage_->frameWidth();
    const QSizeF logical = shown.deviceIndependentSize();
    pbImage_->resize(static_cast<int>(std::ceil(logical.width())) + 2 * frame,
                     static_cast<int>(std::ceil(logical.height())) + 2 * frame);
}

void FrmViewImage::operatorZoom(double zoom, std::optional<QPointF> anchor) {
    viewChosen_ = true;
    if (anchor) {
        zoomAround(zoom, *anchor);
    } else {
        setZoom(zoom);
    }
}

void FrmViewImage::zoomToFit() {
    if (picture_.isNull()) return;
    // The room without scroll bars, which a fitted picture does not need.
    const QSize room = scrollArea_->maximumViewportSize() - QSize(4, 4);
    const double ratio = devicePixelRatioF() > 0 ? devicePixelRatioF() : 1.0;
    const double fit = std::min(room.width() * ratio / picture_.width(),
                                room.height() * ratio / picture_.height());
    setZoom(fit);
}

void FrmViewImage::showOpeningView() {
    // Zooming resizes the view (scroll bars come and go), which asks for this again.
    if (picture_.isNull() || viewChosen_ || applyingView_) return;
    const QScopedValueRollback applying(applyingView_, true);
    const double ratio = devicePixelRatioF() > 0 ? devicePixelRatioF() : 1.0;
    const QSize room = scrollArea_->maximumViewportSize();
    const int frame = 2 * pbImage_->frameWidth();
    const bool larger = picture_.width() / ratio + frame > room.width() ||
                        picture_.height() / ratio + frame > room.height();
    const QSize markers = markersBox_.size() / ratio;
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, scrollArea_);
    if (larger && !markersBox_.isEmpty() && markers.width() + frame + bar <= room.width() &&
        markers.height() + frame + bar <= room.height()) {
        // Every marker in view at 100%: sharp, and each click lands on its own pixel.
        zoom_ = 1.0;
        showAtZoom();
        const QSize view = scrollArea_->viewport()->size();
        const QPointF centre =
            QRectF(markersBox_).center() / ratio + QPointF(pbImage_->contentsRect().topLeft());
        scrollArea_->horizontalScrollBar()->setValue(
            static_cast<int>(std::lround(centre.x() - view.width() / 2.0)));
        scrollArea_->verticalScrollBar()->setValue(
            static_cast<int>(std::lround(centre.y() - view.height() / 2.0)));
    } else if (larger) {
        zoomToFit();
    } else if (zoom_ != 1.0) {
        setZoom(1.0);
    }
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
    const FrameExtras extras = sizeExtrasTwips(kTwipsPerPixel, border, caption, hasMenu, 0);

    // Outer size in twips, as single precision; then the client size the frame leaves.
    const auto outerWidth =
        static_cast<float>(static_cast<double>(pbImage_->width()) * kTwipsPerPixel + extras.width);
    const auto outerHeight = static_cast<float>(
        static_cast<double>(pbImage_->height()) * kTwipsPerPixel + extras.height);
    const int frameWidth = margins.left() + margins.right();
    const int frameHeight = margins.top() + margins.bottom();
    QSize client(std::max(static_cast<int>(std::lround(outerWidth / kTwipsPerPixel)) - frameWidth,
                          pbImage_->width()),
                 std::max(static_cast<int>(std::lround(outerHeight / kTwipsPerPixel)) - frameHeight,
                          pbImage_->height()));
    client.rheight() += toolBar_->sizeHint().height() + lblStatus_->sizeHint().height();

    // Never larger than the screen's available area: a larger picture scrolls. Before
    // the window manager has framed the window, a caption's height is allowed for.
    if (const QScreen* screen = this->screen()) {
        const QSize area = screen->availableGeometry().size();
        const int frameW = frameWidth > 0 ? frameWidth : 2 * border;
        const int frameH = frameHeight > 0 ? frameHeight : caption + 2 * border;
        client = client.boundedTo(area - QSize(frameW, frameH));
    }
    resize(client);
}

bool FrmViewImage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == scrollArea_->viewport() && event->type() == QEvent::Resize) {
        showOpeningView();
        return false;
    }
    if (watched == pbImage_ && event->type() == QEvent::Wheel) {
        const auto* wheel = static_cast<QWheelEvent*>(event);
        if (!(wheel->modifiers() & Qt::ControlModifier)) return false;  // plain wheel scrolls
        const double notches = wheel->angleDelta().y() / 120.0;
        if (notches != 0) {
            const QPointF anchor = pbImage_->mapTo(scrollArea_->viewport(), wheel->position());
            operatorZoom(zoom_ * std::pow(kZoomStep, notches), anchor);
        }
        return true;
    }
    if (watched == pbImage_ &&
        (event->type() == QEvent::MouseButtonRelease || event->type() == QEvent::MouseMove)) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        // Picture pixels: inside the box's frame, origin at the picture's top-left, at
        // any zoom and scroll position.
        const QPointF inside = mouse->position() - QPointF(pbImage_->contentsRect().topLeft());
        if (event->type() == QEvent::MouseMove) {
            showPointer(inside);
            return false;
        }
        const QPoint pixel = picturePixel(inside, scale());
        lookupAt(pixel.x(), pixel.y());
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void FrmViewImage::showPointer(QPointF displayed) {
    if (picture_.isNull()) return;
    const QPoint pixel = picturePixel(displayed, scale());
    const render::Bounds& b = lookupBounds_;
    QString text;
    if (b.maxLat != b.minLat && b.maxLon != b.minLon) {
        // The engine's projection, the other way round: edges of the picture are the bounds.
        const double lon = b.minLon + pixel.x() * (b.maxLon - b.minLon) / picture_.width();
        const double lat = b.maxLat - pixel.y() * (b.maxLat - b.minLat) / picture_.height();
        text = QStringLiteral("%1, %2").arg(lat, 0, 'f', 4).arg(lon, 0, 'f', 4);
    }
    text = QStringLiteral("x %1, y %2").arg(pixel.x()).arg(pixel.y()) +
           (text.isEmpty() ? QString() : QStringLiteral("   lat/lon ") + text);
    const QString under = codesUnderText(codesAt(pixel));
    if (!under.isEmpty()) text += QStringLiteral("   ") + under;
    const QString summary = summaryText();
    if (!summary.isEmpty()) text += QStringLiteral("   |   ") + summary;
    lblStatus_->setText(text);
}

void FrmViewImage::lookupAt(double x, double y) {
    guardedResponse(
        seam_, this,
        [&] {
            render::LookupRequest request;  // one engine object per click
            request.map = std::filesystem::path(QFile::encodeName(lookupMapFile_).toStdString());
            request.bounds = lookupBounds_;
            request.connection = "ZipCodes";
            request.x = roundToInt32(x);
            request.y = roundToInt32(y);
            const render::LookupResult found = render::lookupPixel(request);
            const QString text = found.zip
                                     ? QString::fromStdString(*found.zip)
                                     : QStringLiteral("Please supply a Zip code to search by.");
            seam_.showMessage(this, text, QLatin1String(kProgramTitle), MessageIcon::None);
        },
        windowTitle());
}

}  // namespace zembra::client
