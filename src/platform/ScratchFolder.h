#pragma once

#include "FileBytes.h"
#include "FileDescriptor.h"

#include <QString>
#include <cstdint>
#include <span>

namespace zerbrak {

// The private folder for the files every transcode overwrites, or why there is none. Holds the
// folder open as it was checked: its files are made and opened relative to that descriptor,
// so nothing done to the path after the check can redirect them.
struct ScratchFolder {
    QString path;  // empty when no folder is usable
    QString error; // then: every folder tried and what is wrong with it
    FileDescriptor fd{-1};

    bool usable() const { return fd.valid(); }

    // `name` inside the folder.
    QString filePath(const QString& name) const;

    // Replaces the file `name` with `bytes` whole, or leaves what was there: a temporary made
    // afresh in the folder takes the bytes and is renamed over the name once all are written.
    // A link at the name is replaced, never written through. Why it could not, in the
    // system's words, else empty.
    QString writeWhole(const QString& name, std::span<const std::uint8_t> bytes) const;

    // Opens the file `name` as openInputFile does, but never through a link.
    InputFile open(const QString& name) const;
};

// $XDG_RUNTIME_DIR/zerbrak when that variable is set and the folder is usable, else
// zerbrak/ in the user's cache folder. Usable means: a real folder (not a link to one) owned
// by us, mode 0700 exactly and writable, in a folder owned by us that no other user may write
// (else they could swap ours for another between the check and its use). Fixed names in a
// folder nobody else can write cannot be raced or planted by other users. A missing folder is
// created with mode 0700 in one step; an existing one with any other mode is refused, never
// changed: someone else may have set it that way for a reason, and a folder that was ever open
// may already hold planted files.
ScratchFolder scratchFolder();

// Opens a pass's input as openInputFile does; a file in a scratch folder is opened relative to
// the checked folder and never through a link, since every file there is one of ours.
InputFile openPassInput(const QString& path);

} // namespace zerbrak
