#include "ElidingLabel.h"

#include <QResizeEvent>

namespace zerbrak {

ElidingLabel::ElidingLabel(Qt::TextElideMode mode, QWidget* parent) : QLabel(parent), mode_(mode) {
    setTextFormat(Qt::PlainText);
}

QSize ElidingLabel::sizeHint() const {
    const QMargins margins = contentsMargins();
    return {fontMetrics().horizontalAdvance(full_) + margins.left() + margins.right(),
            QLabel::sizeHint().height()};
}

QSize ElidingLabel::minimumSizeHint() const {
    return {fontMetrics().horizontalAdvance(QStringLiteral("\u2026")),
            QLabel::minimumSizeHint().height()};
}

void ElidingLabel::setFullText(const QString& text) {
    full_ = text;
    setToolTip(text);
    updateGeometry(); // another width wished for
    elide();
}

void ElidingLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void ElidingLabel::elide() {
    const QString shown = fontMetrics().elidedText(full_, mode_, contentsRect().width());
    if (shown != text()) {
        setText(shown);
    }
}

} // namespace zerbrak
