#include "PictureView.h"

#include "platform/QueuedCall.h"
#include "view/FitRule.h"

#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace zerbrak {
namespace {

// After the last resize step, how long to wait before scaling the picture smoothly again.
constexpr int rescaleDelayMs = 150;
// Far beyond any screen, well inside int: a size past it is not drawn.
constexpr double largestDrawn = 1 << 28;

bool drawable(QSizeF size) {
    return size.width() > 0.0 && size.height() > 0.0 && size.width() < largestDrawn &&
           size.height() < largestDrawn;
}

QSize drawnPixels(QSizeF size) {
    if (!drawable(size)) {
        return {};
    }
    return QSize(qRound(size.width()), qRound(size.height())).expandedTo(QSize(1, 1));
}

QSizeF fitted(QSizeF picture, QSize area) {
    const SizeD size = fitSize(picture.width(), picture.height(), area.width(), area.height());
    return {size.width, size.height};
}

// Only a picture drawn smaller than its pixels is drawn from a smooth copy; larger, its pixels
// are drawn as blocks.
bool needsCopy(QSize pixels, QSize picture) {
    return !pixels.isEmpty() &&
           (pixels.width() < picture.width() || pixels.height() < picture.height());
}

QImage scaledTo(const QImage& image, QSize pixels) {
    if (image.isNull() || pixels.isEmpty()) {
        return {};
    }
    return image.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace

PictureView::PictureView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
    // Clicked, it takes the arrow keys for scrolling; the tab chain and the first focus stay
    // with the controls.
    setFocusPolicy(Qt::ClickFocus);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
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
    return {QPointF(0.0, 0.0), QSizeF(viewGeometry().areaPixels)};
}

QSizeF PictureView::naturalSize(QSizeF picture, QSize area) {
    const bool fits = picture.width() <= area.width() && picture.height() <= area.height();
    return fits || area.isEmpty() ? picture : fitted(picture, area);
}

QImage PictureView::displayCopy(const QImage& image, const ViewGeometry& view) {
    const QSize pixels = drawnPixels(naturalSize(QSizeF(image.size()), view.areaPixels));
    return needsCopy(pixels, image.size()) ? scaledTo(image, pixels) : QImage();
}

QSizeF PictureView::logicalSizeIn(const ViewGeometry& view) const {
    if (image_.isNull()) {
        return {};
    }
    const QSizeF own(image_.size());
    switch (sizing_) {
    case Sizing::Natural:
        return naturalSize(own, view.areaPixels);
    case Sizing::Fitted:
        return fitted(own, view.areaPixels);
    case Sizing::Fixed:
        break;
    }
    return fixedSize_;
}

QSizeF PictureView::logicalSize() const {
    return logicalSizeIn(viewGeometry());
}

QSize PictureView::shownPixels() const {
    return drawnPixels(logicalSize());
}

double PictureView::zoom() const {
    return image_.isNull() ? 0.0 : logicalSize().width() / image_.width();
}

void PictureView::setLogicalSize(QSizeF size) {
    changeSizing(Sizing::Fixed, size);
}

void PictureView::fitToArea() {
    changeSizing(Sizing::Fitted, {});
}

void PictureView::zoomTo(double zoom) {
    if (!image_.isNull() && zoom > 0.0 && std::isfinite(zoom)) {
        changeSizing(Sizing::Fixed, QSizeF(image_.size()) * zoom);
    }
}

void PictureView::setImage(const QImage& image) {
    setImage(image, QImage());
}

void PictureView::setImage(const QImage& image, const QImage& display) {
    image_ = image;
    sizing_ = Sizing::Natural; // every picture comes at its own size, whatever the one before
    display_ = display;
    dragFrom_.reset();
    updateScrollBars();
    geometryChanged(); // keeps `display` when it is the copy needed
}

void PictureView::changeSizing(Sizing sizing, QSizeF fixedSize) {
    // The point of the picture at the area's centre stays there.
    const QRectF before = pictureRect(shownPixels());
    const QPointF centre(viewport()->width() / 2.0, viewport()->height() / 2.0);
    const QPointF at = before.isEmpty() ? QPointF(0.5, 0.5)
                                        : QPointF((centre.x() - before.left()) / before.width(),
                                                  (centre.y() - before.top()) / before.height());
    sizing_ = sizing;
    fixedSize_ = fixedSize;
    updateScrollBars();
    const QSizeF drawn = QSizeF(shownPixels()) / devicePixelRatioF();
    horizontalScrollBar()->setValue(qRound(at.x() * drawn.width() - centre.x()));
    verticalScrollBar()->setValue(qRound(at.y() * drawn.height() - centre.y()));
    geometryChanged();
}

void PictureView::updateScrollBars() {
    const QSizeF drawn = QSizeF(shownPixels()) / devicePixelRatioF();
    const QSize port = viewport()->size();
    // A fitted or natural size fits by construction; a rounding over by a pixel must not
    // bring up a bar, which would narrow the area and refit, and take the bar away again.
    const bool scrolls = sizing_ == Sizing::Fixed;
    const int across =
        scrolls ? std::max(0, static_cast<int>(std::ceil(drawn.width() - port.width()))) : 0;
    const int down =
        scrolls ? std::max(0, static_cast<int>(std::ceil(drawn.height() - port.height()))) : 0;
    horizontalScrollBar()->setRange(0, across);
    horizontalScrollBar()->setPageStep(port.width());
    horizontalScrollBar()->setSingleStep(24);
    verticalScrollBar()->setRange(0, down);
    verticalScrollBar()->setPageStep(port.height());
    verticalScrollBar()->setSingleStep(24);
    if (dragFrom_) {
        return;
    }
    if (across > 0 || down > 0) {
        viewport()->setCursor(Qt::OpenHandCursor);
    } else {
        viewport()->unsetCursor();
    }
}

QRectF PictureView::pictureRect(QSize pixels) const {
    if (pixels.isEmpty()) {
        return {};
    }
    const QSizeF drawn = QSizeF(pixels) / devicePixelRatioF();
    const QSizeF port(viewport()->size());
    const auto place = [](double drawnLength, double portLength, const QScrollBar* bar) {
        // Whole units, so that a picture at 100 % lands on whole pixels.
        return drawnLength > portLength && bar->maximum() > 0
                   ? -static_cast<double>(bar->value())
                   : std::round((portLength - drawnLength) / 2.0);
    };
    return {QPointF(place(drawn.width(), port.width(), horizontalScrollBar()),
                    place(drawn.height(), port.height(), verticalScrollBar())),
            drawn};
}

void PictureView::resizeEvent(QResizeEvent* event) {
    {
        const std::lock_guard lock(geometryMutex_);
        geometry_.areaPixels = (QSizeF(viewport()->size()) * devicePixelRatioF()).toSize();
    }
    updateScrollBars();
    reportZoom();
    if (!image_.isNull()) {
        rescaleTimer_.start();
    }
    QAbstractScrollArea::resizeEvent(event);
}

void PictureView::scrollContentsBy(int /*dx*/, int /*dy*/) {
    viewport()->update();
}

void PictureView::mousePressEvent(QMouseEvent* event) {
    const bool scrolls = horizontalScrollBar()->maximum() > 0 || verticalScrollBar()->maximum() > 0;
    if (event->button() == Qt::LeftButton && scrolls) {
        dragFrom_ = event->position().toPoint();
        viewport()->setCursor(Qt::ClosedHandCursor);
        event->accept();
        return;
    }
    QAbstractScrollArea::mousePressEvent(event);
}

void PictureView::mouseMoveEvent(QMouseEvent* event) {
    if (!dragFrom_) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    const QPoint now = event->position().toPoint();
    const QPoint moved = now - *dragFrom_;
    dragFrom_ = now;
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() - moved.x());
    verticalScrollBar()->setValue(verticalScrollBar()->value() - moved.y());
    event->accept();
}

