#include "StatusLine.h"

#include "ElidingLabel.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QStatusBar>
#include <QToolButton>

namespace zerbrak {

StatusLine::StatusLine(QStatusBar& bar)
    : QObject(&bar), input_(new QLabel(&bar)), result_(new ElidingLabel(Qt::ElideMiddle, &bar)),
      copy_(new QToolButton(&bar)) {
    input_->setObjectName(QStringLiteral("statusInput"));
    result_->setObjectName(QStringLiteral("statusResult"));
    input_->setTextFormat(Qt::PlainText);
    result_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Each takes the width of its whole text when the bar has it; a long file name or report
    // never widens the window past the screen, and its tooltip holds it whole. The input is
    // cut at its edge, the report in the middle, so that the folder it names at its end stays
    // in view.
    input_->setMinimumWidth(1);
    result_->setContentsMargins(16, 0, 0, 0);
    copy_->setText(QStringLiteral("Copy path"));
    copy_->setToolTip(QStringLiteral("Copy the path of the last frame"));
    copy_->hide();
    bar.addWidget(input_);
    bar.addWidget(result_, 1);
    bar.addWidget(copy_);
    connect(copy_, &QToolButton::clicked, this,
            [this] { QApplication::clipboard()->setText(lastPath_); });
}

void StatusLine::setInput(const QString& input, const QString& pass) {
    input_->setText(input + QStringLiteral(" \u2014 ") + pass);
    input_->setToolTip(input_->text());
}

void StatusLine::setResult(const QString& result, const QString& lastPath) {
    result_->setFullText(result);
    lastPath_ = lastPath;
    copy_->setVisible(!lastPath.isEmpty());
}

} // namespace zerbrak
