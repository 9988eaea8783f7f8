#pragma once

#include "sources/WebcamCapture.h"

#include <QObject>
#include <QTimer>
#include <cstdint>

class QActionGroup;
class QLabel;
class QMenu;

namespace zerbrak {

// The window's side of the camera: the live preview in the webcam box, drawn from the GUI
// thread at the display's pace, and the Camera menu listing what the system offers, with
// "No camera" to stop capture. Reads frames only through `frames`, never in the capture thread.
class CameraControls final : public QObject {
    Q_OBJECT
public:
    CameraControls(WebcamCapture& capture, const NewestFrame& frames, QLabel& preview, QMenu& menu,
                   QObject* parent = nullptr);

private:
    void drawPreview();
    void rebuildMenu();
    void showNoCamera();

    WebcamCapture* capture_;
    const NewestFrame* frames_;
    QLabel* preview_;
    QMenu* menu_;
    QActionGroup* choices_;
    QTimer previewTimer_;
    std::uint64_t lastDrawn_ = 0; // the count of the frame last drawn
};

} // namespace zerbrak
