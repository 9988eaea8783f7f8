#pragma once

// The messages between the program and its decoding helper, zerbrak-decoder. They travel over
// a SOCK_SEQPACKET socket pair, one message a datagram; the bytes to decode and the decoded
// picture travel as memfds passed with SCM_RIGHTS, mapped on both sides, never through the
// socket itself.

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace zerbrak::decoderwire {

// The helper's end of the socket pair, as the program hands it over.
inline constexpr int helperSocketFd = 3;

enum class RequestKind : std::uint32_t {
    Decode = 1,   // decode `size` bytes of the file passed along
    Crash = 2,    // abort at once: how the program's tests see a decoder die mid-decode
    Stall = 3,    // never answer, asleep: how they see a decoder stuck waiting
    Spin = 4,     // never answer, computing: how they see a decoder stuck in a loop
    Unsealed = 5, // answer with a picture in memory without seals: a helper gone wrong
};

// Pictures come back in arenas: memfds the helper makes and both sides keep mapped, reused for
// picture after picture. Memory this system has not touched lately costs far more to touch the
// first time (a page fault, and on a virtual machine an exit to the host) than to copy into:
// a fresh 48 MB memfd cost ten times the copy. An arena is the helper's to fill only while the
// program says it is free, that is, while no picture of its own still lives in it.
//
// Every picture memfd is sealed against shrinking and growing before it is handed over, so the
// program's mapping can never lose pages under a picture it shows (SIGBUS); the program maps
// it read-only and refuses one without those seals. An arena cannot be sealed against writing,
// as the helper fills it again once the program lets its picture go; a memfd made for one
// picture alone is, once filled, and the program refuses one without that seal too.
inline constexpr int maxArenas = 4;
// Larger pictures each get a memfd of their own, so that idle arenas hold little memory.
inline constexpr std::size_t maxArenaBytes = std::size_t{128} << 20U;

struct Request {
    RequestKind kind = RequestKind::Decode;
    std::uint32_t freeArenas = 0; // bit n: arena n holds no picture the program still uses
    std::uint64_t size = 0;       // bytes of the passed file to decode, from its start
};

// Followed in the same datagram by `messageBytes` of UTF-8. A picture (width and height above
// 0) has its rows, bytesPerLine * height bytes, at the start of `arena`, whose memfd comes
// along when it is new to the program; arena -1 is a memfd for this picture alone.
struct Reply {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t format = 0; // a QImage::Format without a colour table
    std::int32_t bytesPerLine = 0;
    std::uint32_t partial = 0;
    std::uint32_t messageBytes = 0;
    std::int32_t arena = -1;
    // What the decode cost the helper: its own time, without the start of a fresh helper or the
    // trip here, and the peak of resident memory it added to what the helper held before it
    // (0 when unknown).
    std::uint32_t decodeMicroseconds = 0;
    std::uint32_t peakKiB = 0;
};

// Longer decoder messages are cut; they are one line for a person to read.
inline constexpr std::size_t maxMessageBytes = 4096;

static_assert(std::is_trivially_copyable_v<Request> && std::is_trivially_copyable_v<Reply>);

} // namespace zerbrak::decoderwire
