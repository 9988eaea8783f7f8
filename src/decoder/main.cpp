// zerbrak-decoder: decodes damaged pictures for the program that started it, so that a decoder
// crashing, hanging or allocating without end takes down only this process. The program sets
// its memory limit, kills it past the time limit and starts another on its next request.

#include "codec/Decode.h"
#include "decoder/DecoderWire.h"
#include "platform/FileDescriptor.h"

#include <QCoreApplication>
#include <QImage>
#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <span>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace zerbrak;
using namespace zerbrak::decoderwire;

// A read-only view of the first `size` bytes of a file; empty when there are none.
class Mapping {
public:
    Mapping(int fd, std::size_t size) {
        if (size == 0) {
            return;
        }
        void* address = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        if (address != MAP_FAILED) {
            address_ = address;
            size_ = size;
        }
    }
    ~Mapping() {
        if (address_ != nullptr) {
            ::munmap(address_, size_);
        }
    }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    bool failed(std::size_t wanted) const { return wanted != 0 && address_ == nullptr; }
    std::size_t size() const { return size_; }
    std::span<const std::uint8_t> bytes() const {
        return {static_cast<const std::uint8_t*>(address_), size_};
    }

private:
    void* address_ = nullptr;
    std::size_t size_ = 0;
};

// The next request and the descriptor passed with it; false once the program has gone.
bool receive(Request& request, int& fd) {
    fd = -1;
    iovec data{&request, sizeof request};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> control{};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    ssize_t received = 0;
    do {
        received = ::recvmsg(helperSocketFd, &message, MSG_CMSG_CLOEXEC);
    } while (received < 0 && errno == EINTR);
    if (received <= 0) {
        return false;
    }
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS) {
            std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
        }
    }
    return static_cast<std::size_t>(received) == sizeof request;
}

// A memfd mapped for writing pictures into, kept from one picture to the next.
class Arena {
public:
    // Empty when there is no memory for it.
    explicit Arena(std::size_t size) : fd_(::memfd_create("zerbrak-picture", MFD_CLOEXEC)) {
        if (fd_.get() < 0 || ::ftruncate(fd_.get(), static_cast<off_t>(size)) != 0) {
            return;
        }
        void* address = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd_.get(), 0);
        if (address != MAP_FAILED) {
            address_ = address;
            size_ = size;
        }
    }
    ~Arena() {
        if (address_ != nullptr) {
            ::munmap(address_, size_);
        }
    }
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;
    bool usable() const { return address_ != nullptr; }
    std::size_t size() const { return size_; }
    int fd() const { return fd_.get(); }
    void fill(const QImage& image) const {
        std::memcpy(address_, image.constBits(), static_cast<std::size_t>(image.sizeInBytes()));
    }

private:
    FileDescriptor fd_{-1};
    void* address_ = nullptr;
    std::size_t size_ = 0;
};

// Arenas grow in steps, so that pictures of nearly one size share them.
constexpr std::size_t arenaStep = std::size_t{4} << 20U;

struct Arenas {
    std::array<std::unique_ptr<Arena>, maxArenas> kept;
    std::unique_ptr<Arena> oneOff; // the last picture too large to keep an arena for
};

