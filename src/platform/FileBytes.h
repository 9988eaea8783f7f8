#pragma once

#include "FileDescriptor.h"

#include <QString>

class QFileDevice;
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace zerbrak {

// A regular file open for reading, or why it is not one.
struct InputFile {
    FileDescriptor fd{-1};
    std::uint64_t size = 0; // as the system gave it at the open; the file may still change
    QString error;          // "Cannot read PATH: why." for the user; empty when open

    bool ok() const { return error.isEmpty(); }
};

// Opens a regular file for reading. A named pipe, device, folder or socket is refused without
// being read (a pipe or a terminal would never end).
InputFile openInputFile(const QString& path);

// Opens the file `name` in the open folder `folder` as openInputFile does, but never through a
// link; `path` names it in the error.
InputFile openInputFileAt(int folder, const QString& name, const QString& path);

// "Cannot read PATH: why." for the system's error `code`, or for a reason of our own.
QString cannotRead(const QString& path, int code);
QString cannotRead(const QString& path, const QString& why);

// A file's whole content, or why it could not be read.
struct FileBytes {
    std::vector<std::uint8_t> bytes;
    QString error; // "Cannot read PATH: why." for the user; empty when the file was read whole

    bool ok() const { return error.isEmpty(); }
};

// Reads a regular file whole. A named pipe, device, folder or socket is refused without being
// read (a pipe or a terminal would never end), and so is a file whose read fails midway:
// damaging a torn copy would pass for success.
FileBytes readFileBytes(const QString& path);

// Reads what is left of `file` (opened from `path`) as readFileBytes does.
FileBytes readRemaining(const InputFile& file, const QString& path);

// Writes all of `bytes` to `file`; false when the file refused some of them (its
// errorString() says why). A full disk first shows as a short write with no error, so this
// writes on until the system answers.
bool writeAll(QFileDevice& file, std::span<const std::uint8_t> bytes);

// Replaces the file at `path` with `bytes` whole, or leaves what was there: a temporary beside
// it takes the bytes and is renamed over it only once all of them are written. Returns why it
// could not, in the system's words, else empty.
QString writeFileWhole(const QString& path, std::span<const std::uint8_t> bytes);

// The same for the file `name` in the open folder `folder`, all relative to that descriptor:
// the temporary is made afresh with O_EXCL and renamed over the name, so a link at the name is
// replaced, never written through.
QString writeFileWholeAt(int folder, const QString& name, std::span<const std::uint8_t> bytes);

// What readFileBytes would say about `path` before reading anything: "Cannot read PATH: why."
// when it is not a regular file that can be opened for reading, else empty. Reads nothing.
QString unreadableFileError(const QString& path);

} // namespace zerbrak
