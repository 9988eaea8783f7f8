#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zerbrak::decoding {

// A copy of a classic TIFF whose first directory has its one-value-per-image fields put back
// in shape (a count of 1 for SamplesPerPixel, Compression, Photometric, PlanarConfig and the
// sizes, whose type is mended too; the same bits for every sample; no compression in place of
// a scheme libtiff does not know), or nothing when there was nothing to mend. A single struck byte
// in those fields makes libtiff refuse the whole file although every strip is still intact.
std::optional<std::vector<std::uint8_t>> repairTiffDirectory(std::span<const std::uint8_t> bytes);

} // namespace zerbrak::decoding
