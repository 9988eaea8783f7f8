#include "WidgetDesktop.h"

#include "RunProgress.h"
#include "desktop/Reveal.h"
#include "platform/QueuedCall.h"
#include "view/PictureView.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QThread>

namespace zerbrak {
namespace {

void execAlert(QWidget* parent, const QString& objectName, const QString& title,
               const QString& text, const QString& buttonText, const QString& reason = {}) {
    QMessageBox alert(parent);
    alert.setObjectName(objectName);
    alert.setIcon(QMessageBox::Warning);
    alert.setWindowTitle(title);
    // Paths and messages are data: shown as they are, never read as markup.
    alert.setTextFormat(Qt::PlainText);
    alert.setText(text);
    alert.setInformativeText(reason);
    QPushButton* button = alert.addButton(buttonText, QMessageBox::AcceptRole);
    alert.setDefaultButton(button);
    alert.setEscapeButton(button);
    alert.exec();
}

QString progressLabel(int frame, int frames, int attempt) {
    return attempt == 0 ? QStringLiteral("Frame %1 of %2").arg(frame + 1).arg(frames)
                        : QStringLiteral("Frame %1 of %2, attempt %3 of 11")
                              .arg(frame + 1)
                              .arg(frames)
                              .arg(attempt + 1);
}

} // namespace

WidgetDesktop::WidgetDesktop(QMainWindow& window, PictureView& imageView)
    : window_(&window), imageView_(&imageView), progress_(new RunProgress(&window)) {
    window.statusBar()->addPermanentWidget(progress_);
    QObject::connect(progress_, &RunProgress::canceled, &guiSide_, [this] { cancelRun(); });
}

WidgetDesktop::~WidgetDesktop() = default;

bool WidgetDesktop::onGuiThread() const {
    return QThread::currentThread() == guiSide_.thread();
}

void WidgetDesktop::post(std::function<void()> call) {
    postQueued(&guiSide_, std::move(call));
}

void WidgetDesktop::postAndWait(std::function<void()> call) {
    if (onGuiThread()) {
        call();
        return;
    }
    auto done = std::make_shared<bool>(false);
    post([this, call = std::move(call), done] {
        call();
        const std::lock_guard lock(handoffMutex_);
        *done = true;
        handoffDone_.notify_all();
    });
    std::unique_lock lock(handoffMutex_);
    handoffDone_.wait(lock, [&] { return *done || shuttingDown_; });
}

void WidgetDesktop::shutDown() {
    const std::lock_guard lock(handoffMutex_);
    shuttingDown_ = true;
    handoffDone_.notify_all();
}

void WidgetDesktop::showImage(const QImage& image) {
    if (onGuiThread()) {
        imageView_->setImage(image);
        return;
    }
    // The scaled copy is made here, on the run's thread: drawing a large picture scaled would
    // hold the GUI thread for longer than a frame.
    QImage display = PictureView::displayCopy(image, imageView_->viewGeometry());
    post([view = imageView_, image, display = std::move(display)] {
        view->setImage(image, display);
    });
}

void WidgetDesktop::alertOutputFailed(const QString& outputPath, const QString& reason) {
    postAndWait([this, outputPath, reason] {
        execAlert(window_, QStringLiteral("outputFailedAlert"), outputPath, outputPath,
                  QStringLiteral("Open of testout for writing failed"), reason);
    });
}

void WidgetDesktop::alertRunFailed(const QString& message) {
    postAndWait([this, message] {
        execAlert(window_, QStringLiteral("runFailedAlert"), QStringLiteral("Zerbrak"), message,
                  QStringLiteral("OK"));
    });
}

bool WidgetDesktop::seriesProgress(int frame, int frames, int attempt) {
    return reportProgress(progressLabel(frame, frames, attempt), frame, frames);
}

bool WidgetDesktop::batchProgress(int index, int count) {
    return reportProgress(QStringLiteral("File %1 of %2").arg(index + 1).arg(count), index, count);
}

bool WidgetDesktop::reportProgress(const QString& label, int value, int maximum) {
    if (cancelled_.load()) {
        return false;
    }
    const auto show = [this, label, value, maximum] {
        if (runUnderWay_ && !cancelled_.load()) { // else a pass outside a run, or cancelled
            progress_->setProgress(label, value, maximum);
        }
    };
    if (onGuiThread()) {
        show();
    } else {
        post(show);
    }
    return true;
}

QStringList WidgetDesktop::chooseFolders(const QString& prompt) {
    // Shared, not borrowed: after a shutdown the worker may return before the panel is done.
    auto chosen = std::make_shared<QStringList>();
    postAndWait([this, prompt, chosen] {
        QFileDialog panel(window_);
        panel.setObjectName(QStringLiteral("folderPanel"));
        panel.setFileMode(QFileDialog::Directory);
        panel.setOption(QFileDialog::ShowDirsOnly);
        panel.setAcceptMode(QFileDialog::AcceptOpen);
        panel.setWindowTitle(prompt);
        panel.setLabelText(QFileDialog::Accept, prompt);
        if (panel.exec() == QDialog::Accepted) {
            *chosen = panel.selectedFiles();
        }
    });
    return *chosen;
}

void WidgetDesktop::beginRun(const QString& label) {
    cancelled_ = false;
    runUnderWay_ = true;
    progress_->start(label);
}

void WidgetDesktop::endRun() {
    progress_->finish();
    runUnderWay_ = false;
}

void WidgetDesktop::cancelRun() {
    cancelled_ = true;
    if (runUnderWay_) {
        progress_->cancelling();
    }
}

void WidgetDesktop::revealFolder(const QString& folderPath) {
    // Without a file manager the folder is still shown: its path, ready to copy.
    revealInFileManager(folderPath, [window = QPointer<QWidget>(window_), folderPath] {
        if (!window) {
            return;
        }
        auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Output Folder"),
                                    QStringLiteral("No file manager answered. The frames are in:"),
                                    QMessageBox::Close, window);
        box->setObjectName(QStringLiteral("revealFallback"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setTextFormat(Qt::PlainText);
        box->setInformativeText(folderPath);
        QPushButton* copy = box->addButton(QStringLiteral("Copy Path"), QMessageBox::ActionRole);
        // ActionRole buttons would close the box; keep it open after copying.
        copy->disconnect();
        QObject::connect(copy, &QPushButton::clicked, box,
                         [folderPath] { QApplication::clipboard()->setText(folderPath); });
        box->setWindowModality(Qt::NonModal);
        box->show();
    });
}

} // namespace zerbrak
