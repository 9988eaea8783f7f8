#include "ScratchFolder.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace zerbrak {

QString scratchFolder() {
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty()) {
        base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    }
    const QString folder = QDir(base).filePath(QStringLiteral("zerbrak"));
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return folder;
}

QString scratchPath(const QString& name) {
    return QDir(scratchFolder()).filePath(name);
}

} // namespace zerbrak
