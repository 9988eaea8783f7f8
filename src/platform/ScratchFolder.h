#pragma once

#include <QString>

namespace zerbrak {

// A private folder (mode 0700) for the files every transcode and snapshot overwrites:
// $XDG_RUNTIME_DIR/zerbrak when that is set, else the user's cache folder. Fixed names in a
// folder nobody else can write cannot be raced or planted by other users. Created on demand;
// an existing folder of ours is set back to 0700.
QString scratchFolder();

// `name` inside the scratch folder.
QString scratchPath(const QString& name);

} // namespace zerbrak
