#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace zerbrak {

// Writes one progress line to stderr and to the system log (ident "zerbrak"). The line is
// data, never a format: paths with '%' in them are written as they are.
void logLine(const QString& line);

// Whether logLine also writes to stderr (the default). The command-line tool turns it off so
// that its stderr holds only its own messages unless --verbose is given.
void setLogToStderr(bool enabled);

// While alive, every logged line is also handed to this object (tests read them back).
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines() const;
    void clear();

private:
    QStringList lines_;
    std::function<void(const QString&)> previous_;
};

} // namespace zerbrak
