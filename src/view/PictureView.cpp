#include "PictureView.h"

#include <QPainter>

namespace zerbrak {

PictureView::PictureView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(320, 200);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void PictureView::setImage(const QImage& image) {
    image_ = image;
    update();
}

void PictureView::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0x20, 0x20, 0x22));
    if (image_.isNull()) {
        return;
    }
    // Large pictures shrink to fit; small ones keep their size so that damage stays crisp.
    const QSizeF pictureSize = image_.deviceIndependentSize();
    QSizeF drawn = pictureSize;
    if (drawn.width() > width() || drawn.height() > height()) {
        drawn = pictureSize.scaled(QSizeF(size()), Qt::KeepAspectRatio);
    }
    const QRectF target(QPointF((width() - drawn.width()) / 2.0, (height() - drawn.height()) / 2.0),
                        drawn);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, drawn != pictureSize);
    painter.drawImage(target, image_);
}

} // namespace zerbrak
