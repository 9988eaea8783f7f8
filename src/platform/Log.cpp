#include "Log.h"

#include <QByteArray>
#include <cstdio>
#include <mutex>
#include <syslog.h>

namespace zerbrak {
namespace {

// The log is a process-wide service, like the system log beneath it.
struct LogState {
    std::mutex mutex;
    bool syslogOpen = false;
    bool toStderr = true;
    std::function<void(const QString&)> hook;
};

LogState& logState() {
    static LogState state;
    return state;
}

} // namespace

void logLine(const QString& line) {
    const QByteArray utf8 = line.toUtf8();
    LogState& state = logState();
    std::function<void(const QString&)> hook;
    {
        const std::lock_guard lock(state.mutex);
        if (!state.syslogOpen) {
            openlog("zerbrak", LOG_PID, LOG_USER);
            state.syslogOpen = true;
        }
        syslog(LOG_INFO, "%s", utf8.constData());
        if (state.toStderr) {
            std::fprintf(stderr, "%s\n", utf8.constData());
        }
        hook = state.hook;
    }
    if (hook) {
        hook(line);
    }
}

void setLogToStderr(bool enabled) {
    LogState& state = logState();
    const std::lock_guard lock(state.mutex);
    state.toStderr = enabled;
}

LogCapture::LogCapture() {
    LogState& state = logState();
    const std::lock_guard lock(state.mutex);
    previous_ = state.hook;
    state.hook = [this](const QString& line) { lines_.append(line); };
}

LogCapture::~LogCapture() {
    LogState& state = logState();
    const std::lock_guard lock(state.mutex);
    state.hook = previous_;
}

QStringList LogCapture::lines() const {
    return lines_;
}

void LogCapture::clear() {
    lines_.clear();
}

} // namespace zerbrak
