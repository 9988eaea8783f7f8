#include "WidgetDesktop.h"

#include "desktop/Reveal.h"
#include "view/PictureView.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace zerbrak {

WidgetDesktop::WidgetDesktop(QWidget& window, PictureView& imageView)
    : window_(&window), imageView_(&imageView) {}

WidgetDesktop::~WidgetDesktop() = default;

void WidgetDesktop::showImage(const QImage& image) {
    imageView_->setImage(image);
}

void WidgetDesktop::alertOutputFailed(const QString& outputPath) {
    QMessageBox alert(window_);
    alert.setObjectName(QStringLiteral("outputFailedAlert"));
    alert.setIcon(QMessageBox::Warning);
    alert.setWindowTitle(outputPath);
    // The path is data: shown as it is, never read as markup.
    alert.setTextFormat(Qt::PlainText);
    alert.setText(outputPath);
    QPushButton* button = alert.addButton(QStringLiteral("Open of testout for writing failed"),
                                          QMessageBox::AcceptRole);
    alert.setDefaultButton(button);
    alert.setEscapeButton(button);
    alert.exec();
}

void WidgetDesktop::alertRunFailed(const QString& message) {
    QMessageBox alert(window_);
    alert.setObjectName(QStringLiteral("runFailedAlert"));
    alert.setIcon(QMessageBox::Warning);
    alert.setWindowTitle(QStringLiteral("Zerbrak"));
    alert.setTextFormat(Qt::PlainText);
    alert.setText(message);
    alert.setStandardButtons(QMessageBox::Ok);
    alert.exec();
}

bool WidgetDesktop::seriesProgress(int frame, int frames, int attempt) {
    if (frames <= 1) {
        // One frame is over in a moment; a dialog would only flash.
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        return true;
    }
    if (!progress_) {
        progress_ = std::make_unique<QProgressDialog>(window_);
        progress_->setObjectName(QStringLiteral("seriesProgress"));
        progress_->setWindowTitle(QStringLiteral("Glitching"));
        progress_->setWindowModality(Qt::WindowModal);
        progress_->setMinimumDuration(0);
        progress_->setAutoClose(false);
        progress_->setAutoReset(false);
        progress_->setRange(0, frames);
    }
    if (progress_->wasCanceled()) {
        return false;
    }
    progress_->setLabelText(attempt == 0
                                ? QStringLiteral("Frame %1 of %2").arg(frame + 1).arg(frames)
                                : QStringLiteral("Frame %1 of %2, attempt %3 of 11")
                                      .arg(frame + 1)
                                      .arg(frames)
                                      .arg(attempt + 1));
    progress_->setValue(frame);
    // Repaint the frame just shown and let Cancel through; the dialog keeps the window's
    // other controls out of reach meanwhile.
    QApplication::processEvents();
    return !progress_->wasCanceled();
}

void WidgetDesktop::seriesFinished() {
    progress_.reset();
}

void WidgetDesktop::revealFolder(const QString& folderPath) {
    revealInFileManager(folderPath);
}

} // namespace zerbrak
