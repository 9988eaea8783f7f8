#pragma once

#include "ImageDecoder.h"
#include "decoder/DecoderWire.h"

#include <QString>
#include <array>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/types.h>

namespace zerbrak {

// The processor time one decode may use before its helper is killed, read from the helper's
// CPU clock, so that a machine busy with other work does not fail an honest decode. Our
// readers decode the largest pictures they accept in a few seconds of processor time on a slow
// machine; a decode past ten is stuck in a loop. The clock adds up all of the helper's threads:
// our readers decode on one (JPEG 2000 on the main thread only); a reader that went wide
// would need this raised by its number of threads.
inline constexpr std::chrono::milliseconds decodeCpuLimit{10'000};
// How long the helper may go without answering at all, however little processor time it
// takes: a helper stopped or asleep gets a minute, more than any loaded machine needs.
inline constexpr std::chrono::milliseconds decodeAnswerLimit{60'000};

// The helper's address space (RLIMIT_AS). A 100-megapixel photograph is 400 MB at 4 bytes a
// pixel; the reader may hold it twice while it converts, the memfd it is handed back in is a
// third copy, the kept picture arenas and input memfd map up to 576 MB more, and Qt, the format
// libraries and malloc's arenas reserve a few hundred MB. 3 GiB keeps that working and still
// stops a header that declares a picture of many gigabytes.
inline constexpr std::uint64_t decoderMemoryLimit = std::uint64_t{3} << 30U;

// Decodes in a helper process of ours, zerbrak-decoder, so that a reader's crash, stall or
// runaway allocation is a decode result like any other: "the decoder crashed", "used more than
// 10 s of processor time", "gave no answer within 60 s". The helper is started on the first request
// and again on the one after it died; the bytes go to it and the picture comes back in memfds
// mapped on both sides and reused (see decoder/DecoderWire.h), the picture's QImage adopting the
// read-only mapping without a copy; a write to it copies first. Files over the size limit and
// anything but a regular file never reach the helper. When the helper cannot be started at all,
// decodes run in-process, as the tests run them. Decodes may come from any thread, one at a time;
// cancel() from any thread at any time.
class IsolatedDecoder final : public ImageDecoder {
public:
    struct Options {
        QString helperPath; // empty: the one helperLocation() finds
        std::chrono::milliseconds cpuLimit = decodeCpuLimit;
        std::chrono::milliseconds answerLimit = decodeAnswerLimit;
        std::uint64_t memoryLimit = decoderMemoryLimit;
    };
    // What a test may ask the helper to do instead of decoding: crash, wait or compute without
    // end, or hand over a picture in memory without seals.
    enum class Fault { Crash, Stall, Spin, Unsealed };

    IsolatedDecoder();
    explicit IsolatedDecoder(Options options);
    ~IsolatedDecoder() override;
    IsolatedDecoder(const IsolatedDecoder&) = delete;
    IsolatedDecoder& operator=(const IsolatedDecoder&) = delete;

    DecodeResult decodeBytes(std::span<const std::uint8_t> bytes) override;
    DecodeResult decodeFile(const QString& path) override;

    // Kills the decode under way, which reports that it was cancelled; between decodes it
    // does nothing.
    void cancel();

    // What the last decode in the helper cost: the helper's own time and the peak of resident
    // memory it added when it answered; the time waited and no memory when it crashed or was
    // killed. None when the last decode never reached the helper (a missing file, a pipe, a
    // file over the size limit, no helper).
    struct Cost {
        std::chrono::microseconds time{0};
        std::uint64_t peakKiB = 0;
    };
    std::optional<Cost> lastCost() const;

    // The helper's process id while one runs, else -1.
    pid_t helperPid() const;

    // Makes the helper fail as a broken reader would, and reports the outcome.
    DecodeResult induce(Fault fault);

    // zerbrak-decoder beside the running binary (a build tree, or an install into bin), in
    // libexec/zerbrak beside its folder, or in the configured install; empty when nowhere.
    static QString helperLocation();

    struct Arena;

private:
    // The helper's answer, or nothing when there is no helper: decode in-process then. Called
    // with requestMutex_ held.
    std::optional<DecodeResult> request(std::uint32_t kind, int fd, std::uint64_t size);
    bool ensureHelper();
    bool send(std::uint32_t kind, int fd, std::uint64_t size) const;
    // The processor time the helper has used so far, all threads; none when unknown.
    std::optional<std::chrono::nanoseconds> helperCpuTime() const;
    // The helper's reply to the request, if `sent`; ends the helper when none comes within the
    // limits, counting its processor time from `cpuAtStart`.
    DecodeResult awaitReply(bool sent, std::optional<std::chrono::nanoseconds> cpuAtStart);
    // The picture of `reply` in `pictureFd` (-1: none came) or in an arena already mapped;
    // false when the helper handed over memory without the seals that keep the mapping whole.
    bool adoptReply(const decoderwire::Reply& reply, int pictureFd, DecodeResult& result);
    // Kills the helper if it still runs and reaps it; the next request starts another.
    void stopHelper();

    Options options_;
    mutable std::mutex requestMutex_; // one decode at a time
    std::optional<Cost> lastCost_;    // under requestMutex_
    mutable std::mutex pidMutex_;
    pid_t pid_ = -1; // under pidMutex_; reaped only under it, so cancel() kills only ours
    std::optional<clockid_t> cpuClock_; // the helper's CPU clock, while it runs
    bool busy_ = false;                 // under pidMutex_: a request is under way
    bool cancelled_ = false;            // under pidMutex_
    int socket_ = -1;
    bool unavailable_ = false; // the helper could not be started: in-process from then on
    // The memfd the bytes to decode are written into, kept for the next request, and its size.
    int inputFd_ = -1;
    std::size_t inputCapacity_ = 0;
    // The helper's arenas by number, as it has handed them over.
    std::array<std::shared_ptr<Arena>, decoderwire::maxArenas> arenas_;
};

} // namespace zerbrak
