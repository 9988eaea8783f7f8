#include "PictureView.h"

#include "platform/QueuedCall.h"

#include <QPainter>
#include <QResizeEvent>
#include <algorithm>
#include <cmath>

namespace zerbrak {
namespace {

// After the last resize step, how long to wait before scaling the picture smoothly again.
constexpr int rescaleDelayMs = 150;

bool drawable(QSizeF size) {
    return size.width() > 0.0 && size.height() > 0.0 && std::isfinite(size.width()) &&
           std::isfinite(size.height());
}

QImage scaledTo(const QImage& image, QSize pixels) {
    if (image.isNull() || pixels.isEmpty()) {
        return {};
    }
    return pixels == image.size()
               ? image
               : image.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace

PictureView::PictureView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(320, 200);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    rescaleTimer_.setSingleShot(true);
    rescaleTimer_.setInterval(rescaleDelayMs);
    connect(&rescaleTimer_, &QTimer::timeout, this, &PictureView::rescale);
    // One copy at a time: a newer request makes the older copy useless anyway.
    rescalePool_.setMaxThreadCount(1);
}

PictureView::~PictureView() = default;

PictureView::ViewGeometry PictureView::viewGeometry() const {
    const std::lock_guard lock(geometryMutex_);
    return geometry_;
}

QRectF PictureView::bounds() const {
    const ViewGeometry current = viewGeometry();
    return current.bounds.value_or(QRectF(QPointF(0.0, 0.0), QSizeF(current.areaPixels)));
}

void PictureView::setBounds(const QRectF& rect) {
    {
        const std::lock_guard lock(geometryMutex_);
        geometry_.bounds = rect;
    }
    geometryChanged();
}

void PictureView::setLogicalSize(QSizeF size) {
    logicalSize_ = size;
    geometryChanged();
}

QSize PictureView::drawnPixels(QSizeF size, const ViewGeometry& view) {
    const QSizeF area(view.areaPixels);
    const QSizeF bounds = view.bounds ? view.bounds->size() : area;
    if (!drawable(area) || !drawable(bounds) || !drawable(size)) {
        return {};
    }
    const bool fits = size.width() <= bounds.width() && size.height() <= bounds.height();
    const QSizeF inBounds = fits ? size : size.scaled(bounds, Qt::KeepAspectRatio);
    const double unitPixels =
        std::min(area.width() / bounds.width(), area.height() / bounds.height());
    const QSizeF pixels = inBounds * unitPixels;
    if (!drawable(pixels)) {
        return {};
    }
    return QSize(qRound(pixels.width()), qRound(pixels.height())).expandedTo(QSize(1, 1));
}

QImage PictureView::displayCopy(const QImage& image, const ViewGeometry& view) {
    return scaledTo(image, drawnPixels(QSizeF(image.size()), view));
}

void PictureView::setImage(const QImage& image) {
    image_ = image;
    logicalSize_ = QSizeF(image.size());
    ++rescaleGeneration_; // a copy under way is of the picture before
    display_ = displayCopy(image_, viewGeometry());
    update();
}

void PictureView::setImage(const QImage& image, const QImage& display) {
    image_ = image;
    logicalSize_ = QSizeF(image.size());
    display_ = display;
    ++rescaleGeneration_;
    if (display_.size() != drawnPixels(logicalSize_, viewGeometry())) {
        rescale();
    }
    update();
}

void PictureView::resizeEvent(QResizeEvent* event) {
    {
        const std::lock_guard lock(geometryMutex_);
        geometry_.areaPixels = (QSizeF(event->size()) * devicePixelRatioF()).toSize();
    }
    if (!image_.isNull()) {
        rescaleTimer_.start();
    }
    QWidget::resizeEvent(event);
}

void PictureView::geometryChanged() {
    rescaleTimer_.stop();
    rescale();
    update();
}

void PictureView::rescale() {
    const quint64 generation = ++rescaleGeneration_;
    const QSize pixels = drawnPixels(logicalSize_, viewGeometry());
    if (display_.size() == pixels) {
        return;
    }
    if (pixels.isEmpty()) {
        display_ = {};
        return;
    }
    // Scaling a large picture smoothly takes longer than a frame: never on this thread.
    startPooled(rescalePool_, [this, image = image_, pixels, generation] {
        QImage copy = scaledTo(image, pixels);
        postQueued(this, [this, copy = std::move(copy), generation]() mutable {
            if (generation == rescaleGeneration_) {
                display_ = std::move(copy);
                update();
            }
        });
    });
}

void PictureView::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0x20, 0x20, 0x22));
    const QSize pixels = drawnPixels(logicalSize_, viewGeometry());
    if (image_.isNull() || pixels.isEmpty()) {
        return;
    }
    // The bounds sit centred in the widget and the picture centred in the bounds.
    const QSizeF drawn = QSizeF(pixels) / devicePixelRatioF();
    const QRectF target(QPointF((width() - drawn.width()) / 2.0, (height() - drawn.height()) / 2.0),
                        drawn);
    if (display_.size() == pixels) {
        painter.drawImage(target, display_); // pixel for pixel: cheap
        return;
    }
    // Until the smooth copy is back: a quick, rough scale.
    painter.drawImage(target, image_);
}

} // namespace zerbrak
