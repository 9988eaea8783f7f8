#include "ScratchFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStandardPaths>
#include <QStringList>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace zerbrak {
namespace {

constexpr mode_t privateMode = 0700;
constexpr char ourName[] = "zerbrak";

QString ownerProblem(const struct stat& info) {
    if (info.st_uid == ::geteuid()) {
        return {};
    }
    return QStringLiteral("belongs to user %1, not to user %2").arg(info.st_uid).arg(::geteuid());
}

QString modeText(mode_t mode) {
    return QString::number(mode & 07777, 8).rightJustified(4, QLatin1Char('0'));
}

struct Opened {
    FileDescriptor fd{-1};
    QString problem; // empty when fd is usable
};

// The folder that holds ours, judged on the descriptor opened, not on its path. Whoever may
// write it may rename our folder away and put one of theirs in its place between our check
// and our writes, so it must be ours and closed to everyone else. A link to it is fine: what
// counts is who may change the folder it leads to.
Opened openBase(const QString& base) {
    Opened opened{FileDescriptor(::open(QFile::encodeName(base).constData(),
                                        O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
                  {}};
    struct stat info {};
    if (!opened.fd.valid()) {
        opened.problem = qt_error_string(errno);
    } else if (::fstat(opened.fd.get(), &info) != 0) {
        opened.problem = QStringLiteral("cannot be examined (%1)").arg(qt_error_string(errno));
    } else if (QString owner = ownerProblem(info); !owner.isEmpty()) {
        opened.problem = std::move(owner);
    } else if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        opened.problem =
            QStringLiteral("can be written by other users (mode %1)").arg(modeText(info.st_mode));
    }
    return opened;
}

// Our folder in the checked `base`, created when it is missing, and why it cannot hold scratch
// files. The checks are made on the descriptor that every later file operation goes through,
// so there is no moment between check and use.
Opened openPrivate(int base) {
    Opened opened{FileDescriptor(-1), {}};
    // mkdir sets the mode as it creates: no moment in which the folder is open to others.
    if (::mkdirat(base, ourName, privateMode) != 0 && errno != EEXIST) {
        opened.problem = QStringLiteral("cannot be created (%1)").arg(qt_error_string(errno));
        return opened;
    }
    FileDescriptor fd(::openat(base, ourName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (!fd.valid()) {
        const int code = errno;
        if (::fstatat(base, ourName, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode)) {
            opened.problem = QStringLiteral("is a symbolic link");
        } else if (code == ENOTDIR) {
            opened.problem = QStringLiteral("is not a folder");
        } else {
            opened.problem = QStringLiteral("cannot be opened (%1)").arg(qt_error_string(code));
        }
    } else if (::fstat(fd.get(), &info) != 0) {
        opened.problem = QStringLiteral("cannot be examined (%1)").arg(qt_error_string(errno));
    } else if (QString owner = ownerProblem(info); !owner.isEmpty()) {
        opened.problem = std::move(owner);
    } else if ((info.st_mode & 07777) != privateMode) {
        opened.problem = QStringLiteral("has mode %1, not 0700").arg(modeText(info.st_mode));
    } else if (::faccessat(fd.get(), ".", W_OK | X_OK, 0) != 0) {
        opened.problem = QStringLiteral("is not writable (%1)").arg(qt_error_string(errno));
    } else {
        return {std::move(fd), {}};
    }
    return opened;
}

struct Base {
    QString path; // empty when unknown
    bool create;  // made when missing: the runtime folder is the session's, never ours to make
};

// The folders that may hold ours, in the order they are tried.
QList<Base> baseFolders() {
    QList<Base> bases;
    if (const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR"); !runtime.isEmpty()) {
        bases.append({runtime, false});
    }
    // The cache folder is shared with other programs and may not exist yet.
    bases.append({QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation), true});
    return bases;
}

QString folderIn(const Base& base) {
    return QDir::cleanPath(QDir(base.path).filePath(QLatin1String(ourName)));
}

// Our folder in `base` when it is usable, else an unusable one whose error says why.
ScratchFolder checkedFolder(const Base& base) {
    if (base.path.isEmpty()) {
        return {{}, QStringLiteral("the cache folder is unknown"), FileDescriptor(-1)};
    }
    if (base.create) {
        QDir().mkpath(base.path);
    }
    QString folder = folderIn(base);
    const Opened parent = openBase(base.path);
    if (!parent.fd.valid()) {
        return {{},
                folder + QStringLiteral(" cannot be created (%1)").arg(parent.problem),
                FileDescriptor(-1)};
    }
    if (!parent.problem.isEmpty()) {
        return {{}, base.path + QLatin1Char(' ') + parent.problem, FileDescriptor(-1)};
    }
    Opened opened = openPrivate(parent.fd.get());
    if (!opened.problem.isEmpty()) {
        return {{}, folder + QLatin1Char(' ') + opened.problem, FileDescriptor(-1)};
    }
    return {std::move(folder), {}, std::move(opened.fd)};
}

} // namespace

QString ScratchFolder::filePath(const QString& name) const {
    return QDir(path).filePath(name);
}

QString ScratchFolder::writeWhole(const QString& name, std::span<const std::uint8_t> bytes) const {
    return writeFileWholeAt(fd.get(), name, bytes);
}

InputFile ScratchFolder::open(const QString& name) const {
    return openInputFileAt(fd.get(), name, filePath(name));
}

ScratchFolder scratchFolder() {
    QStringList refusals;
    for (const Base& base : baseFolders()) {
        ScratchFolder folder = checkedFolder(base);
        if (folder.usable()) {
            return folder;
        }
        refusals << folder.error;
    }
    return {{},
            QStringLiteral("no private scratch folder is usable: ") +
                refusals.join(QStringLiteral("; ")),
            FileDescriptor(-1)};
}

InputFile openPassInput(const QString& path) {
    const QFileInfo file(path);
    const QString folder = QDir::cleanPath(file.absolutePath());
    for (const Base& base : baseFolders()) {
        if (base.path.isEmpty() || folderIn(base) != folder) {
            continue;
        }
        // Judged afresh: a folder that is no longer private may hold what others put there.
        const ScratchFolder scratch = checkedFolder(base);
        if (!scratch.usable()) {
            return {FileDescriptor(-1), 0, cannotRead(path, scratch.error)};
        }
        return scratch.open(file.fileName());
    }
    return openInputFile(path);
}

} // namespace zerbrak
