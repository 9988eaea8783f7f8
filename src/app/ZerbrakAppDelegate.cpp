#include "ZerbrakAppDelegate.h"

#include "About.h"
#include "CameraControls.h"
#include "MainWindow.h"
#include "RunProgress.h"
#include "StatusLine.h"
#include "codec/Decode.h"
#include "core/TextValues.h"
#include "desktop/OpenPanel.h"
#include "glitch/GlitchPass.h"
#include "glitch/TranscodeChange.h"
#include "platform/ImageDecoder.h"
#include "platform/Log.h"
#include "platform/Resources.h"
#include "platform/ScratchFolder.h"
#include "runs/FolderBatch.h"
#include "runs/FrameSeries.h"
#include "runs/OutputFolder.h"
#include "runs/RunReport.h"
#include "sources/OpenImage.h"
#include "ui_MainWindow.h"
#include "view/PictureView.h"
#include "view/ZoomSteps.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <utility>

namespace zerbrak {
namespace {

std::int64_t fieldNumber(const QLineEdit* field) {
    return integerValue(field->text().toStdString());
}

// The controls that start runs or change the input or the session.
std::vector<QAction*> runLockedActions(Ui::MainWindow& ui) {
    return {ui.actionGlitch,       ui.actionReseed,   ui.actionOpen,
            ui.actionGlitchFolder, ui.actionSnapshot, ui.actionRevert};
}
std::vector<QWidget*> runLockedWidgets(Ui::MainWindow& ui) {
    return {ui.glitchButton, ui.reseedButton,   ui.openButton,
            ui.folderButton, ui.snapshotButton, ui.popupbutton};
}

} // namespace

ZerbrakAppDelegate::ZerbrakAppDelegate(MainWindow& mainWindow, QObject* parent)
    : QObject(parent), window(&mainWindow), imageView(mainWindow.ui().imageView),
      tf_randomSeed(mainWindow.ui().tf_randomSeed), tf_from(mainWindow.ui().tf_from),
      tf_to(mainWindow.ui().tf_to), sl_chance(mainWindow.ui().sl_chance),
      bt_replace(mainWindow.ui().bt_replace), bt_batch(mainWindow.ui().bt_batch),
      bt_preserve(mainWindow.ui().bt_preserve), tf_numFrames(mainWindow.ui().tf_numFrames),
      outputCaptureView(mainWindow.ui().outputCaptureView),
      popupbutton(mainWindow.ui().popupbutton), desktop_(mainWindow, *imageView),
      runs_(desktop_, runLockedActions(mainWindow.ui()), runLockedWidgets(mainWindow.ui())) {
    session_.decoder = &decoder_;
    // Cancel also ends a decode under way: a stalled reader would otherwise hold the run for
    // the whole time limit.
    connect(&desktop_.runProgress(), &RunProgress::canceled, this, [this] { decoder_.cancel(); });
    wireActions(mainWindow);
    connect(&runs_, &RunController::ended, this, &ZerbrakAppDelegate::runEnded);
    status_ = new StatusLine(*mainWindow.statusBar());
    // What the next pass does follows the controls it reads.
    connect(sl_chance, &QSlider::valueChanged, this, &ZerbrakAppDelegate::refreshStatus);
    connect(bt_replace, &QCheckBox::toggled, this, &ZerbrakAppDelegate::refreshStatus);
    connect(tf_from, &QLineEdit::textChanged, this, &ZerbrakAppDelegate::refreshStatus);
    connect(tf_to, &QLineEdit::textChanged, this, &ZerbrakAppDelegate::refreshStatus);
    mainWindow.installEventFilter(this);
}

ZerbrakAppDelegate::~ZerbrakAppDelegate() {
    // The GUI thread is about to wait for the worker: nothing the worker asks of it may wait.
    desktop_.cancelRun();
    decoder_.cancel();
    desktop_.shutDown();
}

void ZerbrakAppDelegate::wireActions(MainWindow& mainWindow) {
    Ui::MainWindow& ui = mainWindow.ui();
    connect(ui.actionReseed, &QAction::triggered, this, &ZerbrakAppDelegate::InitilizeRandom);
    connect(ui.reseedButton, &QPushButton::clicked, this, &ZerbrakAppDelegate::InitilizeRandom);
    // Return in the seed field applies it, as Reseed does.
    connect(ui.tf_randomSeed, &QLineEdit::returnPressed, this,
            &ZerbrakAppDelegate::InitilizeRandom);
    connect(ui.actionQuit, &QAction::triggered, &mainWindow, &QWidget::close);

    connect(ui.actionGlitch, &QAction::triggered, this, &ZerbrakAppDelegate::DoStuff);
    connect(ui.glitchButton, &QPushButton::clicked, ui.actionGlitch, &QAction::trigger);
    connect(ui.actionRevealOutput, &QAction::triggered, this,
            &ZerbrakAppDelegate::OpenOutputFolder);
    connect(ui.revealButton, &QPushButton::clicked, ui.actionRevealOutput, &QAction::trigger);
    connect(ui.popupbutton, &QComboBox::activated, this, &ZerbrakAppDelegate::TRANSCODEchange);
    connect(&mainWindow, &MainWindow::filesDropped, this, &ZerbrakAppDelegate::openFiles);
    connect(ui.actionOpen, &QAction::triggered, this, &ZerbrakAppDelegate::LoadNewImage);
    connect(ui.actionRevert, &QAction::triggered, this, &ZerbrakAppDelegate::RevertToOriginal);
    connect(ui.openButton, &QPushButton::clicked, ui.actionOpen, &QAction::trigger);
    connect(ui.actionGlitchFolder, &QAction::triggered, this, &ZerbrakAppDelegate::GFD);
    connect(ui.folderButton, &QPushButton::clicked, ui.actionGlitchFolder, &QAction::trigger);

    connect(ui.actionFit, &QAction::triggered, this, &ZerbrakAppDelegate::FIT);
    connect(ui.fitButton, &QPushButton::clicked, ui.actionFit, &QAction::trigger);
    connect(ui.actionActualSize, &QAction::triggered, this, &ZerbrakAppDelegate::ActualSize);
    connect(ui.actionZoomIn, &QAction::triggered, this, &ZerbrakAppDelegate::ZoomIn);
    connect(ui.actionZoomOut, &QAction::triggered, this, &ZerbrakAppDelegate::ZoomOut);
    connect(imageView, &PictureView::zoomStepsRequested, this, [this](int steps) {
        for (; steps > 0; --steps) {
            ZoomIn();
        }
        for (; steps < 0; ++steps) {
            ZoomOut();
        }
    });
    connect(ui.actionAbout, &QAction::triggered, this, &ZerbrakAppDelegate::ShowAbout);
    connect(ui.actionSnapshot, &QAction::triggered, this, &ZerbrakAppDelegate::GetWEBCAMImage);
    connect(ui.snapshotButton, &QPushButton::clicked, ui.actionSnapshot, &QAction::trigger);
}

GlitchParams ZerbrakAppDelegate::readGlitchParams() const {
    GlitchParams params;
    params.fromByte = low8(fieldNumber(tf_from));
    params.toByte = low8(fieldNumber(tf_to));
    params.replace = bt_replace->checkState() != Qt::Unchecked;
    params.chance = sl_chance->value();
    return params;
}

QString ZerbrakAppDelegate::doGlitch(const QString& inputPath, const QString& outName) {
    return zerbrak::doGlitch(session_, readGlitchParams(), desktop_, inputPath, outName);
}

void ZerbrakAppDelegate::applicationDidFinishLaunching() {
    const QString startImage = startImagePath();
    startSession(session_, startImage, fieldNumber(tf_randomSeed),
                 QDateTime::currentSecsSinceEpoch());
    desktop_.showImage(decodeFile(&decoder_, session_.inPath).image);
    scratchDir_ = scratchFolder().path;
    refreshStatus();
    setUpCapture();
}

void ZerbrakAppDelegate::setUpCapture() {
    auto* menu = new QMenu(QStringLiteral("&Camera"), window);
    menu->setObjectName(QStringLiteral("menuCamera"));
    Ui::MainWindow& ui = static_cast<MainWindow*>(window)->ui();
    window->menuBar()->insertMenu(ui.menuHelp->menuAction(), menu);
    capture_ = std::make_unique<WebcamCapture>(
        [this](GstSample* frame) { captureOutputDidOutputVideoFrame(frame); });
    cameraControls_ =
        std::make_unique<CameraControls>(*capture_, mCurrentImageBuffer, *outputCaptureView, *menu);
    // A stopped camera leaves no frame to snapshot: capture is off as far as the user can see.
    connect(capture_.get(), &WebcamCapture::liveChanged, this, [this](bool live) {
        if (!live) {
            mCurrentImageBuffer.clear();
        }
    });
    // Returns at once: a camera that takes seconds to open never delays the window.
    capture_->startDefault();
}

void ZerbrakAppDelegate::captureOutputDidOutputVideoFrame(GstSample* frame) {
    mCurrentImageBuffer.store(frame);
}

void ZerbrakAppDelegate::GetWEBCAMImage() {
    if (runActive()) {
        return;
    }
    logLine(QStringLiteral("getting data"));
    SampleRef frame = mCurrentImageBuffer.newest();
    if (!frame) {
        return; // no frame has come yet: nothing else happens
    }
    // Converted, encoded and written on the worker; the input changes only once the file is
    // there whole, so a pass never damages a missing or stale snapshot.
    startRun(QStringLiteral("Taking a snapshot"), [this, frame]() mutable -> RunOutcome {
        const QImage picture = sampleToImage(frame);
        frame = SampleRef(); // the picture holds its own copy
        const SnapshotFile file = writeSnapshot(picture);
        if (!file.error.isEmpty()) {
            desktop_.alertRunFailed(file.error);
            return {};
        }
        session_.inPath = file.path;
        session_.endFormat = QStringLiteral("tiff");
        desktop_.showImage(picture);
        return {};
    });
}

void ZerbrakAppDelegate::InitilizeRandom() {
    if (runActive()) {
        return; // the random source belongs to the run under way
    }
    reseed(session_, fieldNumber(tf_randomSeed));
}

void ZerbrakAppDelegate::DoStuff() {
    if (runActive()) {
        return; // one run at a time: a press or a forwarded request meanwhile does nothing
    }
    // The controls are read once, here; the run works on these values whatever happens to
    // the controls meanwhile.
    const GlitchParams params = readGlitchParams();
    const std::int32_t frameCount =
        bt_batch->checkState() != Qt::Unchecked ? low32Signed(fieldNumber(tf_numFrames)) : 1;
    if (frameCount < 1) {
        // A run of no frames would look like a press that did nothing.
        window->statusBar()->showMessage(
            QStringLiteral("Several frames needs a count of at least 1; nothing was glitched."));
        tf_numFrames->setFocus();
        return;
    }
    startRun(QStringLiteral("Starting"),
             [this, params, frameCount, home = QDir::homePath()]() -> RunOutcome {
                 return SeriesOutcome{runFrameSeries(session_, params, frameCount, home, desktop_),
                                      frameCount};
             });
}

bool ZerbrakAppDelegate::applicationOpenFile(const QString& path) {
    openFiles({path});
    return true;
}

void ZerbrakAppDelegate::openFiles(const QStringList& paths) {
    std::vector<OpenRequest> requests;
    for (const QString& path : paths) {
        requests.push_back({path, false});
    }
    openInputs(requests);
}

void ZerbrakAppDelegate::openInputs(const std::vector<OpenRequest>& requests) {
    if (requests.empty()) {
        return;
    }
    // Decoded on the worker: a large or damaged picture never holds the window.
    const bool started =
        startRun(QStringLiteral("Opening %1").arg(QFileInfo(requests.back().path).fileName()),
                 [this, requests]() -> RunOutcome {
                     for (const OpenRequest& request : requests) {
                         openImage(session_, request.path, desktop_, request.logFormat);
                     }
                     return {};
                 });
    if (!started) {
        runs_.deferOpens(requests); // never lost, never in the middle of a run
    }
}

void ZerbrakAppDelegate::LoadNewImage() {
    if (runActive()) {
        return;
    }
    const QRectF bounds = imageView->bounds();
    // The bounds are the picture area's own rectangle, which FIT() works in too; there is
    // nothing to reset them to.
    logLine(QString::asprintf("imageview bounds %f %f", bounds.width(), bounds.height()));
    // The panel runs its own event loop, in which a later launch may hand over a file and
    // start a run: the file chosen then waits for that run, as a handed-over one would.
    if (const QString path = chooseImageFile(window); !path.isEmpty()) {
        openInputs({{path, true}});
    }
}

void ZerbrakAppDelegate::RevertToOriginal() {
    if (runActive() || origin_.reencodes().isEmpty()) {
        return;
    }
    openInputs({{origin_.path(), true}});
}

void ZerbrakAppDelegate::GFD() {
    if (runActive()) {
        return;
    }
    const GlitchParams params = readGlitchParams();
    // The folder panels are asked for from the worker; the window shows them.
    startRun(QStringLiteral("Folder batch"),
             [this, params]() -> RunOutcome { return runFolderBatch(session_, params, desktop_); });
}

bool ZerbrakAppDelegate::startRun(const QString& label, RunController::Job job) {
    if (runActive()) {
        return false; // the session is the worker's: not even read here
    }
    // The input as it stands when the session is handed over, whoever set it.
    origin_.follow(session_, scratchDir_);
    return runs_.start(label, std::move(job));
}

void ZerbrakAppDelegate::runEnded() {
    window->statusBar()->clearMessage();
    reportRun(runs_.takeOutcome());
    refreshStatus();
    emit runFinished();
    if (runs_.takeCloseRequest()) {
        window->close();
        return;
    }
    openInputs(runs_.takeDeferredOpens());
}

void ZerbrakAppDelegate::refreshStatus() {
    if (runActive()) {
        return; // the session is the worker's until the run ends
    }
    origin_.follow(session_, scratchDir_);
    status_->setInput(
        inputDescription(origin_.name(), origin_.reencodes()),
        passDescription(session_.endFormat, session_.trans_endFormat, readGlitchParams()));
    // Controls the next pass ignores say so; they keep their values for a later re-encode.
    const QString note = unusedControlsNote(nextMode(session_.endFormat, session_.trans_endFormat));
    Ui::MainWindow& ui = static_cast<MainWindow*>(window)->ui();
    ui.bytesGroup->setTitle(QStringLiteral("Bytes") + note);
    ui.chanceGroup->setTitle(QStringLiteral("Chance") + note);
    ui.actionRevert->setEnabled(!origin_.reencodes().isEmpty());
}

void ZerbrakAppDelegate::reportRun(const RunOutcome& outcome) {
    if (const auto line = runResultLine(outcome, QDir::homePath())) {
        status_->setResult(line->text, line->lastPath);
    }
}

bool ZerbrakAppDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window && event->type() == QEvent::Close && runActive()) {
        // The pass under way finishes writing its frame; the window closes right after.
        event->ignore();
        runs_.closeWhenEnded();
        desktop_.cancelRun();
        decoder_.cancel();
        window->statusBar()->showMessage(
            QStringLiteral("Closing once the frame under way is written\u2026"));
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void ZerbrakAppDelegate::OpenOutputFolder() {
    const QString home = QDir::homePath();
    ensureOutputFolder(home);
    desktop_.revealFolder(outputFolderPath(home));
}

void ZerbrakAppDelegate::TRANSCODEchange() {
    if (runActive()) {
        return;
    }
    transcodeChange(session_, popupbutton->currentText());
    refreshStatus();
}

void ZerbrakAppDelegate::FIT() {
    // The fit rule with the picture area's own size for the bounds: a fixed rectangle drawn
    // into the area shrank every picture by a constant. The fit follows the area as the
    // window changes, until a zoom or the next picture.
    imageView->fitToArea();
}

void ZerbrakAppDelegate::ActualSize() {
    imageView->zoomTo(1.0);
}

void ZerbrakAppDelegate::ZoomIn() {
    imageView->zoomTo(zoomedIn(imageView->zoom()));
}

void ZerbrakAppDelegate::ZoomOut() {
    imageView->zoomTo(zoomedOut(imageView->zoom()));
}

void ZerbrakAppDelegate::ShowAbout() {
    showAboutPanel(*window, aboutOptions(QApplication::windowIcon()));
}

} // namespace zerbrak
