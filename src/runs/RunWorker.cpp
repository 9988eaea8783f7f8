#include "RunWorker.h"

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
    QMetaObject::invokeMethod(
        workerSide_.get(),
        [this, job = std::move(job)] {
            job();
            // Dropped if the worker is gone by then; the destructor has waited for this job.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    busy_ = false;
                    emit finished();
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    return true;
}

} // namespace zerbrak
