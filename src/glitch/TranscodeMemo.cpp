#include "TranscodeMemo.h"

#include <xxhash.h>

namespace zerbrak {

ContentHash contentHash(std::span<const std::uint8_t> bytes) {
    const XXH128_hash_t hash = XXH3_128bits(bytes.data(), bytes.size());
    return {hash.low64, hash.high64, bytes.size()};
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
