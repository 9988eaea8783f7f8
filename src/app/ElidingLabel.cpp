#include "ElidingLabel.h"

#include <QResizeEvent>

namespace zerbrak {

ElidingLabel::ElidingLabel(Qt::TextElideMode mode, QWidget* parent) : QLabel(parent), mode_(mode) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidingLabel::setFullText(const QString& text) {
    full_ = text;
    setToolTip(text);
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