// Puts the picture in a free arena large enough, or in one made for it; returns the arena's
// number (-1: one of its own) and whether its memfd must go to the program. Null arena when
// there is no memory for the picture.
const Arena* place(const QImage& image, std::uint32_t freeArenas, Arenas& arenas, int& number,
                   bool& fresh) {
    const auto size = static_cast<std::size_t>(image.sizeInBytes());
    number = -1;
    fresh = true;
    if (size <= maxArenaBytes) {
        int replace = -1;
        for (int n = 0; n < maxArenas; ++n) {
            if ((freeArenas & (1U << static_cast<unsigned>(n))) == 0) {
                continue;
            }
            const auto& arena = arenas.kept[static_cast<std::size_t>(n)];
            if (arena && arena->size() >= size) {
                number = n;
                fresh = false;
                break;
            }
            if (replace < 0 || !arena) {
                replace = n;
            }
        }
        if (number < 0 && replace >= 0) {
            auto& arena = arenas.kept[static_cast<std::size_t>(replace)];
            arena.reset(); // its memory goes before the larger one is made
            arena = std::make_unique<Arena>((size + arenaStep - 1) / arenaStep * arenaStep);
            if (arena->usable()) {
                number = replace;
            } else {
                arena.reset();
            }
        }
        if (number >= 0) {
            const Arena& arena = *arenas.kept[static_cast<std::size_t>(number)];
            arena.fill(image);
            return &arena;
        }
    }
    arenas.oneOff.reset();
    arenas.oneOff = std::make_unique<Arena>(size);
    if (!arenas.oneOff->usable()) {
        arenas.oneOff.reset();
        return nullptr;
    }
    arenas.oneOff->fill(image);
    return arenas.oneOff.get();
}

// A figure of /proc/self/status in KiB, such as "VmRSS:"; 0 when the kernel does not say.
std::uint32_t statusKiB(const char* name) {
    const FileDescriptor status(::open("/proc/self/status", O_RDONLY | O_CLOEXEC));
    std::array<char, 8192> text{};
    const ssize_t length =
        status.get() >= 0 ? ::read(status.get(), text.data(), text.size() - 1) : -1;
    const char* line = length > 0 ? std::strstr(text.data(), name) : nullptr;
    return line == nullptr
               ? 0
               : static_cast<std::uint32_t>(std::strtoul(line + std::strlen(name), nullptr, 10));
}

// Restarts the kernel's high-water mark of resident memory from what is resident now, and returns
// that: the arenas and input mapping kept from earlier pictures are resident, so a decode's own
// peak is the mark after it less this.
std::uint32_t restartPeakMemory() {
    const FileDescriptor refs(::open("/proc/self/clear_refs", O_WRONLY | O_CLOEXEC));
    if (refs.get() < 0 || ::write(refs.get(), "5", 1) != 1) {
        return 0;
    }
    return statusKiB("VmRSS:");
}

// What a decode cost, for the reply.
struct Cost {
    std::uint32_t microseconds = 0;
    std::uint32_t peakKiB = 0;
};

void reply(const DecodeResult& result, std::uint32_t freeArenas, Arenas& arenas, Cost cost = {}) {
    QImage image = result.image;
    // A colour table would need a message of its own; these formats are rare from our readers.
    if (!image.colorTable().isEmpty()) {
        image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32
                                                              : QImage::Format_RGB32);
    }
    QByteArray text = result.message.toUtf8().left(static_cast<qsizetype>(maxMessageBytes));
    Reply header;
    header.decodeMicroseconds = cost.microseconds;
    header.peakKiB = cost.peakKiB;
    bool fresh = false;
    const Arena* picture = image.isNull() || image.width() <= 0 || image.height() <= 0
                               ? nullptr
                               : place(image, freeArenas, arenas, header.arena, fresh);
    if (picture != nullptr) {
        header.width = image.width();
        header.height = image.height();
        header.format = static_cast<std::int32_t>(image.format());
        header.bytesPerLine = static_cast<std::int32_t>(image.bytesPerLine());
        header.partial = result.partial ? 1U : 0U;
    } else if (!image.isNull() && text.isEmpty()) {
        text = QByteArrayLiteral("there is no memory for the picture");
    }
    header.messageBytes = static_cast<std::uint32_t>(text.size());
    // The arena holds the picture now; the decoded copy goes before the next request comes.
    image = QImage();

    std::array<iovec, 2> data{iovec{&header, sizeof header},
                              iovec{text.data(), static_cast<std::size_t>(text.size())}};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> control{};
    msghdr message{};
    message.msg_iov = data.data();
    message.msg_iovlen = data.size();
    if (picture != nullptr && fresh) {
        message.msg_control = control.data();
        message.msg_controllen = control.size();
        cmsghdr* fdHeader = CMSG_FIRSTHDR(&message);
        fdHeader->cmsg_level = SOL_SOCKET;
        fdHeader->cmsg_type = SCM_RIGHTS;
        fdHeader->cmsg_len = CMSG_LEN(sizeof(int));
        const int fd = picture->fd();
        std::memcpy(CMSG_DATA(fdHeader), &fd, sizeof fd);
    }
    ssize_t sent = 0;
    do {
        sent = ::sendmsg(helperSocketFd, &message, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        std::_Exit(EXIT_FAILURE); // the program has gone
    }
}

