#pragma once

#include "core/TextValues.h"

#include <QString>

namespace zerbrak {

// pathExtension for a path held as a QString: the format a file's name gives it.
inline QString pathExtension(const QString& path) {
    const std::string utf8 = path.toStdString();
    return QString::fromStdString(std::string(pathExtension(std::string_view(utf8))));
}

} // namespace zerbrak
