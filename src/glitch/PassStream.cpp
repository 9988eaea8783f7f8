#include "PassStream.h"

#include <QtGlobal>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <span>
#include <sys/stat.h>
#include <unistd.h>

namespace zerbrak {
namespace {

// A buffer whose pages are only touched as the file fills them: a small file costs little
// resident memory however large the chunk.
class Buffer {
public:
    explicit Buffer(std::size_t size)
        : bytes_(std::make_unique_for_overwrite<std::uint8_t[]>(size)), size_(size) {}

    std::span<std::uint8_t> all() { return {bytes_.get(), size_}; }

private:
    std::unique_ptr<std::uint8_t[]> bytes_;
    std::size_t size_;
};

// The two ends of one pass and what became of them.
class Pipe {
public:
    Pipe(const InputFile& input, const QString& inputPath, int outputFd,
         const StreamOptions& options, StreamOutcome& outcome)
        : in_(input.fd.get()), inputPath_(inputPath), out_(outputFd), outcome_(outcome) {
        if (options.keepUpTo > 0 && input.size <= options.keepUpTo) {
            // The rewrite may double the file; one that grows past that is not kept.
            keepLimit_ = LineBreakStream::maxOutput(static_cast<std::size_t>(options.keepUpTo));
            outcome_.bytes.emplace();
            outcome_.bytes->reserve(static_cast<std::size_t>(input.size));
        }
    }

    bool keeping() const { return outcome_.bytes.has_value(); }
    int input() const { return in_; }
    int output() const { return out_; }

    // Reads the next piece into `buffer`: its length, 0 at the end of the input, nothing when
    // the read failed (the outcome says why).
    std::optional<std::size_t> read(std::span<std::uint8_t> buffer) {
        for (;;) {
            const ssize_t got = ::read(in_, buffer.data(), buffer.size());
            if (got >= 0) {
                return static_cast<std::size_t>(got);
            }
            if (errno != EINTR) {
                outcome_.readError = cannotRead(inputPath_, errno);
                return std::nullopt;
            }
        }
    }

    // Writes all of `bytes`; false when the output refused some (the outcome says why). A
    // full disk first shows as a short write with no error, so this writes on until the
    // system answers.
    bool write(std::span<const std::uint8_t> bytes) {
        keep(bytes);
        while (!bytes.empty()) {
            const ssize_t put = ::write(out_, bytes.data(), bytes.size());
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put <= 0) {
                return writeFailed(put < 0 ? errno : EIO);
            }
            bytes = bytes.subspan(static_cast<std::size_t>(put));
            written_ += static_cast<std::uint64_t>(put);
        }
        startWriteback();
        return true;
    }

    // Stores the strike into what was already written.
    bool strikeWritten(const Strike& strike) {
        for (;;) {
            const ssize_t put =
                ::pwrite(out_, &strike.value, 1, static_cast<off_t>(strike.position));
            if (put == 1) {
                break;
            }
            if (put < 0 && errno == EINTR) {
                continue;
            }
            return writeFailed(put < 0 ? errno : EIO);
        }
        if (keeping()) {
            (*outcome_.bytes)[static_cast<std::size_t>(strike.position)] = strike.value;
        }
        return true;
    }

    void readFailed(const QString& why) { outcome_.readError = cannotRead(inputPath_, why); }

private:
    // Sends what was written to the disk while the pass goes on, without waiting for it: the
    // sync before the output replaces the old one then finds little left to do, and a large
    // file does not fill memory with pages waiting to be written. Only a file has such pages;
    // elsewhere the call fails harmlessly.
    void startWriteback() {
        constexpr std::uint64_t step = std::uint64_t{8} << 20U;
        if (written_ - sentToDisk_ >= step) {
            ::sync_file_range(out_, static_cast<off_t>(sentToDisk_),
                              static_cast<off_t>(written_ - sentToDisk_), SYNC_FILE_RANGE_WRITE);
            sentToDisk_ = written_;
        }
    }

    void keep(std::span<const std::uint8_t> bytes) {
        if (!keeping()) {
            return;
        }
        if (outcome_.bytes->size() + bytes.size() > keepLimit_) {
            outcome_.bytes.reset();
            return;
        }
        outcome_.bytes->insert(outcome_.bytes->end(), bytes.begin(), bytes.end());
    }

    bool writeFailed(int code) {
        outcome_.writeError = qt_error_string(code);
        outcome_.writeErrorCode = code;
        return false;
    }

