#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QStringList>
#include <memory>

namespace zerbrak {

// One running window per user: a later launch hands its files to the running program over a
// local socket in a private folder, and exits. A lock file decides which of two launches at
// once becomes the running one; a lock or socket left behind by a crash is taken over.
class SingleInstance final : public QObject {
    Q_OBJECT
public:
    // `folder` must be private to the user (mode 0700): only the user may hand files over.
    SingleInstance(const QString& folder, const QString& appId, QObject* parent = nullptr);

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
