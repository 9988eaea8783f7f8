#pragma once

#include "platform/Desktop.h"

#include <QObject>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class QMainWindow;

namespace zerbrak {

class PictureView;
class RunProgress;

// The desktop as the window provides it. Runs call it from the worker thread; every call is
// handed to the GUI thread: pictures and progress queued, the alerts blocking the worker until
// the user dismisses them. Called on the GUI thread itself (start-up, a pass run there), it
// acts at once.
class WidgetDesktop final : public Desktop {
public:
    WidgetDesktop(QMainWindow& window, PictureView& imageView);
    ~WidgetDesktop() override;
    WidgetDesktop(const WidgetDesktop&) = delete;
    WidgetDesktop& operator=(const WidgetDesktop&) = delete;

    void showImage(const QImage& image) override;
    void alertOutputFailed(const QString& outputPath, const QString& reason) override;
    void alertRunFailed(const QString& message) override;
    bool seriesProgress(int frame, int frames, int attempt) override;
    bool batchProgress(int index, int count) override;
    QStringList chooseFolders(const QString& prompt) override;
    void revealFolder(const QString& folderPath) override;

    // GUI thread: a run starts (its progress with Cancel appears if it lasts, and an earlier
    // run's cancel is forgotten) or has ended.
    void beginRun(const QString& label);
    void endRun();

    // GUI thread: the run ends after the pass under way.
    void cancelRun();

    // GUI thread, before the worker is joined: alerts no longer wait for the GUI thread,
    // which is about to wait for the worker.
    void shutDown();

    // The progress of the run under way, in the status bar.
    RunProgress& runProgress() const { return *progress_; }

private:
    bool onGuiThread() const;
    // Queues `call` to the GUI thread.
    void post(std::function<void()> call);
    // Runs `call` on the GUI thread and waits until it has returned, or until shutDown().
    void postAndWait(std::function<void()> call);
    // Shows `label` in the run's progress, on the GUI thread; false once the run is cancelled.
    bool reportProgress(const QString& label, int value, int maximum);

    QMainWindow* window_;
    PictureView* imageView_;
    RunProgress* progress_; // owned by the status bar
    // Lives on the GUI thread; queued calls are delivered to it, and dropped with it.
    QObject guiSide_;
    bool runUnderWay_ = false;
    std::atomic<bool> cancelled_{false};

    std::mutex handoffMutex_;
    std::condition_variable handoffDone_;
    bool shuttingDown_ = false;
};

} // namespace zerbrak