void PictureView::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragFrom_ || event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    dragFrom_.reset();
    updateScrollBars(); // the open hand again
    event->accept();
}

void PictureView::wheelEvent(QWheelEvent* event) {
    if (!(event->modifiers() & Qt::ControlModifier)) {
        QAbstractScrollArea::wheelEvent(event); // scrolls
        return;
    }
    // A fine-grained wheel or touchpad sends parts of a notch: whole notches are steps.
    constexpr int notch = 120;
    wheelZoomAngle_ += event->angleDelta().y();
    const int steps = wheelZoomAngle_ / notch;
    wheelZoomAngle_ -= steps * notch;
    if (steps != 0) {
        emit zoomStepsRequested(steps);
    }
    event->accept();
}

void PictureView::geometryChanged() {
    rescaleTimer_.stop();
    rescale();
    viewport()->update();
    reportZoom();
}

void PictureView::reportZoom() {
    const double now = zoom();
    if (now != reportedZoom_) {
        reportedZoom_ = now;
        emit zoomChanged(now);
    }
}

void PictureView::rescale() {
    const quint64 generation = ++rescaleGeneration_; // a copy under way is of the view before
    const QSize pixels = shownPixels();
    if (!needsCopy(pixels, image_.size())) {
        display_ = {};
        return;
    }
    if (display_.size() == pixels) {
        return;
    }
    // Scaling a large picture smoothly takes longer than a frame: never on this thread.
    startPooled(rescalePool_, [this, image = image_, pixels, generation] {
        QImage copy = scaledTo(image, pixels);
        postQueued(this, [this, copy = std::move(copy), generation]() mutable {
            if (generation == rescaleGeneration_) {
                display_ = std::move(copy);
                viewport()->update();
            }
        });
    });
}

void PictureView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.fillRect(event->rect(), QColor(0x20, 0x20, 0x22));
    const QSize pixels = shownPixels();
    if (image_.isNull() || pixels.isEmpty()) {
        return;
    }
    const QRectF target = pictureRect(pixels);
    if (!display_.isNull() && display_.size() == pixels) {
        painter.drawImage(target, display_); // pixel for pixel: cheap
        return;
    }
    if (pixels == image_.size()) {
        painter.drawImage(target, image_);
        return;
    }
    // Larger than its pixels, or smaller until the smooth copy is back: only the whole
    // pixels of the part in view, each drawn as a block.
    const QRectF visible = target.intersected(QRectF(event->rect()));
    if (visible.isEmpty()) {
        return;
    }
    const double across = target.width() / image_.width(); // units a pixel takes
    const double down = target.height() / image_.height();
    const auto first = [](double offset, double unit, int length) {
        return std::clamp(static_cast<int>(std::floor(offset / unit)), 0, length);
    };
    const auto last = [](double offset, double unit, int from, int length) {
        return std::clamp(static_cast<int>(std::ceil(offset / unit)), from, length);
    };
    const int left = first(visible.left() - target.left(), across, image_.width());
    const int right = last(visible.right() - target.left(), across, left, image_.width());
    const int top = first(visible.top() - target.top(), down, image_.height());
    const int bottom = last(visible.bottom() - target.top(), down, top, image_.height());
    const QRect source(left, top, right - left, bottom - top);
    if (source.isEmpty()) {
        return;
    }
    const QRectF part(target.left() + left * across, target.top() + top * down,
                      source.width() * across, source.height() * down);
    painter.drawImage(part, image_, source);
}

} // namespace zerbrak
