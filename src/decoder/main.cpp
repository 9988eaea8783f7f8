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

constexpr std::size_t pageBytes = 4096;

// A memfd mapped for writing pictures into, kept from one picture to the next. Its size is
// sealed from the start: the program maps it too, and a page cut off under its mapping would
// kill it.
class Arena {
public:
    // Empty when there is no memory for it.
    explicit Arena(std::size_t size)
        : fd_(::memfd_create("zerbrak-picture", MFD_CLOEXEC | MFD_ALLOW_SEALING)) {
        if (fd_.get() < 0 || ::ftruncate(fd_.get(), static_cast<off_t>(size)) != 0 ||
            ::fcntl(fd_.get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW) != 0) {
            return;
        }
        void* address = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd_.get(), 0);
        if (address != MAP_FAILED) {
            address_ = static_cast<std::uint8_t*>(address);
            size_ = size;
        }
    }
    ~Arena() { unmap(); }
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;
    bool usable() const { return address_ != nullptr; }
    std::size_t size() const { return size_; }
    int fd() const { return fd_.get(); }
    std::uint8_t* bytes() const { return address_; }
    // Seals the content as it is, for a picture that has the memfd to itself: the mapping that
    // wrote it goes first, as the kernel refuses the seal while one exists.
    bool freeze() {
        unmap();
        return ::fcntl(fd_.get(), F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_SEAL) == 0;
    }

private:
    void unmap() {
        if (address_ != nullptr) {
            ::munmap(address_, size_);
            address_ = nullptr;
        }
    }
    FileDescriptor fd_{-1};
    std::uint8_t* address_ = nullptr;
    std::size_t size_ = 0;
};

// Arenas grow in steps, so that pictures of nearly one size share them.
constexpr std::size_t arenaStep = std::size_t{4} << 20U;

struct Arenas {
    std::array<std::unique_ptr<Arena>, maxArenas> kept;
    std::unique_ptr<Arena> oneOff; // a picture too large to keep an arena for, until it is sent
};

// A free arena of at least `size` bytes, or one made for it; returns the arena's number (-1:
// one of its own) and whether its memfd must go to the program. Null when there is no memory.
Arena* place(std::size_t size, std::uint32_t freeArenas, Arenas& arenas, int& number, bool& fresh) {
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
                return arena.get();
            }
            if (replace < 0 || !arena) {
                replace = n;
            }
        }
        if (replace >= 0) {
            auto& arena = arenas.kept[static_cast<std::size_t>(replace)];
            arena.reset(); // its memory goes before the larger one is made
            arena = std::make_unique<Arena>((size + arenaStep - 1) / arenaStep * arenaStep);
            if (arena->usable()) {
                number = replace;
                return arena.get();
            }
            arena.reset();
        }
    }
    arenas.oneOff.reset();
    arenas.oneOff = std::make_unique<Arena>(size);
    if (!arenas.oneOff->usable()) {
        arenas.oneOff.reset();
        return nullptr;
    }
    return arenas.oneOff.get();
}

// Pictures move into their memfd a band of rows at a time, and each band's pages go back to
// the system once copied: the decoded picture and its shared copy are never both whole, so a
// picture of the largest size accepted costs its own size, not twice that.
constexpr std::size_t bandBytes = std::size_t{8} << 20U;

// Gives back the whole pages of the picture's buffer from `released` up to `end`, which it
// will never read again; `released` moves on. The partial pages at either end of the buffer
// stay: malloc keeps its bookkeeping beside the buffer.
void releasePages(std::uint8_t*& released, std::uint8_t* end) {
    const auto last = reinterpret_cast<std::uintptr_t>(end) / pageBytes * pageBytes;
    if (last > reinterpret_cast<std::uintptr_t>(released)) {
        auto* const upTo = reinterpret_cast<std::uint8_t*>(last);
        ::madvise(released, static_cast<std::size_t>(upTo - released), MADV_DONTNEED);
        released = upTo;
    }
}

