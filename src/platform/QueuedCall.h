#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThreadPool>
#include <functional>
#include <mutex>
#include <utility>

namespace zerbrak {

// Qt's event queue and thread pool run a handed-over call after the hand-over, but order the
// two with locks that ThreadSanitizer cannot see in a Qt not built for it. Passing through one
// process-wide gate as well makes that order visible, so that its reports stay about our own
// code. The gate is a static, not a capture: the call must reach it before it reads anything
// the handing thread wrote. It is held only while handing over.
inline std::mutex& handOverGate() {
    static std::mutex gate;
    return gate;
}

// Queues `call` to run on `receiver`'s thread.
inline void postQueued(QObject* receiver, std::function<void()> call) {
    const std::lock_guard handing(handOverGate());
    QMetaObject::invokeMethod(
        receiver,
        [call = std::move(call)] {
            { const std::lock_guard received(handOverGate()); }
            call();
        },
        Qt::QueuedConnection);
}

// Runs `job` on one of `pool`'s threads.
inline void startPooled(QThreadPool& pool, std::function<void()> job) {
    const std::lock_guard handing(handOverGate());
    pool.start([job = std::move(job)] {
        { const std::lock_guard received(handOverGate()); }
        job();
    });
}

} // namespace zerbrak
