#include "FormatTable.h"

#include <algorithm>

namespace zerbrak {

const FormatRow& formatRow(FixedTarget target) {
    return *std::find_if(formatTable.begin(), formatTable.end(),
                         [target](const FormatRow& row) { return row.target == target; });
}

const FormatRow* rowForTitle(const QString& title) {
    const auto row = std::find_if(formatTable.begin(), formatTable.end(), [&](const FormatRow& r) {
        return title == QLatin1String(r.title);
    });
    return row == formatTable.end() ? nullptr : &*row;
}

const FormatRow* rowForExtension(const QString& extension) {
    const auto row = std::find_if(formatTable.begin(), formatTable.end(), [&](const FormatRow& r) {
        return extension == QLatin1String(r.extension);
    });
    return row == formatTable.end() ? nullptr : &*row;
}

} // namespace zerbrak
