#pragma once

#include <QObject>
#include <QThread>
#include <functional>
#include <memory>

namespace zerbrak {

// The one thread the window's runs (frame series, folder batch) execute on, one run at a time,
// so that the GUI thread only draws, shows progress and asks the user. Lives on the thread that
// made it; start(), busy() and finished() belong to that thread.
class RunWorker final : public QObject {
    Q_OBJECT
public:
    using Job = std::function<void()>;

    explicit RunWorker(QObject* parent = nullptr);
    // Waits for the job under way: whoever owns the worker asks that job to stop first.
    ~RunWorker() override;
    RunWorker(const RunWorker&) = delete;
    RunWorker& operator=(const RunWorker&) = delete;

    // Runs `job` on the worker thread. Refused, returning false, while another job is under
    // way: a second run never nests in or overlaps the first.
    bool start(Job job);

    // From start() until finished() has been emitted.
    bool busy() const { return busy_; }

signals:
    // The job has returned; emitted on the owner's thread.
    void finished();

private:
    QThread thread_;
    std::unique_ptr<QObject> workerSide_; // lives on thread_: queued jobs are delivered to it
    bool busy_ = false;
};

} // namespace zerbrak
