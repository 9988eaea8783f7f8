#include "CameraControls.h"

#include <QAction>
#include <QActionGroup>
#include <QLabel>
#include <QMenu>
#include <QPixmap>

namespace zerbrak {
namespace {

// About the display's pace; a frame is converted only when a new one has come.
constexpr int previewIntervalMs = 33;

} // namespace

CameraControls::CameraControls(WebcamCapture& capture, const NewestFrame& frames, QLabel& preview,
                               QMenu& menu, QObject* parent)
    : QObject(parent), capture_(&capture), frames_(&frames), preview_(&preview), menu_(&menu),
      choices_(new QActionGroup(this)) {
    choices_->setExclusive(true);
    preview_->setAlignment(Qt::AlignCenter);
    previewTimer_.setInterval(previewIntervalMs);
    connect(&previewTimer_, &QTimer::timeout, this, &CameraControls::drawPreview);
    connect(capture_, &WebcamCapture::camerasChanged, this, &CameraControls::rebuildMenu);
    connect(capture_, &WebcamCapture::liveChanged, this, [this](bool live) {
        if (live) {
            previewTimer_.start();
        } else {
            showNoCamera();
        }
        rebuildMenu();
    });
    rebuildMenu();
    if (capture_->live()) {
        previewTimer_.start();
    }
}

void CameraControls::showNoCamera() {
    previewTimer_.stop();
    preview_->setPixmap({});
    preview_->setText(QStringLiteral("No camera"));
}

void CameraControls::drawPreview() {
    // A reference of our own, taken under the frame's lock; converted and drawn outside it.
    const SampleRef frame = frames_->newerThan(lastDrawn_);
    if (!frame) {
        return;
    }
    const QImage picture = sampleToImage(frame);
    if (picture.isNull()) {
        return;
    }
    const QSize area = preview_->contentsRect().size() * preview_->devicePixelRatioF();
    QPixmap pixmap =
        QPixmap::fromImage(picture.scaled(area, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    pixmap.setDevicePixelRatio(preview_->devicePixelRatioF());
    preview_->setPixmap(pixmap);
}

void CameraControls::rebuildMenu() {
    menu_->clear();
    for (QAction* action : choices_->actions()) {
        choices_->removeAction(action);
        action->deleteLater();
    }
    const auto addChoice = [this](const QString& text, bool checked, auto onChosen) {
        QAction* action = menu_->addAction(text);
        action->setCheckable(true);
        action->setChecked(checked);
        choices_->addAction(action);
        connect(action, &QAction::triggered, this, onChosen);
    };
    const bool live = capture_->live();
    const QString current = capture_->currentId();
    if (!qEnvironmentVariableIsEmpty("ZERBRAK_CAMERA_SOURCE")) {
        addChoice(QStringLiteral("Source from ZERBRAK_CAMERA_SOURCE"), live && current.isEmpty(),
                  [this] { capture_->startDefault(); });
    }
    for (const CameraDevice& camera : capture_->cameras()) {
        addChoice(camera.name, live && camera.id == current,
                  [this, id = camera.id] { capture_->start(id); });
    }
    menu_->addSeparator();
    addChoice(QStringLiteral("No camera"), !live, [this] { capture_->stop(); });
}

} // namespace zerbrak
