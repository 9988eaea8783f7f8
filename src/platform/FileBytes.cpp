#include "FileBytes.h"

#include <QFile>
#include <array>

namespace zerbrak {

std::vector<std::uint8_t> readFileBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        return {};
    }
    // Read straight into the one buffer the pass keeps: no second copy of a large file.
    std::vector<std::uint8_t> bytes;
    if (const qint64 size = file.size(); size > 0) {
        bytes.resize(static_cast<std::size_t>(size));
    }
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const qint64 got = file.read(reinterpret_cast<char*>(bytes.data() + filled),
                                     static_cast<qint64>(bytes.size() - filled));
        if (got <= 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    if (filled == bytes.size()) {
        // Files that grew, or report no size (pipes, /proc), are read on in steps; a file that
        // is exactly its size costs one small read here, not a reallocation of the whole.
        std::array<char, 64 * 1024> chunk{};
        for (qint64 got; (got = file.read(chunk.data(), chunk.size())) > 0;) {
            bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
        }
        filled = bytes.size();
    }
    bytes.resize(filled);
    return bytes;
}

} // namespace zerbrak
