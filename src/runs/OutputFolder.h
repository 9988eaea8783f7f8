#pragma once

#include <QString>
#include <cstdint>

namespace zerbrak {

// "<home>/Documents/zerbrak/", with its trailing slash.
QString outputFolderPath(const QString& home);

// Creates the output folder with its parents (Documents is often missing on Linux).
// Returns whether it exists afterwards.
bool ensureOutputFolder(const QString& home);

// "<home>/Documents/zerbrak/<run><frame>.<format>": run and frame numbers in decimal with
// nothing between them.
QString frameFileName(const QString& home, std::int32_t runNumber, std::int32_t frameNumber,
                      const QString& endFormat);

// Anything at all is there, a dangling symbolic link included: a run writes only under names
// that are free, so it never replaces a file, nor writes through a link, it did not make.
bool pathTaken(const QString& path);

} // namespace zerbrak
