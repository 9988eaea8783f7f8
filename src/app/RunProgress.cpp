#include "RunProgress.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace zerbrak {

RunProgress::RunProgress(QWidget* parent)
    : QWidget(parent), label_(new QLabel(this)), bar_(new QProgressBar(this)),
      cancel_(new QPushButton(QStringLiteral("Cancel"), this)) {
    setObjectName(QStringLiteral("runProgress"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label_);
    layout->addWidget(bar_);
    layout->addWidget(cancel_);
    cancel_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    bar_->setTextVisible(false);
    bar_->setMaximumWidth(160);
    cancel_->setToolTip(QStringLiteral("Stop after the pass under way (Esc)"));
    cancel_->setShortcut(Qt::Key_Escape);
    connect(cancel_, &QPushButton::clicked, this, &RunProgress::canceled);
    showTimer_.setSingleShot(true);
    showTimer_.setInterval(showDelayMs);
    connect(&showTimer_, &QTimer::timeout, this, &QWidget::show);
    hide();
}

void RunProgress::start(const QString& label) {
    label_->setText(label);
    bar_->setRange(0, 0);
    cancel_->setEnabled(true);
    showTimer_.start();
}

void RunProgress::setProgress(const QString& label, int value, int maximum) {
    label_->setText(label);
    bar_->setRange(0, std::max(maximum, 1));
    bar_->setValue(value);
}

void RunProgress::cancelling() {
    label_->setText(QStringLiteral("Cancelling after the pass under way\u2026"));
    cancel_->setEnabled(false);
}

void RunProgress::finish() {
    showTimer_.stop();
    hide();
}

QString RunProgress::labelText() const {
    return label_->text();
}

} // namespace zerbrak
