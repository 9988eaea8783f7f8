#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QStringList>
#include <memory>

namespace zerbrak {

// What tells one display from another in a file name: "wl-" and $WAYLAND_DISPLAY, else "x11-"
// and $DISPLAY without its colon and a screen 0 (":0" and ":0.0" give "x11-0"); a text that is
// long or holds other characters than letters, digits, '.', '-' and '_' is replaced by its
// hash, so names stay short enough for a socket path. Empty without either display.
QString displayTag(const QString& waylandDisplay, const QString& x11Display);

// The tag of the display this launch's window opens on.
QString currentDisplayTag();

// One running window per user and display (a window cannot move to another display): a later
// launch hands its files to the program running on its display over a local socket in a
// private folder, and exits. A lock file decides which of two launches at once becomes the
// running one; a lock or socket left behind by a crash is taken over.
class SingleInstance final : public QObject {
    Q_OBJECT
public:
    // `folder` must be private to the user (mode 0700): only the user may hand files over.
    // `display` is the displayTag of the launch's display.
    SingleInstance(const QString& folder, const QString& appId, const QString& display,
                   QObject* parent = nullptr);

    QString socketPath() const { return socketPath_; }

    // Becomes the running program and returns true; or, when another one runs, hands it
    // `files` (absolute paths; none just raises its window) and returns false. Returns true
    // too when no hand-over is possible at all, so the program still starts.
    bool claim(const QStringList& files);

signals:
    // A later launch handed these over; an empty list asks for the window to be raised.
    void filesHandedOver(const QStringList& files);

private:
    void receive(QLocalSocket* socket);

    QString socketPath_;
    QLockFile lock_;
    QLocalServer server_;
};

} // namespace zerbrak
