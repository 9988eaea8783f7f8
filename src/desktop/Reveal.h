#pragma once

#include <QString>
#include <functional>

namespace zerbrak {

// Asks the desktop's file manager to show `path`, over D-Bus (org.freedesktop.FileManager1),
// and opens it as a folder when no file manager answers in time. Returns at once: without a
// session bus or a file manager nothing blocks and nothing fails loudly.
//
// `nobodyAnswered` runs, on this thread, when neither a file manager nor a folder opener took
// the path: the caller can then show it some other way.
void revealInFileManager(const QString& path, const std::function<void()>& nobodyAnswered = {});

} // namespace zerbrak
