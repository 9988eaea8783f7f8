#include "ScratchFolder.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QStringList>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace zerbrak {
namespace {

constexpr mode_t privateMode = 0700;

// Why `folder` cannot hold scratch files, creating it when it is missing; empty when it can.
QString privateFolderProblem(const QString& folder) {
    const QByteArray native = QFile::encodeName(folder);
    // mkdir sets the mode as it creates: no moment in which the folder is open to others.
    if (::mkdir(native.constData(), privateMode) != 0 && errno != EEXIST) {
        return QStringLiteral("cannot be created (%1)").arg(qt_error_string(errno));
    }
    struct stat info {};
    if (::lstat(native.constData(), &info) != 0) {
        return QStringLiteral("cannot be examined (%1)").arg(qt_error_string(errno));
    }
    if (S_ISLNK(info.st_mode)) {
        return QStringLiteral("is a symbolic link");
    }
    if (!S_ISDIR(info.st_mode)) {
        return QStringLiteral("is not a folder");
    }
    if (info.st_uid != ::geteuid()) {
        return QStringLiteral("belongs to user %1, not to user %2")
            .arg(info.st_uid)
            .arg(::geteuid());
    }
    if (const mode_t mode = info.st_mode & 07777; mode != privateMode) {
        return QStringLiteral("has mode %1, not 0700")
            .arg(QString::number(mode, 8).rightJustified(4, QLatin1Char('0')));
    }
    if (::access(native.constData(), W_OK | X_OK) != 0) {
        return QStringLiteral("is not writable (%1)").arg(qt_error_string(errno));
    }
    return {};
}

} // namespace

QString ScratchFolder::filePath(const QString& name) const {
    return QDir(path).filePath(name);
}

ScratchFolder scratchFolder() {
    QStringList refusals;
    // zerbrak/ in `base` when it is usable, else empty with the reason noted.
    const auto usableIn = [&refusals](const QString& base) {
        const QString folder = QDir(base).filePath(QStringLiteral("zerbrak"));
        if (const QString problem = privateFolderProblem(folder); !problem.isEmpty()) {
            refusals << folder + QLatin1Char(' ') + problem;
            return QString();
        }
        return folder;
    };

    if (const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR"); !runtime.isEmpty()) {
        if (QString folder = usableIn(runtime); !folder.isEmpty()) {
            return {std::move(folder), {}};
        }
    }
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty()) {
        refusals << QStringLiteral("the cache folder is unknown");
    } else {
        // The cache folder itself is shared with other programs: only ours has to be private.
        QDir().mkpath(cache);
        if (QString folder = usableIn(cache); !folder.isEmpty()) {
            return {std::move(folder), {}};
        }
    }
    return {{},
            QStringLiteral("no private scratch folder is usable: ") +
                refusals.join(QStringLiteral("; "))};
}

} // namespace zerbrak
