#include "RunWorker.h"

#include "platform/QueuedCall.h"

namespace zerbrak {

RunWorker::RunWorker(QObject* parent) : QObject(parent), workerSide_(std::make_unique<QObject>()) {
    thread_.setObjectName(QStringLiteral("zerbrak run"));
    workerSide_->moveToThread(&thread_);
    thread_.start();
}

RunWorker::~RunWorker() {
    // A job under way runs to its end before the thread stops, so a pass always finishes
    // writing its output; one posted but not yet begun may be dropped.
    thread_.quit();
    thread_.wait();
}

bool RunWorker::start(Job job) {
    if (busy_) {
        return false;
    }
    busy_ = true;
    postQueued(workerSide_.get(), [this, job = std::move(job)] {
        job();
        // Dropped if the worker is gone by then; the destructor has waited for this job.
        postQueued(this, [this] {
            busy_ = false;
            emit finished();
        });
    });
    return true;
}

} // namespace zerbrak
