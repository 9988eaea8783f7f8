#pragma once

#include <QString>
#include <cstdint>
#include <vector>

namespace zerbrak {

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

// What readFileBytes would say about `path` before reading anything: "Cannot read PATH: why."
// when it is not a regular file that can be opened for reading, else empty. Reads nothing.
QString unreadableFileError(const QString& path);

} // namespace zerbrak
