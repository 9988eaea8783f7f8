#pragma once

#include "RunController.h"
#include "WidgetDesktop.h"
#include "core/CorruptionModes.h"
#include "glitch/InputOrigin.h"
#include "glitch/Session.h"
#include "platform/IsolatedDecoder.h"
#include "sources/WebcamCapture.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMainWindow;
class QSlider;

namespace zerbrak {

class CameraControls;
class StatusLine;
class MainWindow;
class PictureView;

// The one controller: it holds references to the window's controls and the session state,
// and its actions are thin entries into the engine; whatever runs on the worker goes through
// the run controller.
class ZerbrakAppDelegate : public QObject {
    Q_OBJECT
public:
    explicit ZerbrakAppDelegate(MainWindow& mainWindow, QObject* parent = nullptr);

    // Control references, set once from the window; the window owns the controls.
    QMainWindow* const window;
    PictureView* const imageView;
    QLineEdit* const tf_randomSeed;
    QLineEdit* const tf_from;
    QLineEdit* const tf_to;
    QSlider* const sl_chance;
    QCheckBox* const bt_replace;
    QCheckBox* const bt_batch;
    QCheckBox* const bt_preserve; // shown, never read
    QLineEdit* const tf_numFrames;
    QLabel* const outputCaptureView;
    QComboBox* const popupbutton;

    // Waits for a run under way, cancelled first.
    ~ZerbrakAppDelegate() override;

    // While a run is under way the session belongs to the worker thread.
    Session& session() { return session_; }
    WidgetDesktop& desktop() { return desktop_; }

    // A run (frame series) is under way on the worker; the actions that would start another
    // or touch the session are disabled meanwhile.
    bool runActive() const { return runs_.active(); }

    // The pass parameters as the controls hold them now.
    GlitchParams readGlitchParams() const;

    // The capture thread hands every camera frame here: it becomes the newest, and the one it
    // replaces is let go. Constant work: no copy, no allocation, no log.
    void captureOutputDidOutputVideoFrame(GstSample* frame);

    // The camera, once start-up has set it up.
    WebcamCapture* capture() const { return capture_.get(); }

    // One glitch pass with the current controls; returns the path written.
    QString doGlitch(const QString& inputPath, const QString& outName);

signals:
    // A run has ended and the actions are back.
    void runFinished();

public slots:
    void applicationDidFinishLaunching();
    void InitilizeRandom();
    void DoStuff();
    void OpenOutputFolder();
    void TRANSCODEchange();
    void GFD();
    void LoadNewImage();
    void GetWEBCAMImage();
    // Opens again, as Open does, the file the chain of re-encodes behind the input started
    // from; nothing when the input is no re-encode.
    void RevertToOriginal();

    // The desktop handed over a file (a launch argument, a drop, a later launch): it becomes
    // the input. Always true, also for a file that is no picture.
    bool applicationOpenFile(const QString& path);
    // Several at once, in order; the last stays the input. Taken when the run under way ends.
    void openFiles(const QStringList& paths);

    // Fits the shown picture into the picture area; only how it is drawn changes.
    void FIT();
    // 100 %, and the zoom stops either side of the present zoom; only how it is drawn.
    void ActualSize();
    void ZoomIn();
    void ZoomOut();
    void ShowAbout();

protected:
    // Closing the window during a run cancels it and closes once the pass under way is done.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void wireActions(MainWindow& mainWindow);
    // Hands `job` to the worker, its progress reading `label` until the run reports its own;
    // refused, returning false, while another run is under way.
    bool startRun(const QString& label, RunController::Job job);
    void runEnded();
    // Opens the files on the worker, in order; taken once the run under way has ended.
    void openInputs(const std::vector<OpenRequest>& requests);
    // The last step of start-up: the default camera, its preview and the Camera menu.
    void setUpCapture();
    // The status bar's input and next pass, and which controls the next pass ignores.
    void refreshStatus();
    // What the run that just ended made, in the status bar.
    void reportRun(const RunOutcome& outcome);

    // Damaged data is decoded in its helper process; outlives the runs, which use it.
    IsolatedDecoder decoder_;
    Session session_;
    // Declared before the runs, so that it outlives the run the worker waits for.
    WidgetDesktop desktop_;
    StatusLine* status_; // owned by the status bar
    QString scratchDir_; // where re-encoded inputs and snapshots live
    // The file the input stands for, shown and reverted to when a re-encode stands in for it.
    InputOrigin origin_;
    // The newest camera frame under its own lock; declared before the capture, which must stop
    // handing frames in before it goes.
    NewestFrame mCurrentImageBuffer;
    std::unique_ptr<WebcamCapture> capture_;
    std::unique_ptr<CameraControls> cameraControls_;
    // Last: destroyed first, waiting for the run under way, which uses everything above.
    RunController runs_;
};

} // namespace zerbrak
