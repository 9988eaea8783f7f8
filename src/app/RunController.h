#pragma once

#include "runs/RunOutcome.h"
#include "runs/RunWorker.h"

#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

class QAction;
class QWidget;

namespace zerbrak {

class WidgetDesktop;

// A file to make the input, as the open panel (`logFormat`) or a hand-over asked for it.
struct OpenRequest {
    QString path;
    bool logFormat = false;
};

// The one owner of "a run is under way": it starts a run on the worker or refuses it, disables
// the controls that would start another or touch the session and gives them back as they
// were, holds the busy cursor for exactly as long, keeps the run's outcome, and keeps what was
// asked for meanwhile (files to open, closing the window) until the run has ended. All of it
// on the GUI thread.
class RunController final : public QObject {
    Q_OBJECT
public:
    using Job = std::function<RunOutcome()>;

    RunController(WidgetDesktop& desktop, std::vector<QAction*> lockedActions,
                  std::vector<QWidget*> lockedWidgets, QObject* parent = nullptr);
    // Waits for the run under way: whoever owns the controller asks it to stop first.
    ~RunController() override;
    RunController(const RunController&) = delete;
    RunController& operator=(const RunController&) = delete;

    // From a start until ended() has been emitted.
    bool active() const { return worker_.busy(); }

    // Runs `job` on the worker, its progress reading `label` until the run reports its own.
    // Refused, returning false and changing nothing, while a run is under way: also when one
    // began while the caller's own panel was open.
    bool start(const QString& label, Job job);

    // Files to open once the run under way has ended, after any asked for before.
    void deferOpens(const std::vector<OpenRequest>& requests);
    std::vector<OpenRequest> takeDeferredOpens() { return std::exchange(deferredOpens_, {}); }

    // The window is to close once the run under way has ended.
    void closeWhenEnded() { closeWhenEnded_ = true; }
    bool takeCloseRequest() { return std::exchange(closeWhenEnded_, false); }

    // What the run that ended made; read once.
    RunOutcome takeOutcome() { return std::exchange(outcome_, {}); }

signals:
    // The run has ended: the controls are as they were before it and the cursor is back.
    void ended();

private:
    // Holds the busy cursor for its lifetime.
    class BusyCursor {
    public:
        BusyCursor();
        ~BusyCursor();
        BusyCursor(const BusyCursor&) = delete;
        BusyCursor& operator=(const BusyCursor&) = delete;
    };

    void lockControls();
    void unlockControls();
    void finish();

    WidgetDesktop* desktop_;
    std::vector<QAction*> lockedActions_;
    std::vector<QWidget*> lockedWidgets_;
    // Whether each locked control was enabled when the run under way began, in the order above.
    std::vector<bool> enabledBefore_;
    std::optional<BusyCursor> busyCursor_;
    std::vector<OpenRequest> deferredOpens_;
    bool closeWhenEnded_ = false;
    // Written by the job on the worker, read only once the run has ended.
    RunOutcome outcome_;
    // Last: it is destroyed first, waiting for the job, which uses everything above.
    RunWorker worker_;
};

} // namespace zerbrak
