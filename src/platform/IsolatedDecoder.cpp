#include "IsolatedDecoder.h"

#include "FileBytes.h"
#include "FileDescriptor.h"
#include "Log.h"
#include "codec/Decode.h"
#include "decoder/DecoderWire.h"

#include <QFile>
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace zerbrak {

DecodeResult decodeBytes(ImageDecoder* decoder, std::span<const std::uint8_t> bytes) {
    return decoder != nullptr ? decoder->decodeBytes(bytes) : decodeImageBytes(bytes);
}

DecodeResult decodeFile(ImageDecoder* decoder, const QString& path) {
    return decoder != nullptr ? decoder->decodeFile(path) : decodeImageFile(path);
}

namespace {

using namespace decoderwire;

constexpr const char* helperName = "zerbrak-decoder";

DecodeResult failure(const QString& message) {
    return {QImage(), false, message};
}

} // namespace

// An arena of the helper's, mapped here once and kept while the helper keeps it or a picture
// still lives in it.
struct IsolatedDecoder::Arena {
    void* address = nullptr;
    std::size_t size = 0;
    std::atomic<bool> inUse{false}; // a picture lives in it: the helper must not fill it

    Arena() = default;
    ~Arena() {
        if (address != nullptr) {
            ::munmap(address, size);
        }
    }
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;
};

namespace {

// The last image on an arena has gone: the helper may fill it again.
void releaseArena(void* info) {
    const std::unique_ptr<std::shared_ptr<IsolatedDecoder::Arena>> held(
        static_cast<std::shared_ptr<IsolatedDecoder::Arena>*>(info));
    (*held)->inUse = false;
}

constexpr std::size_t pageBytes = 4096;

// Whether the helper's memfd carries the seals that keep our mapping of it whole: it can
// neither shrink nor grow, and a memfd for one picture alone cannot be written either.
bool sealedEnough(int fd, bool ownPicture) {
    const int seals = ::fcntl(fd, F_GET_SEALS);
    const int needed = F_SEAL_SHRINK | F_SEAL_GROW | (ownPicture ? F_SEAL_WRITE : 0);
    return seals >= 0 && (seals & needed) == needed;
}

// Maps the memfd of a new arena, read-only: the helper fills it, we only read it. Null when it
// cannot be.
std::shared_ptr<IsolatedDecoder::Arena> mapArena(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0 || status.st_size <= 0) {
        return nullptr;
    }
    const auto size = static_cast<std::size_t>(status.st_size);
    void* address = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED) {
        return nullptr;
    }
    auto arena = std::make_shared<IsolatedDecoder::Arena>();
    arena->address = address;
    arena->size = size;
    // The first touch of each page is the costly one, mapped in advance or not: taken here, on
    // the thread that decodes, rather than on the GUI thread that draws the picture.
    const auto* bytes = static_cast<const volatile std::uint8_t*>(address);
    for (std::size_t at = 0; at < size; at += pageBytes) {
        static_cast<void>(bytes[at]);
    }
    return arena;
}

// The picture the reply describes at the start of `arena`, without a copy; null when the
// reply does not fit the arena.
QImage adoptPicture(const Reply& reply, const std::shared_ptr<IsolatedDecoder::Arena>& arena) {
    if (!arena || reply.width <= 0 || reply.height <= 0 || reply.bytesPerLine <= 0 ||
        reply.format <= 0 || reply.format >= QImage::NImageFormats) {
        return {};
    }
    const auto format = static_cast<QImage::Format>(reply.format);
    const auto size =
        static_cast<std::size_t>(reply.bytesPerLine) * static_cast<std::size_t>(reply.height);
    const int depth = QImage::toPixelFormat(format).bitsPerPixel();
    if (arena->size < size || static_cast<std::int64_t>(reply.bytesPerLine) * 8 <
                                  static_cast<std::int64_t>(reply.width) * depth) {
        return {};
    }
    arena->inUse = true;
    auto held = std::make_unique<std::shared_ptr<IsolatedDecoder::Arena>>(arena);
    // Read-only data: anything that writes to the picture copies it first.
    QImage image(static_cast<const uchar*>(arena->address), reply.width, reply.height,
                 reply.bytesPerLine, format, releaseArena, held.get());
    if (image.isNull()) {
        releaseArena(held.release());
        return {};
    }
    static_cast<void>(held.release()); // the image lets it go
    return image;
}

} // namespace

