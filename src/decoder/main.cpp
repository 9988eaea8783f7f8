// zerbrak-decoder: decodes damaged pictures for the program that started it, so that a decoder
// crashing, hanging or allocating without end takes down only this process. The program sets
// its memory limit, kills it past the time limit and starts another on its next request.

#include "codec/Decode.h"
#include "decoder/DecoderWire.h"

#include <QCoreApplication>
#include <QImage>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <span>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace zerbrak;
using namespace zerbrak::decoderwire;

// Closes a descriptor when it goes out of scope.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

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

// The picture in a memfd of its own, sized to it; -1 when there is no room for it.
int pictureFile(const QImage& image) {
    const auto size = static_cast<std::size_t>(image.sizeInBytes());
    const int fd = ::memfd_create("zerbrak-picture", MFD_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
        ::close(fd);
        return -1;
    }
    // Populated at once: one pass that allocates the pages costs less than a fault a page.
    void* address = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, 0);
    if (address == MAP_FAILED) {
        ::close(fd);
        return -1;
    }
    std::memcpy(address, image.constBits(), size);
    ::munmap(address, size);
    return fd;
}

void reply(const DecodeResult& result) {
    QImage image = result.image;
    // A colour table would need a message of its own; these formats are rare from our readers.
    if (!image.colorTable().isEmpty()) {
        image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32
                                                              : QImage::Format_RGB32);
    }
    QByteArray text = result.message.toUtf8().left(static_cast<qsizetype>(maxMessageBytes));
    Fd picture(image.isNull() || image.width() <= 0 || image.height() <= 0 ? -1
                                                                           : pictureFile(image));
    Reply header;
    if (picture.get() >= 0) {
        header.width = image.width();
        header.height = image.height();
        header.format = static_cast<std::int32_t>(image.format());
        header.bytesPerLine = static_cast<std::int32_t>(image.bytesPerLine());
        header.partial = result.partial ? 1U : 0U;
    } else if (!image.isNull() && text.isEmpty()) {
        text = QByteArrayLiteral("there is no memory for the picture");
    }
    header.messageBytes = static_cast<std::uint32_t>(text.size());
    // The memfd holds the picture now; the decoded copy goes before the next request comes.
    image = QImage();

    std::array<iovec, 2> data{iovec{&header, sizeof header},
                              iovec{text.data(), static_cast<std::size_t>(text.size())}};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> control{};
    msghdr message{};
    message.msg_iov = data.data();
    message.msg_iovlen = data.size();
    if (picture.get() >= 0) {
        message.msg_control = control.data();
        message.msg_controllen = control.size();
        cmsghdr* fdHeader = CMSG_FIRSTHDR(&message);
        fdHeader->cmsg_level = SOL_SOCKET;
        fdHeader->cmsg_type = SCM_RIGHTS;
        fdHeader->cmsg_len = CMSG_LEN(sizeof(int));
        const int fd = picture.get();
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

DecodeResult decode(const Request& request, int fd) {
    const Fd input(fd);
    if (request.size > 0 && input.get() < 0) {
        return {QImage(), false, QStringLiteral("the bytes to decode did not arrive")};
    }
    const Mapping bytes(input.get(), static_cast<std::size_t>(request.size));
    if (bytes.failed(static_cast<std::size_t>(request.size))) {
        return {QImage(), false, QString::fromLocal8Bit(std::strerror(errno))};
    }
    try {
        return decodeImageBytes(bytes.bytes());
    } catch (const std::bad_alloc&) {
        // The memory limit, reached by a declared size our readers did not refuse.
        return {QImage(), false, QStringLiteral("decoding needs more memory than allowed")};
    }
}

} // namespace

int main(int argc, char* argv[]) {
    // Qt's image readers find their plugins through the application object.
    const QCoreApplication application(argc, argv);
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
        case RequestKind::Decode:
            reply(decode(request, fd));
            break;
        default:
            if (fd >= 0) {
                ::close(fd);
            }
            reply({QImage(), false, QStringLiteral("unknown request")});
            break;
        }
    }
    return EXIT_SUCCESS;
}
