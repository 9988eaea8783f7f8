#include "OutputFolder.h"

#include <QDir>
#include <QFile>
#include <filesystem>
#include <system_error>

namespace zerbrak {

QString outputFolderPath(const QString& home) {
    return home + QStringLiteral("/Documents/zerbrak/");
}

bool ensureOutputFolder(const QString& home) {
    return QDir().mkpath(outputFolderPath(home));
}

QString frameFileName(const QString& home, std::int32_t runNumber, std::int32_t frameNumber,
                      const QString& endFormat) {
    return outputFolderPath(home) + QString::number(runNumber) + QString::number(frameNumber) +
           QLatin1Char('.') + endFormat;
}

bool pathTaken(const QString& path) {
    std::error_code error;
    const auto status =
        std::filesystem::symlink_status(QFile::encodeName(path).toStdString(), error);
    return std::filesystem::exists(status);
}

} // namespace zerbrak