// The program's input memfd stays mapped from one request to the next, as the arenas do: it
// is the same memfd each time, rewritten, and a fresh mapping costs a fault a page.
struct InputCache {
    dev_t device = 0;
    ino_t inode = 0;
    std::unique_ptr<Mapping> mapping;
};

DecodeResult decode(const Request& request, int fd, InputCache& cache) {
    const FileDescriptor input(fd);
    const auto size = static_cast<std::size_t>(request.size);
    if (size > 0 && input.get() < 0) {
        return {QImage(), false, QStringLiteral("the bytes to decode did not arrive")};
    }
    // Only a memfd has seals: a file on disk is mapped afresh, as it may change size.
    struct stat status {};
    const bool reusable = input.get() >= 0 && ::fcntl(input.get(), F_GET_SEALS) >= 0 &&
                          ::fstat(input.get(), &status) == 0 &&
                          static_cast<std::size_t>(status.st_size) >= size;
    std::unique_ptr<Mapping> oneOff;
    const Mapping* bytes = nullptr;
    if (reusable) {
        if (!cache.mapping || cache.device != status.st_dev || cache.inode != status.st_ino ||
            cache.mapping->size() < size) {
            cache.mapping.reset();
            cache.mapping =
                std::make_unique<Mapping>(input.get(), static_cast<std::size_t>(status.st_size));
            cache.device = status.st_dev;
            cache.inode = status.st_ino;
        }
        bytes = cache.mapping.get();
    } else {
        oneOff = std::make_unique<Mapping>(input.get(), size);
        bytes = oneOff.get();
    }
    if (bytes->failed(size)) {
        const int error = errno;
        cache.mapping.reset();
        return {QImage(), false, QString::fromLocal8Bit(std::strerror(error))};
    }
    try {
        return decodeImageBytes(bytes->bytes().first(size));
    } catch (const std::bad_alloc&) {
        // The memory limit, reached by a declared size our readers did not refuse.
        return {QImage(), false, QStringLiteral("decoding needs more memory than allowed")};
    }
}

} // namespace

int main(int argc, char* argv[]) {
    // Qt's image readers find their plugins through the application object.
    const QCoreApplication application(argc, argv);
    Arenas arenas;
    InputCache input;
    Request request;
    int fd = -1;
    while (receive(request, fd)) {
        switch (request.kind) {
        case RequestKind::Crash:
            std::abort();
        case RequestKind::Stall:
            for (;;) {
                ::pause();
            }
        case RequestKind::Decode: {
            const std::uint32_t resident = restartPeakMemory();
            const auto start = std::chrono::steady_clock::now();
            const DecodeResult result = decode(request, fd, input);
            const auto time = std::chrono::duration_cast<std::chrono::microseconds>(
                std::chrono::steady_clock::now() - start);
            reply(result, request.freeArenas, arenas,
                  {static_cast<std::uint32_t>(time.count()),
                   resident == 0 ? 0 : std::max(statusKiB("VmHWM:"), resident) - resident});
            break;
        }
        default:
            if (fd >= 0) {
                ::close(fd);
            }
            reply({QImage(), false, QStringLiteral("unknown request")}, 0, arenas);
            break;
        }
    }
    return EXIT_SUCCESS;
}