    int in_;
    const QString& inputPath_;
    int out_;
    StreamOutcome& outcome_;
    std::size_t keepLimit_ = 0;
    std::uint64_t written_ = 0;
    std::uint64_t sentToDisk_ = 0;
};

void streamRewrite(Pipe& pipe, std::size_t chunkSize) {
    Buffer piece(chunkSize);
    Buffer rewritten(LineBreakStream::maxOutput(chunkSize));
    LineBreakStream stream;
    for (std::optional<std::size_t> got; (got = pipe.read(piece.all())) && *got > 0;) {
        const std::size_t length = stream.rewrite(piece.all().first(*got), rewritten.all());
        if (!pipe.write(rewritten.all().first(length))) {
            return;
        }
    }
}

void streamScatter(Pipe& pipe, const GlitchParams& params, RandomSource& random,
                   std::size_t chunkSize) {
    Buffer buffer(chunkSize);
    ScatterWalk walk(params);
    for (std::optional<std::size_t> got; (got = pipe.read(buffer.all())) && *got > 0;) {
        const std::span<std::uint8_t> piece = buffer.all().first(*got);
        walk.damage(piece, random);
        if (!pipe.write(piece)) {
            return;
        }
    }
}

// Copies the input's remaining bytes to the output through `buffer`; how many, or nothing
// when a read or a write failed.
std::optional<std::uint64_t> copyThrough(Pipe& pipe, std::span<std::uint8_t> buffer) {
    std::uint64_t copied = 0;
    for (;;) {
        const std::optional<std::size_t> got = pipe.read(buffer);
        if (!got) {
            return std::nullopt;
        }
        if (*got == 0) {
            return copied;
        }
        if (!pipe.write(buffer.first(*got))) {
            return std::nullopt;
        }
        copied += *got;
    }
}

// Into a regular output: the file copied whole, by the kernel where it can (no pass through
// our memory, or no copy at all on a file system that shares blocks), then the one byte.
void strikeAfterCopy(Pipe& pipe, std::uint64_t expectedSize, RandomSource& random,
                     std::size_t chunkSize) {
    std::uint64_t copied = 0;
    // Kept bytes have to pass through memory anyway.
    if (!pipe.keeping()) {
        constexpr std::uint64_t step = std::uint64_t{1} << 30U;
        while (copied < expectedSize) {
            const ssize_t moved = ::copy_file_range(
                pipe.input(), nullptr, pipe.output(), nullptr,
                static_cast<std::size_t>(std::min(expectedSize - copied, step)), 0);
            if (moved < 0 && errno == EINTR) {
                continue;
            }
            // Refused (other file systems, old kernels, outputs it cannot write), or a fault
            // the plain copy below meets again and names as a read or a write error.
            if (moved <= 0) {
                break;
            }
            copied += static_cast<std::uint64_t>(moved);
        }
    }
    // The rest, and the end of the file confirmed: it may have grown, or have no size the
    // system knows (/proc).
    Buffer buffer(copied == expectedSize ? std::min<std::size_t>(chunkSize, 64 * 1024) : chunkSize);
    const std::optional<std::uint64_t> rest = copyThrough(pipe, buffer.all());
    if (!rest) {
        return;
    }
    if (const std::optional<Strike> strike = drawStrike(copied + *rest, random)) {
        pipe.strikeWritten(*strike);
    }
}

// Into a pipe or a device, where nothing written can be reached again: the strike is drawn
// from the size the system gave and stored as its piece passes. An input whose length turns
// out otherwise changed while it was read.
void strikeInStream(Pipe& pipe, std::uint64_t size, RandomSource& random, std::size_t chunkSize) {
    const std::optional<Strike> strike = drawStrike(size, random);
    Buffer buffer(chunkSize);
    std::uint64_t offset = 0;
    for (;;) {
        const std::optional<std::size_t> got = pipe.read(buffer.all());
        if (!got) {
            return;
        }
        if (*got == 0) {
            break;
        }
        const std::span<std::uint8_t> piece = buffer.all().first(*got);
        if (strike && strike->position >= offset && strike->position - offset < piece.size()) {
            piece[static_cast<std::size_t>(strike->position - offset)] = strike->value;
        }
        if (!pipe.write(piece)) {
            return;
        }
        offset += piece.size();
    }
    if (offset != size) {
        pipe.readFailed(QStringLiteral("it changed while it was read"));
    }
}

} // namespace

StreamOutcome streamMode(const InputFile& input, const QString& inputPath, int outputFd,
                         CorruptionMode mode, const GlitchParams& params, RandomSource& random,
                         const StreamOptions& options) {
    StreamOutcome outcome;
    Pipe pipe(input, inputPath, outputFd, options, outcome);
    const std::size_t chunkSize = std::max<std::size_t>(options.chunkSize, 1);
    ::posix_fadvise(input.fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    switch (mode) {
    case CorruptionMode::LineBreakRewrite:
        streamRewrite(pipe, chunkSize);
        break;
    case CorruptionMode::ReplaceAndScatter:
        streamScatter(pipe, params, random, chunkSize);
        break;
    case CorruptionMode::SingleByteStrike: {
        struct stat output {};
        if (::fstat(outputFd, &output) == 0 && S_ISREG(output.st_mode)) {
            strikeAfterCopy(pipe, input.size, random, chunkSize);
        } else {
            strikeInStream(pipe, input.size, random, chunkSize);
        }
        break;
    }
    }
    return outcome;
}

} // namespace zerbrak
