#pragma once

#include <QString>
#include <cstdint>
#include <vector>

namespace zerbrak {

// The whole content of a file in one buffer; empty when the file is missing or unreadable.
std::vector<std::uint8_t> readFileBytes(const QString& path);

} // namespace zerbrak
