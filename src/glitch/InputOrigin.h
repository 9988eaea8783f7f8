#pragma once

#include "Session.h"

#include <QString>
#include <QStringList>

namespace zerbrak {

// Where the session's input came from: the file a chain of re-encodes started from, and the
// formats it went through. Each re-encode reads the copy the one before wrote, so after GIF
// then TIFF the TIFF holds the GIF's colours; saying only "from astronaut.png" would be untrue.
class InputOrigin {
public:
    // Takes note of the input as `session` holds it now; `scratchDir` is where the re-encoded
    // copies and the camera snapshot live. Cheap when the input has not changed, so it may be
    // called whenever the input may have changed.
    void follow(const Session& session, const QString& scratchDir);

    // The file the chain started from: what Revert reopens.
    const QString& path() const { return path_; }
    // Its name as shown: the file name, or "camera snapshot".
    const QString& name() const { return name_; }
    // The pop-up titles of the re-encodes from that file to the input, oldest first; empty
    // when the input is that file itself.
    const QStringList& reencodes() const { return reencodes_; }

private:
    void startAt(const QString& path, const QString& scratchDir);

    QString path_;
    QString name_;
    QStringList reencodes_;
    QString followed_; // the input as last seen
};

} // namespace zerbrak
