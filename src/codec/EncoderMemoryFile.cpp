#include "EncoderMemoryFile.h"

#include <algorithm>
#include <limits>
#include <new>

namespace zerbrak::encoders {

bool MemoryFile::write(std::span<const std::uint8_t> data) noexcept {
    if (position_ > std::numeric_limits<std::size_t>::max() - data.size()) {
        return false;
    }
    const auto start = static_cast<std::size_t>(position_);
    const std::size_t end = start + data.size();
    try {
        if (end > bytes_.size()) {
            bytes_.resize(end);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(start));
    position_ = end;
    return true;
}

std::size_t MemoryFile::read(std::span<std::uint8_t> out) noexcept {
    if (position_ >= bytes_.size()) {
        return 0;
    }
    const auto start = static_cast<std::size_t>(position_);
    const std::size_t count = std::min(out.size(), bytes_.size() - start);
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(start), count, out.begin());
    position_ += count;
    return count;
}

} // namespace zerbrak::encoders