IsolatedDecoder::IsolatedDecoder() : IsolatedDecoder(Options{}) {}

IsolatedDecoder::IsolatedDecoder(Options options) : options_(std::move(options)) {
    if (options_.helperPath.isEmpty()) {
        options_.helperPath = helperLocation();
    }
}

IsolatedDecoder::~IsolatedDecoder() {
    stopHelper();
    if (inputFd_ >= 0) {
        ::close(inputFd_);
    }
}

QString IsolatedDecoder::helperLocation() {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path binary = fs::read_symlink("/proc/self/exe", error);
    std::vector<fs::path> candidates;
    if (!error) {
        candidates.push_back(binary.parent_path() / helperName);
        candidates.push_back(binary.parent_path().parent_path() / "libexec" / "zerbrak" /
                             helperName);
    }
    candidates.push_back(fs::path(ZERBRAK_INSTALL_LIBEXECDIR) / helperName);
    for (const fs::path& candidate : candidates) {
        if (::access(candidate.c_str(), X_OK) == 0) {
            return QString::fromStdString(candidate.string());
        }
    }
    return {};
}

std::optional<IsolatedDecoder::Cost> IsolatedDecoder::lastCost() const {
    const std::lock_guard lock(requestMutex_);
    return lastCost_;
}

pid_t IsolatedDecoder::helperPid() const {
    const std::lock_guard lock(pidMutex_);
    return pid_;
}

void IsolatedDecoder::cancel() {
    const std::lock_guard lock(pidMutex_);
    if (busy_ && pid_ > 0) {
        cancelled_ = true;
        ::kill(pid_, SIGKILL);
    }
}

namespace {

// Writes `bytes` at the start of `fd`; false when they do not all fit.
bool writeAtStart(int fd, std::span<const std::uint8_t> bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t count =
            ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(count);
    }
    return true;
}

// Inputs up to this size go through the one kept memfd; larger ones each through their own,
// so that the kept one holds little memory between decodes.
constexpr std::size_t maxKeptInputBytes = std::size_t{64} << 20U;
constexpr std::size_t inputStep = std::size_t{4} << 20U;

} // namespace

DecodeResult IsolatedDecoder::decodeBytes(std::span<const std::uint8_t> bytes) {
    std::optional<DecodeResult> result;
    {
        const std::lock_guard lock(requestMutex_);
        lastCost_.reset();
        // Bytes no file may hold are not copied anywhere.
        if (const QString refusal = sizeRefusal(bytes.size()); !refusal.isEmpty()) {
            return failure(refusal);
        }
        // The bytes travel in a memfd: one copy into it, none through the socket. The same
        // memfd serves request after request, as its pages are then already there.
        const bool kept = bytes.size() <= maxKeptInputBytes;
        if (kept && inputCapacity_ < bytes.size()) {
            if (inputFd_ < 0) {
                inputFd_ = ::memfd_create("zerbrak-input", MFD_CLOEXEC);
            }
            const std::size_t capacity = (bytes.size() + inputStep - 1) / inputStep * inputStep;
            if (inputFd_ >= 0 && ::ftruncate(inputFd_, static_cast<off_t>(capacity)) == 0) {
                inputCapacity_ = capacity;
            }
        }
        const FileDescriptor oneOff(kept ? -1 : ::memfd_create("zerbrak-input", MFD_CLOEXEC));
        const int fd = kept ? (inputCapacity_ >= bytes.size() ? inputFd_ : -1) : oneOff.get();
        if (fd >= 0 && writeAtStart(fd, bytes)) {
            result = request(static_cast<std::uint32_t>(RequestKind::Decode), fd, bytes.size());
        }
    }
    return result ? std::move(*result) : decodeImageBytes(bytes);
}

