#include "PictureView.h"

#include <QPainter>
#include <QResizeEvent>

namespace zerbrak {
namespace {

// After the last resize step, how long to wait before scaling the picture smoothly again.
constexpr int rescaleDelayMs = 150;

QSize fittedSize(QSize picture, QSize area) {
    if (picture.width() <= area.width() && picture.height() <= area.height()) {
        return picture;
    }
    return picture.scaled(area, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

} // namespace

PictureView::PictureView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(320, 200);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    rescaleTimer_.setSingleShot(true);
    rescaleTimer_.setInterval(rescaleDelayMs);
    connect(&rescaleTimer_, &QTimer::timeout, this, &PictureView::rescale);
}

QSize PictureView::areaPixels() const {
    const std::uint64_t packed = areaPixels_.load();
    return {static_cast<int>(packed >> 32U), static_cast<int>(packed & 0xffffffffU)};
}

QImage PictureView::displayCopy(const QImage& image, QSize area) {
    if (image.isNull() || area.isEmpty()) {
        return {};
    }
    const QSize fitted = fittedSize(image.size(), area);
    return fitted == image.size()
               ? image
               : image.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

void PictureView::setImage(const QImage& image) {
    image_ = image;
    display_ = displayCopy(image_, areaPixels());
    update();
}

void PictureView::setImage(const QImage& image, const QImage& display) {
    image_ = image;
    display_ = display;
    if (display_.size() != fittedSize(image_.size(), areaPixels())) {
        rescaleTimer_.start();
    }
    update();
}

void PictureView::resizeEvent(QResizeEvent* event) {
    const QSize pixels = (QSizeF(event->size()) * devicePixelRatioF()).toSize();
    areaPixels_ = (static_cast<std::uint64_t>(pixels.width()) << 32U) |
                  static_cast<std::uint32_t>(pixels.height());
    if (!image_.isNull()) {
        rescaleTimer_.start();
    }
    QWidget::resizeEvent(event);
}

void PictureView::rescale() {
    display_ = displayCopy(image_, areaPixels());
    update();
}

void PictureView::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0x20, 0x20, 0x22));
    if (image_.isNull()) {
        return;
    }
    // Large pictures shrink to fit; small ones keep their size so that damage stays crisp.
    const qreal ratio = devicePixelRatioF();
    const QSize fitted = fittedSize(image_.size(), areaPixels());
    const QSizeF drawn = QSizeF(fitted) / ratio;
    const QRectF target(QPointF((width() - drawn.width()) / 2.0, (height() - drawn.height()) / 2.0),
                        drawn);
    if (display_.size() == fitted) {
        painter.drawImage(target, display_); // pixel for pixel: cheap
        return;
    }
    // Mid-resize: a quick, rough scale until rescale() has made the smooth copy.
    painter.drawImage(target, image_);
}

} // namespace zerbrak
