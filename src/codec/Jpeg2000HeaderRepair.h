#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zerbrak::decoding {

// A copy of a JPEG 2000 file whose image and tile size marker (SIZ) is put back in shape, or
// nothing when there was nothing to mend: its length agreeing with its component count, the
// picture size, component count and sample depth those of the JP2 image header box where
// there is one (a box the codestream is checked against, but which damage seldom reaches
// first), tile sizes and subsampling that are not zero; and whose tile-part headers have the
// lengths their places give. A struck byte there refuses the whole file although every packet
// after it is intact.
std::optional<std::vector<std::uint8_t>> repairJpeg2000Header(std::span<const std::uint8_t> bytes);

} // namespace zerbrak::decoding
