#pragma once

#include "FileDescriptor.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

namespace zerbrak {

// What became of a commit, or of the temporary's creation.
struct StagedOutcome {
    enum class State { Done, Taken, Failed };
    State state = State::Done;
    int code = 0; // with Failed: the system's error number
    QString why;  // with Failed: in the system's words

    bool done() const { return state == State::Done; }
    bool taken() const { return state == State::Taken; }
};

// A new file written under a temporary name in the folder of its final name, and given that
// name only once written whole, by a rename that never replaces what is there: two runs that
// chose the same free name at once cannot replace each other's file, and a failed write leaves
// nothing under the name. A temporary never committed is removed with the object.
class StagedFile {
    struct Key {
        explicit Key() = default;
    };

public:
    // The temporary in `folder`, created empty with the permissions a new file gets there (the
    // umask applies); nothing, with `failure` set, when it cannot be made.
    static std::unique_ptr<StagedFile> create(const QString& folder, StagedOutcome& failure);

    StagedFile(Key, QByteArray temporary, int fd);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;
    StagedFile(StagedFile&&) = delete;
    StagedFile& operator=(StagedFile&&) = delete;

    // The temporary, open for writing; -1 after the first commit.
    int fd() const;

    // Gives the file the name `path` (in the same folder) unless something is there: Taken
    // then, and the file stays staged for another name. The first call sends the bytes to the
    // disk and closes the file, so a commit never names a file the system may still lose.
    StagedOutcome commitAs(const QString& path);

private:
    QByteArray temporary_;
    std::optional<FileDescriptor> fd_;
    bool committed_ = false;
};

} // namespace zerbrak
