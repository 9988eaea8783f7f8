#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zerbrak::decoding {

// A copy of a PNG's chunks (from the first chunk on, past the signature) with the damage that
// stops libpng mended, or nothing when none was found: an IHDR whose one struck byte its own
// checksum tells back, an IHDR length that is not 13, a chunk type one letter off IDAT, and a
// chunk length that runs past the file or onto something that is no chunk type, which is set
// to reach the next IDAT or IEND instead, so that decoding goes on from there.
std::optional<std::vector<std::uint8_t>> repairPngChunks(std::span<const std::uint8_t> chunks);

} // namespace zerbrak::decoding
