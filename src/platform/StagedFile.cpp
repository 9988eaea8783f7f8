#include "StagedFile.h"

#include <QFile>
#include <QRandomGenerator>
#include <QtGlobal>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace zerbrak {
namespace {

StagedOutcome taken() {
    return {StagedOutcome::State::Taken, 0, {}};
}

StagedOutcome failed(int code) {
    return {StagedOutcome::State::Failed, code, qt_error_string(code)};
}

// The file system knows no such call or flag (old kernels; FAT, some network file systems).
bool unsupported(int code) {
    return code == EINVAL || code == ENOSYS || code == EOPNOTSUPP || code == EPERM;
}

// Names `temporary` `target` without ever replacing a file there. RENAME_NOREPLACE first;
// where the file system lacks it, a hard link, which never replaces either; where it has no
// hard links, the name is first taken by an empty file of our own (O_EXCL cannot replace)
// and then renamed over: for a moment the name holds an empty file, but never another's.
StagedOutcome renameNoReplace(const QByteArray& temporary, const QByteArray& target) {
    if (::renameat2(AT_FDCWD, temporary.constData(), AT_FDCWD, target.constData(),
                    RENAME_NOREPLACE) == 0) {
        return {};
    }
    if (errno == EEXIST) {
        return taken();
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        return failed(errno);
    }
    if (::link(temporary.constData(), target.constData()) == 0) {
        ::unlink(temporary.constData());
        return {};
    }
    if (errno == EEXIST) {
        return taken();
    }
    if (!unsupported(errno)) {
        return failed(errno);
    }
    const int claim = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (claim < 0) {
        return errno == EEXIST ? taken() : failed(errno);
    }
    ::close(claim);
    if (::rename(temporary.constData(), target.constData()) != 0) {
        const int code = errno;
        ::unlink(target.constData());
        return failed(code);
    }
    return {};
}

} // namespace

StagedFile::StagedFile(Key /*key*/, QByteArray temporary, int fd)
    : temporary_(std::move(temporary)), fd_(std::in_place, fd) {}

StagedFile::~StagedFile() {
    if (!committed_) {
        ::unlink(temporary_.constData());
    }
}

std::unique_ptr<StagedFile> StagedFile::create(const QString& folder, StagedOutcome& failure) {
    // Short and fixed in length, whatever the final name: a name near the system's limit must
    // fail at its own commit, as that entry's fault, not here.
    const QByteArray prefix = QFile::encodeName(folder) + "/.zerbrak-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray temporary =
            prefix + QByteArray::number(QRandomGenerator::global()->generate64(), 36) + ".part";
        const int fd = ::open(temporary.constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            return std::make_unique<StagedFile>(Key{}, temporary, fd);
        }
        if (errno != EEXIST) {
            failure = failed(errno);
            return nullptr;
        }
    }
    failure = failed(EEXIST);
    return nullptr;
}

int StagedFile::fd() const {
    return fd_ ? fd_->get() : -1;
}

StagedOutcome StagedFile::commitAs(const QString& path) {
    if (committed_) {
        return failed(EALREADY);
    }
    if (fd_) {
        const int code = ::fdatasync(fd_->get()) == 0 ? 0 : errno;
        fd_.reset();
        // A file system that cannot sync (a pipe-like device) has still written what it took.
        if (code != 0 && code != EINVAL && code != EROFS) {
            return failed(code);
        }
    }
    StagedOutcome outcome = renameNoReplace(temporary_, QFile::encodeName(path));
    committed_ = outcome.done();
    return outcome;
}

} // namespace zerbrak
