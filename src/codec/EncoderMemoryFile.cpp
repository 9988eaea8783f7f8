#include "EncoderMemoryFile.h"

#include <algorithm>
#include <limits>
#include <new>
#include <stdexcept>
#include <sys/mman.h>

namespace zerbrak::encoders {

void reserveOutput(std::vector<std::uint8_t>& bytes, std::size_t size) {
    bytes.reserve(size);
    constexpr std::uintptr_t hugePage = std::uintptr_t{2} << 20U;
    const auto begin = reinterpret_cast<std::uintptr_t>(bytes.data());
    const std::uintptr_t first = (begin + hugePage - 1) & ~(hugePage - 1);
    const std::uintptr_t last = (begin + bytes.capacity()) & ~(hugePage - 1);
    if (last > first) {
        // Only advice: where huge pages are off or short, the buffer fills a page at a time.
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
}

bool MemoryFile::write(std::span<const std::uint8_t> data) noexcept {
    if (position_ > std::numeric_limits<std::size_t>::max() - data.size()) {
        return false;
    }
    const auto start = static_cast<std::size_t>(position_);
    const std::size_t end = start + data.size();
    try {
        if (start == bytes_.size()) {
            // The usual case, appending: no zero-filling of bytes about to be overwritten.
            bytes_.insert(bytes_.end(), data.begin(), data.end());
            position_ = end;
            return true;
        }
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

void MemoryFile::reserve(std::size_t size) noexcept {
    try {
        reserveOutput(bytes_, size);
    } catch (const std::exception&) {
        // Only a hint: without the room the file grows as it is written, or that write fails.
    }
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