// Moves the rows of `image` into `target`, which has room for them; `image` is used up.
void moveInto(QImage& image, std::uint8_t* target) {
    // The image is this function's alone, so bits() hands out its own buffer, not a copy.
    std::uint8_t* const source = image.bits();
    const auto total = static_cast<std::size_t>(image.sizeInBytes());
    auto* released = reinterpret_cast<std::uint8_t*>(
        (reinterpret_cast<std::uintptr_t>(source) + pageBytes - 1) / pageBytes * pageBytes);
    for (std::size_t done = 0; done < total;) {
        const std::size_t band = std::min(bandBytes, total - done);
        std::memcpy(target + done, source + done, band);
        done += band;
        releasePages(released, source + done);
    }
    image = QImage();
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

// Where a decode started, for the cost in its reply: the picture's move into shared memory
// is part of it.
struct Start {
    std::chrono::steady_clock::time_point time = std::chrono::steady_clock::now();
    std::uint32_t residentKiB = 0; // 0: the kernel gives no figures
};

// Sends the reply, with `fd` when it is not -1; ends the helper when the program has gone.
void sendReply(Reply header, const QByteArray& text, int fd) {
    header.messageBytes = static_cast<std::uint32_t>(text.size());
    std::array<iovec, 2> data{
        iovec{&header, sizeof header},
        iovec{const_cast<char*>(text.constData()), static_cast<std::size_t>(text.size())}};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> control{};
    msghdr message{};
    message.msg_iov = data.data();
    message.msg_iovlen = data.size();
    if (fd >= 0) {
        message.msg_control = control.data();
        message.msg_controllen = control.size();
        cmsghdr* fdHeader = CMSG_FIRSTHDR(&message);
        fdHeader->cmsg_level = SOL_SOCKET;
        fdHeader->cmsg_type = SCM_RIGHTS;
        fdHeader->cmsg_len = CMSG_LEN(sizeof(int));
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

void reply(DecodeResult result, std::uint32_t freeArenas, Arenas& arenas, const Start& start) {
    QImage image = std::move(result.image);
    QByteArray text = result.message.toUtf8().left(static_cast<qsizetype>(maxMessageBytes));
    // A colour table would need a message of its own; these formats are rare from our readers,
    // and are sent as 32 bits a pixel.
    const bool indexed = !image.colorTable().isEmpty();
    const std::uint64_t handedOver = indexed ? std::uint64_t{4} *
                                                   static_cast<std::uint64_t>(image.width()) *
                                                   static_cast<std::uint64_t>(image.height())
                                             : static_cast<std::uint64_t>(image.sizeInBytes());
    // What a decode leaves is its picture, in memory the program maps too: held to the pixel
    // limit, which our readers keep to from the header on, whatever a reader made.
    if (handedOver > DecodeLimits{}.maxPixelBytes) {
        image = QImage();
        text = QByteArrayLiteral("the decoded picture is larger than any this program shows");
    } else if (indexed) {
        image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32
                                                              : QImage::Format_RGB32);
    }
    Reply header;
    bool fresh = false;
    Arena* picture = image.isNull() || image.width() <= 0 || image.height() <= 0
                         ? nullptr
                         : place(static_cast<std::size_t>(image.sizeInBytes()), freeArenas, arenas,
                                 header.arena, fresh);
    if (picture != nullptr) {
        header.width = image.width();
        header.height = image.height();
        header.format = static_cast<std::int32_t>(image.format());
        header.bytesPerLine = static_cast<std::int32_t>(image.bytesPerLine());
        header.partial = result.partial ? 1U : 0U;
        moveInto(image, picture->bytes());
        if (header.arena < 0 && !picture->freeze()) {
            header.width = 0;
            header.height = 0;
            picture = nullptr;
            text = QByteArrayLiteral("the picture's memory cannot be sealed");
        }
    } else if (!image.isNull() && text.isEmpty()) {
        text = QByteArrayLiteral("there is no memory for the picture");
    }
    image = QImage();
    header.decodeMicroseconds =
        static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                       std::chrono::steady_clock::now() - start.time)
                                       .count());
    header.peakKiB = start.residentKiB == 0
                         ? 0
                         : std::max(statusKiB("VmHWM:"), start.residentKiB) - start.residentKiB;
    sendReply(header, text, picture != nullptr && fresh ? picture->fd() : -1);
    // The program holds that memory now, as long as it keeps the picture; held here as well,
    // it would outlive the picture and add to the next decode's.
    arenas.oneOff.reset();
}

// A picture in a memfd that can still shrink under the program's mapping, as only a helper
// gone wrong would send.
void answerUnsealed() {
    const FileDescriptor memory(::memfd_create("zerbrak-picture", MFD_CLOEXEC));
    if (memory.get() < 0 || ::ftruncate(memory.get(), static_cast<off_t>(pageBytes)) != 0) {
        std::_Exit(EXIT_FAILURE);
    }
    Reply header;
    header.width = 1;
    header.height = 1;
    header.format = static_cast<std::int32_t>(QImage::Format_RGB32);
    header.bytesPerLine = 4;
    sendReply(header, {}, memory.get());
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
    // The program refuses such files before sending them; mapping one would cost its size.
    if (const QString refusal = sizeRefusal(request.size); !refusal.isEmpty()) {
        return {QImage(), false, refusal};
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
        case RequestKind::Spin:
            for (std::uint64_t turns = 0;; ++turns) {
                asm volatile("" : : "r"(turns)); // a loop the compiler must keep
            }
        case RequestKind::Unsealed:
            answerUnsealed();
            break;
        case RequestKind::Decode: {
            Start start;
            start.residentKiB = restartPeakMemory();
            start.time = std::chrono::steady_clock::now();
            reply(decode(request, fd, input), request.freeArenas, arenas, start);
            break;
        }
        default:
            if (fd >= 0) {
                ::close(fd);
            }
            reply({QImage(), false, QStringLiteral("unknown request")}, 0, arenas, Start{});
            break;
        }
    }
    return EXIT_SUCCESS;
}
