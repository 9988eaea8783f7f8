#pragma once

#include "TranscodeTarget.h"

#include <QImage>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace zerbrak {

// A file's bytes by content: 128 bits of XXH3 and the length. Equal hashes stand for equal
// bytes (a chance collision is far below any disk's error rate).
struct ContentHash {
    std::uint64_t low = 0;
    std::uint64_t high = 0;
    std::uint64_t size = 0;

    friend bool operator==(const ContentHash&, const ContentHash&) = default;
};

ContentHash contentHash(std::span<const std::uint8_t> bytes);

struct InputFile;

// The hash of the whole of `file`, read a piece at a time from its start without moving its
// read position: no copy of a large file in memory. Nothing when a read fails.
std::optional<ContentHash> contentHash(const InputFile& file);

// The last re-encode, by the content of its input and its target. Decoders and encoders are
// deterministic, so the same bytes into the same target always give the same picture and the
// same scratch bytes: a series whose passes re-encode the scratch file they last wrote settles
// on one encode (at once for lossless targets, after two for GIF; JPEG loses a little more at
// every encode, so its input never comes back). Keyed on content alone, never on a path or a
// time. Holds one picture, so its memory is the size of the picture on show.
class TranscodeMemo {
public:
    struct Recalled {
        QImage picture;      // what the input decoded to, shown again
        ContentHash scratch; // what the scratch file held once written
    };

    // Off: every re-encode runs in full (for comparison).
    void setEnabled(bool enabled);
    bool enabled() const { return enabled_; }

    std::optional<Recalled> recall(const ContentHash& input, FixedTarget target) const;
    void remember(const ContentHash& input, FixedTarget target, const QImage& picture,
                  const ContentHash& scratch);

    // Re-encodes skipped so far: counted by the caller once it has used a recalled result.
    void countSkipped() { ++skipped_; }
    std::size_t skipped() const { return skipped_; }

private:
    struct Entry {
        ContentHash input;
        FixedTarget target;
        Recalled result;
    };
    std::optional<Entry> last_;
    bool enabled_ = true;
    std::size_t skipped_ = 0;
};

} // namespace zerbrak
