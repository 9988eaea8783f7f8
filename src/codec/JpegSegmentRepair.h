#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zerbrak::decoding {

// A copy of a JPEG stream with the damage libjpeg refuses outright mended, or nothing when
// there is none: a header segment whose marker byte was struck gets the marker its content
// shows it to be (tables, frame, scan; else a comment), and a Huffman table libjpeg would
// refuse is mended where a symbol alone is wrong, left to the standard table (sequential
// files, whose encoders mostly write the standard tables) or replaced by a complete table of
// its own slot (progressive files, whose decoder has no standard table to fall back on), and a
// quantisation table whose slot byte was struck gets the slot the frame asks for in vain.
std::optional<std::vector<std::uint8_t>> repairJpegSegments(std::span<const std::uint8_t> bytes);

} // namespace zerbrak::decoding
