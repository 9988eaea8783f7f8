#include "TranscodeMemo.h"

#include "platform/FileBytes.h"

#include <cerrno>
#include <memory>
#include <unistd.h>
#include <vector>
#include <xxhash.h>

namespace zerbrak {

ContentHash contentHash(std::span<const std::uint8_t> bytes) {
    const XXH128_hash_t hash = XXH3_128bits(bytes.data(), bytes.size());
    return {hash.low64, hash.high64, bytes.size()};
}

std::optional<ContentHash> contentHash(const InputFile& file) {
    struct StateFree {
        void operator()(XXH3_state_t* state) const { XXH3_freeState(state); }
    };
    const std::unique_ptr<XXH3_state_t, StateFree> state(XXH3_createState());
    if (!state || XXH3_128bits_reset(state.get()) == XXH_ERROR) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> piece(std::size_t{1} << 20U);
    std::uint64_t size = 0;
    for (;;) {
        const ssize_t got =
            ::pread(file.fd.get(), piece.data(), piece.size(), static_cast<off_t>(size));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        XXH3_128bits_update(state.get(), piece.data(), static_cast<std::size_t>(got));
        size += static_cast<std::uint64_t>(got);
    }
    const XXH128_hash_t hash = XXH3_128bits_digest(state.get());
    return ContentHash{hash.low64, hash.high64, size};
}

void TranscodeMemo::setEnabled(bool enabled) {
    enabled_ = enabled;
    if (!enabled) {
        last_.reset();
    }
}

std::optional<TranscodeMemo::Recalled> TranscodeMemo::recall(const ContentHash& input,
                                                             FixedTarget target) const {
    if (!last_ || last_->input != input || last_->target != target) {
        return std::nullopt;
    }
    return last_->result;
}

void TranscodeMemo::remember(const ContentHash& input, FixedTarget target, const QImage& picture,
                             const ContentHash& scratch) {
    if (enabled_) {
        last_ = Entry{input, target, {picture, scratch}};
    }
}

} // namespace zerbrak
