#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace zerbrak::encoders {

// Room in `bytes` for about `size` bytes, so a large file is not copied as it grows. Where the
// room is large, it is asked of the system in huge pages: writing a fresh 36 MB buffer a page
// at a time costs more in page faults than an uncompressed encode costs in all. Throws
// std::bad_alloc as reserve() does.
void reserveOutput(std::vector<std::uint8_t>& bytes, std::size_t size);

// A growable in-memory file with a cursor, for libraries that write through callbacks and
// seek back to patch lengths and offsets. Nothing here throws, so the callbacks can hand
// failures back to C code as return values.
class MemoryFile {
public:
    // Writes at the cursor, zero-filling any gap a forward seek left; false when out of memory.
    bool write(std::span<const std::uint8_t> data) noexcept;
    // Reads at the cursor; returns how many bytes were copied.
    std::size_t read(std::span<std::uint8_t> out) noexcept;

    // Room for a file of about this many bytes, so a large one is not copied as it grows.
    void reserve(std::size_t size) noexcept;
    void seek(std::uint64_t position) noexcept { position_ = position; }
    std::uint64_t position() const noexcept { return position_; }
    std::uint64_t size() const noexcept { return bytes_.size(); }

    std::vector<std::uint8_t> take() noexcept { return std::move(bytes_); }

private:
    std::vector<std::uint8_t> bytes_;
    std::uint64_t position_ = 0;
};

} // namespace zerbrak::encoders
