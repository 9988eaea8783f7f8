#pragma once

#include <QString>

namespace zerbrak {

// Full path of a data file shipped with the program, by base name and type, or an empty
// string when it is nowhere. Looks in $ZERBRAK_DATA_DIR, then share/zerbrak beside the
// binary's folder (the build tree has the same shape), then the installed data folder.
QString resourcePath(const QString& baseName, const QString& type);

// The edition's start image, or an empty string when it is missing.
QString startImagePath();

} // namespace zerbrak
