#pragma once

#include <QString>

namespace zerbrak {

// Asks the desktop's file manager to show `path`, over D-Bus (org.freedesktop.FileManager1),
// and opens it as a folder when no file manager answers in time. Returns at once: without a
// session bus or a file manager nothing blocks and nothing fails loudly.
void revealInFileManager(const QString& path);

} // namespace zerbrak