DecodeResult IsolatedDecoder::decodeFile(const QString& path) {
    // The helper maps the file itself, so it gets only what the in-process decode would read: a
    // regular file within the size limit. Anything else (a pipe, a device, a file of gigabytes)
    // and any failure to open it goes the in-process way, which reports it without reading it.
    const InputFile input = openInputFile(path);
    {
        const std::lock_guard lock(requestMutex_);
        lastCost_.reset();
        if (input.ok() && sizeRefusal(input.size).isEmpty()) {
            if (auto result = request(static_cast<std::uint32_t>(RequestKind::Decode),
                                      input.fd.get(), input.size)) {
                return std::move(*result);
            }
        }
    }
    return decodeImageFile(path);
}

DecodeResult IsolatedDecoder::induce(Fault fault) {
    const std::lock_guard lock(requestMutex_);
    lastCost_.reset();
    RequestKind kind = RequestKind::Crash;
    switch (fault) {
    case Fault::Crash:
        break;
    case Fault::Stall:
        kind = RequestKind::Stall;
        break;
    case Fault::Spin:
        kind = RequestKind::Spin;
        break;
    case Fault::Unsealed:
        kind = RequestKind::Unsealed;
        break;
    }
    if (auto result = request(static_cast<std::uint32_t>(kind), -1, 0)) {
        return std::move(*result);
    }
    return failure(QStringLiteral("no decoder process"));
}

std::optional<DecodeResult> IsolatedDecoder::request(std::uint32_t kind, int fd,
                                                     std::uint64_t size) {
    {
        // From here on a cancel kills the helper: also one that has not got the request yet.
        const std::lock_guard pidLock(pidMutex_);
        busy_ = true;
        cancelled_ = false;
    }
    lastCost_.reset();
    // A helper that died between requests shows only when this one cannot be sent: that death
    // is not this request's doing, so it goes to a fresh helper once.
    bool sent = false;
    std::optional<std::chrono::nanoseconds> cpuAtStart;
    for (int attempt = 0; attempt < 2 && !sent; ++attempt) {
        if (!ensureHelper()) {
            const std::lock_guard pidLock(pidMutex_);
            busy_ = false;
            return std::nullopt;
        }
        cpuAtStart = helperCpuTime();
        sent = send(kind, fd, size);
        if (!sent) {
            stopHelper();
        }
    }
    const auto start = std::chrono::steady_clock::now();
    DecodeResult result = awaitReply(sent, cpuAtStart);
    if (sent && !lastCost_) {
        lastCost_ = Cost{std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::steady_clock::now() - start),
                         0};
    }
    return result;
}

bool IsolatedDecoder::ensureHelper() {
    if (socket_ >= 0) {
        return true;
    }
    if (unavailable_) {
        return false;
    }
    std::array<int, 2> ends{-1, -1};
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends.data()) != 0) {
        logLine(QStringLiteral("decoding in-process: no socket for the decoder (%1)")
                    .arg(QString::fromLocal8Bit(std::strerror(errno))));
        unavailable_ = true;
        return false;
    }
    const FileDescriptor helperEnd(ends[1]);
    const QByteArray path = QFile::encodeName(options_.helperPath);
    int spawnError = ENOENT;
    pid_t pid = -1;
    if (!path.isEmpty()) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        // dup2 onto the agreed number drops close-on-exec from the helper's end alone.
        posix_spawn_file_actions_adddup2(&actions, helperEnd.get(), helperSocketFd);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        // Threads of ours may block signals; the helper starts with none blocked.
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
        std::array<char*, 2> argv{const_cast<char*>(helperName), nullptr};
        spawnError =
            ::posix_spawn(&pid, path.constData(), &actions, &attributes, argv.data(), environ);
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    if (spawnError != 0) {
        ::close(ends[0]);
        logLine(QStringLiteral("decoding in-process: the decoder %1 cannot be started (%2)")
                    .arg(options_.helperPath.isEmpty() ? QString::fromUtf8(helperName)
                                                       : options_.helperPath,
                         QString::fromLocal8Bit(std::strerror(spawnError))));
        unavailable_ = true;
        return false;
    }
    // Set before the first request reaches it, which is all the helper waits for. Sanitizers
    // reserve terabytes of shadow address space: their builds go without the memory limit.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    const rlimit memory{options_.memoryLimit, options_.memoryLimit};
    if (::prlimit(pid, RLIMIT_AS, &memory, nullptr) != 0) {
        logLine(QStringLiteral("the decoder runs without a memory limit (%1)")
                    .arg(QString::fromLocal8Bit(std::strerror(errno))));
    }
