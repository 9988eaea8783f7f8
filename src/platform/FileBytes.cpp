#include "FileBytes.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSaveFile>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace zerbrak {
namespace {

QString systemError(int code) {
    return qt_error_string(code);
}

QString notRegular(const char* what) {
    return QStringLiteral("it is %1, not a regular file").arg(QLatin1String(what));
}

QString kindProblem(mode_t mode) {
    if (S_ISREG(mode)) {
        return {};
    }
    if (S_ISFIFO(mode)) {
        return notRegular("a named pipe (FIFO)");
    }
    if (S_ISDIR(mode)) {
        return notRegular("a folder");
    }
    if (S_ISCHR(mode)) {
        return notRegular("a character device");
    }
    if (S_ISBLK(mode)) {
        return notRegular("a block device");
    }
    if (S_ISSOCK(mode)) {
        return notRegular("a socket");
    }
    if (S_ISLNK(mode)) {
        return notRegular("a symbolic link");
    }
    return notRegular("something else");
}

QString readError(const QString& path, const QString& problem) {
    return QStringLiteral("Cannot read %1: %2.").arg(path, problem);
}

struct OpenedFile {
    FileDescriptor fd{-1};
    std::uint64_t size = 0;
    QString problem; // empty when fd is a regular file open for reading
};

// Opens `path` (relative to the folder `at`) for reading when it is a regular file. O_NONBLOCK
// keeps the open of a named pipe from waiting for a writer; fstat then judges what was actually
// opened, so the file cannot be swapped between a check and the open.
OpenedFile openRegular(int at, const QString& path, int extraFlags = 0) {
    const QByteArray native = QFile::encodeName(path);
    OpenedFile file{FileDescriptor(::openat(at, native.constData(),
                                            O_RDONLY | O_NONBLOCK | O_CLOEXEC | extraFlags)),
                    0,
                    {}};
    struct stat info {};
    if (!file.fd.valid()) {
        const int code = errno;
        // A socket cannot be opened at all; its error ("No such device or address") would
        // only confuse, and so would a refused link's ("Too many levels of symbolic links").
        const bool refusedLink = code == ELOOP && (extraFlags & O_NOFOLLOW) != 0;
        const bool known = (code == ENXIO || refusedLink) &&
                           ::fstatat(at, native.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                           (S_ISSOCK(info.st_mode) || S_ISLNK(info.st_mode));
        file.problem = known ? kindProblem(info.st_mode) : systemError(code);
    } else if (::fstat(file.fd.get(), &info) != 0) {
        file.problem = systemError(errno);
    } else {
        file.problem = kindProblem(info.st_mode);
        file.size = static_cast<std::uint64_t>(info.st_size);
    }
    return file;
}

InputFile inputFile(OpenedFile opened, const QString& path) {
    InputFile file{std::move(opened.fd), opened.size, {}};
    if (!opened.problem.isEmpty()) {
        file.error = readError(path, opened.problem);
    }
    return file;
}

// Writes all of `bytes` to `fd`; the system's error code when it refused some, else 0.
int writeAllTo(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t put = ::write(fd, bytes.data(), bytes.size());
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return put < 0 ? errno : ENOSPC;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(put));
    }
    return 0;
}

struct Temporary {
    FileDescriptor fd{-1};
    QByteArray name;
    int error = 0; // the system's code when there is none
};

// A fresh file in `folder` for the bytes that will replace `name`. Made with O_EXCL, so it
// never opens a file or link that was there before.
Temporary freshTemporary(int folder, const QByteArray& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray temporary =
            '.' + name + '.' + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        FileDescriptor fd(::openat(folder, temporary.constData(),
                                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (const int error = fd.valid() ? 0 : errno; error != EEXIST) {
            return {std::move(fd), std::move(temporary), error};
        }
    }
    return {FileDescriptor(-1), {}, EEXIST};
}

} // namespace

InputFile openInputFile(const QString& path) {
    return inputFile(openRegular(AT_FDCWD, path), path);
}

InputFile openInputFileAt(int folder, const QString& name, const QString& path) {
    return inputFile(openRegular(folder, name, O_NOFOLLOW), path);
}

QString writeFileWholeAt(int folder, const QString& name, std::span<const std::uint8_t> bytes) {
    const QByteArray native = QFile::encodeName(name);
    const Temporary temporary = freshTemporary(folder, native);
    if (!temporary.fd.valid()) {
        return systemError(temporary.error);
    }
    int code = writeAllTo(temporary.fd.get(), bytes);
    // On the disk before the rename, as a save elsewhere would be: never a named empty file.
    if (code == 0 && ::fdatasync(temporary.fd.get()) != 0 && errno != EINVAL) {
        code = errno;
    }
    if (code == 0 &&
        ::renameat(folder, temporary.name.constData(), folder, native.constData()) != 0) {
        code = errno;
    }
    if (code != 0) {
        ::unlinkat(folder, temporary.name.constData(), 0);
        return systemError(code);
    }
    return {};
}

QString cannotRead(const QString& path, int code) {
    return readError(path, systemError(code));
}

QString cannotRead(const QString& path, const QString& why) {
    return readError(path, why);
}

bool writeAll(QFileDevice& file, std::span<const std::uint8_t> bytes) {
    const auto size = static_cast<qint64>(bytes.size());
    const auto* data = reinterpret_cast<const char*>(bytes.data());
    qint64 done = 0;
    for (qint64 put = 0; done < size && (put = file.write(data + done, size - done)) > 0;) {
        done += put;
    }
    return done == size;
}

QString writeFileWhole(const QString& path, std::span<const std::uint8_t> bytes) {
    QSaveFile file(path);
    // Unbuffered: the bytes go straight to the file and a refusal comes with its reason.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        return file.errorString();
    }
    if (!writeAll(file, bytes)) {
        const QString error = file.errorString();
        file.cancelWriting();
        return error;
    }
    return file.commit() ? QString() : file.errorString();
}

QString unreadableFileError(const QString& path) {
    const QString problem = openRegular(AT_FDCWD, path).problem;
    return problem.isEmpty() ? problem : readError(path, problem);
}

FileBytes readFileBytes(const QString& path) {
    const InputFile opened = openInputFile(path);
    if (!opened.ok()) {
        return {{}, opened.error};
    }
    return readRemaining(opened, path);
}

FileBytes readRemaining(const InputFile& opened, const QString& path) {
    // Read straight into the one buffer the pass keeps: no second copy of a large file.
    FileBytes file;
    if (opened.size > 0) {
        file.bytes.resize(static_cast<std::size_t>(opened.size));
    }
    std::size_t filled = 0;
    std::array<std::uint8_t, 64 * 1024> chunk{};
    for (;;) {
        // Files that grew, or report no size (/proc), are read on in steps; a file that is
        // exactly its size costs one small read here, not a reallocation of the whole.
        const bool intoBuffer = filled < file.bytes.size();
        std::uint8_t* target = intoBuffer ? file.bytes.data() + filled : chunk.data();
        const std::size_t room = intoBuffer ? file.bytes.size() - filled : chunk.size();
        const ssize_t got = ::read(opened.fd.get(), target, room);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return {{}, readError(path, systemError(errno))};
        }
        if (got == 0) {
            break;
        }
        const auto count = static_cast<std::size_t>(got);
        if (!intoBuffer) {
            file.bytes.insert(file.bytes.end(), chunk.begin(),
                              chunk.begin() + static_cast<std::ptrdiff_t>(count));
        }
        filled += count;
    }
    file.bytes.resize(filled);
    return file;
}

} // namespace zerbrak
