#pragma once

#include <QString>

namespace zerbrak {

// The private folder for the files every transcode overwrites, or why there is none.
struct ScratchFolder {
    QString path;  // empty when no folder is usable
    QString error; // then: every folder tried and what is wrong with it

    bool usable() const { return !path.isEmpty(); }

    // `name` inside the folder.
    QString filePath(const QString& name) const;
};

// $XDG_RUNTIME_DIR/zerbrak when that variable is set and the folder is usable, else
// zerbrak/ in the user's cache folder. Usable means: a real folder (not a link to one) owned
// by us, mode 0700 exactly and writable. Fixed names in a folder nobody else can write cannot
// be raced or planted by other users. A missing folder is created with mode 0700 in one step;
// an existing one with any other mode is refused, never changed: someone else may have set it
// that way for a reason, and a folder that was ever open may already hold planted files.
ScratchFolder scratchFolder();

} // namespace zerbrak