#endif
    // A crash is a decode result, not a core dump for the system's crash collector.
    const rlimit noCore{0, 0};
    ::prlimit(pid, RLIMIT_CORE, &noCore, nullptr);
    // Each decode's processor time is read from this clock, as it runs.
    clockid_t clock{};
    const std::lock_guard lock(pidMutex_);
    pid_ = pid;
    cpuClock_.reset();
    if (::clock_getcpuclockid(pid, &clock) == 0) {
        cpuClock_ = clock;
    } else {
        logLine(QStringLiteral("the decoder runs without a processor time limit (%1)")
                    .arg(QString::fromLocal8Bit(std::strerror(errno))));
    }
    socket_ = ends[0];
    return true;
}

bool IsolatedDecoder::send(std::uint32_t kind, int fd, std::uint64_t size) const {
    Request request;
    request.kind = static_cast<RequestKind>(kind);
    request.size = size;
    for (std::size_t n = 0; n < arenas_.size(); ++n) {
        if (!arenas_[n] || !arenas_[n]->inUse) {
            request.freeArenas |= 1U << n;
        }
    }
    iovec data{&request, sizeof request};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> control{};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    if (fd >= 0) {
        message.msg_control = control.data();
        message.msg_controllen = control.size();
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
    }
    ssize_t sent = 0;
    do {
        sent = ::sendmsg(socket_, &message, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(sizeof request);
}

std::optional<std::chrono::nanoseconds> IsolatedDecoder::helperCpuTime() const {
    timespec now{};
    if (!cpuClock_ || ::clock_gettime(*cpuClock_, &now) != 0) {
        return std::nullopt;
    }
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

namespace {

// Seconds as a person reads them: 10, 0.3.
QString secondsText(std::chrono::milliseconds limit) {
    return QString::number(std::chrono::duration<double>(limit).count());
}

} // namespace

bool IsolatedDecoder::adoptReply(const Reply& reply, int pictureFd, DecodeResult& result) {
    std::shared_ptr<Arena> arena;
    if (pictureFd >= 0) {
        if (!sealedEnough(pictureFd, reply.arena < 0)) {
            return false;
        }
        arena = mapArena(pictureFd);
        if (reply.arena >= 0 && reply.arena < maxArenas) {
            arenas_[static_cast<std::size_t>(reply.arena)] = arena;
        }
    } else if (reply.arena >= 0 && reply.arena < maxArenas) {
        arena = arenas_[static_cast<std::size_t>(reply.arena)];
    }
    if (reply.width > 0) {
        result.image = adoptPicture(reply, arena);
        result.partial = reply.partial != 0;
    }
    return true;
}

DecodeResult IsolatedDecoder::awaitReply(bool sent,
                                         std::optional<std::chrono::nanoseconds> cpuAtStart) {
    const auto deadline = std::chrono::steady_clock::now() + options_.answerLimit;
    // The processor time is looked at this often while the helper works; its answer ends the
    // wait at once.
    const auto cpuStep = std::clamp<std::chrono::milliseconds>(
        options_.cpuLimit / 4, std::chrono::milliseconds(1), std::chrono::milliseconds(100));
    std::array<char, sizeof(Reply) + maxMessageBytes> buffer{};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> control{};
    ssize_t received = -1;
    enum class Limit { None, Cpu, Answer } reached = Limit::None;
    bool unsealed = false;
    while (sent) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            reached = Limit::Answer;
            break;
        }
        const auto cpuNow = helperCpuTime();
        if (cpuAtStart && cpuNow && *cpuNow - *cpuAtStart > options_.cpuLimit) {
            reached = Limit::Cpu;
            break;
        }
        pollfd ready{socket_, POLLIN, 0};
        const auto wait = cpuNow ? std::min(left, cpuStep) : left;
        const int polled = ::poll(&ready, 1, static_cast<int>(wait.count()));
        if (polled <= 0) {
            continue; // interrupted, or time to look at the limits again
        }
        iovec data{buffer.data(), buffer.size()};
        msghdr message{};
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control.data();
        message.msg_controllen = control.size();
        received = ::recvmsg(socket_, &message, MSG_CMSG_CLOEXEC | MSG_DONTWAIT);
        if (received < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        int pictureFd = -1;
        if (received > 0) {
            for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
                 header = CMSG_NXTHDR(&message, header)) {
                if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS) {
                    std::memcpy(&pictureFd, CMSG_DATA(header), sizeof pictureFd);
                }
            }
        }
        const FileDescriptor picture(pictureFd);
        if (received >= static_cast<ssize_t>(sizeof(Reply))) {
            Reply reply;
            std::memcpy(&reply, buffer.data(), sizeof reply);
            const std::size_t textBytes = std::min<std::size_t>(
                reply.messageBytes, static_cast<std::size_t>(received) - sizeof reply);
            DecodeResult result;
            result.message =
                QString::fromUtf8(buffer.data() + sizeof reply, static_cast<qsizetype>(textBytes));
            if (adoptReply(reply, picture.get(), result)) {
                {
                    const std::lock_guard lock(pidMutex_);
                    busy_ = false;
                }
                lastCost_ = {std::chrono::microseconds(reply.decodeMicroseconds), reply.peakKiB};
                return result;
            }
            unsealed = true;
        }
        break; // the helper has gone, said something we cannot read or cannot be trusted
    }
    bool cancelled = false;
    {
        const std::lock_guard lock(pidMutex_);
        busy_ = false;
        cancelled = cancelled_;
    }
    stopHelper();
    if (reached == Limit::Cpu) {
        const QString seconds = secondsText(options_.cpuLimit);
        logLine(QStringLiteral("decoder killed after %1 s of processor time").arg(seconds));
        return failure(QStringLiteral("used more than %1 s of processor time").arg(seconds));
    }
    if (reached == Limit::Answer) {
        const QString seconds = secondsText(options_.answerLimit);
        logLine(QStringLiteral("decoder killed after %1 s").arg(seconds));
        return failure(QStringLiteral("gave no answer within %1 s").arg(seconds));
    }
    if (cancelled) {
        DecodeResult result = failure(QStringLiteral("decoding was cancelled"));
        result.cancelled = true;
        return result;
    }
    if (!sent) {
        return failure(QStringLiteral("the decoder does not take requests"));
    }
    if (unsealed) {
        logLine(QStringLiteral("the decoder handed over a picture without seals; another starts "
                               "with the next decode"));
        return failure(QStringLiteral("the decoder handed over a picture without seals"));
    }
    logLine(QStringLiteral("the decoder crashed; another starts with the next decode"));
    return failure(QStringLiteral("the decoder crashed"));
}

void IsolatedDecoder::stopHelper() {
    // The next helper starts without arenas; pictures in these keep them till they go.
    arenas_ = {};
    if (socket_ >= 0) {
        ::close(socket_);
        socket_ = -1;
    }
    const std::lock_guard lock(pidMutex_);
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
    cpuClock_.reset();
}

} // namespace zerbrak
