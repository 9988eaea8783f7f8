#include "RunController.h"

#include "WidgetDesktop.h"

#include <QAction>
#include <QApplication>
#include <QWidget>
#include <new>

namespace zerbrak {

RunController::BusyCursor::BusyCursor() {
    QApplication::setOverrideCursor(Qt::BusyCursor);
}

RunController::BusyCursor::~BusyCursor() {
    QApplication::restoreOverrideCursor();
}

RunController::RunController(WidgetDesktop& desktop, std::vector<QAction*> lockedActions,
                             std::vector<QWidget*> lockedWidgets, QObject* parent)
    : QObject(parent), desktop_(&desktop), lockedActions_(std::move(lockedActions)),
      lockedWidgets_(std::move(lockedWidgets)) {
    connect(&worker_, &RunWorker::finished, this, &RunController::finish);
}

RunController::~RunController() = default;

bool RunController::start(const QString& label, Job job) {
    // Checked before anything changes: a refused run must not save the controls it disabled
    // itself as their state, nor take the cursor a second time.
    if (worker_.busy()) {
        return false;
    }
    // The desktop forgets an earlier run's cancel before the job can ask it.
    desktop_->beginRun(label);
    lockControls();
    busyCursor_.emplace();
    const bool started = worker_.start([this, job = std::move(job)] {
        try {
            outcome_ = job();
        } catch (const std::bad_alloc&) {
            desktop_->alertRunFailed(
                QStringLiteral("The run stopped: there was not enough memory for this picture."));
        }
    });
    if (!started) { // not busy a moment ago on this thread, so never; undone all the same
        busyCursor_.reset();
        unlockControls();
        desktop_->endRun();
    }
    return started;
}

void RunController::deferOpens(const std::vector<OpenRequest>& requests) {
    deferredOpens_.insert(deferredOpens_.end(), requests.begin(), requests.end());
}

void RunController::lockControls() {
    enabledBefore_.clear();
    for (QAction* action : lockedActions_) {
        enabledBefore_.push_back(action->isEnabled());
        action->setEnabled(false);
    }
    for (QWidget* widget : lockedWidgets_) {
        enabledBefore_.push_back(widget->isEnabled());
        widget->setEnabled(false);
    }
}

void RunController::unlockControls() {
    std::size_t i = 0;
    for (QAction* action : lockedActions_) {
        action->setEnabled(enabledBefore_[i++]);
    }
    for (QWidget* widget : lockedWidgets_) {
        widget->setEnabled(enabledBefore_[i++]);
    }
    enabledBefore_.clear();
}

void RunController::finish() {
    desktop_->endRun();
    busyCursor_.reset();
    unlockControls();
    emit ended();
}

} // namespace zerbrak
