// The corruption modes against the plain reference: applyMode over the whole buffer and the
// streamed walks over pieces of random sizes must leave the same bytes and make the same draws.

#include "Finding.h"
#include "ReferenceModes.h"

#include <algorithm>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

using namespace zerbrak;
using Bytes = std::vector<std::uint8_t>;

struct Case {
    CorruptionMode mode = CorruptionMode::ReplaceAndScatter;
    std::uint32_t seed = 1;
    std::uint32_t pieceSeed = 1;
    GlitchParams params;
    Bytes bytes;
};

// The numbers come from the end of the input and the bytes are the rest, so a seed file from
// the decode corpus keeps most of its picture.
Case readCase(FuzzedDataProvider& input) {
    Case c;
    c.mode = static_cast<CorruptionMode>(input.ConsumeIntegralInRange<int>(0, 2));
    c.seed = input.ConsumeIntegral<std::uint32_t>();
    c.pieceSeed = input.ConsumeIntegral<std::uint32_t>();
    c.params.fromByte = input.ConsumeIntegral<std::uint8_t>();
    c.params.toByte = input.ConsumeIntegral<std::uint8_t>();
    c.params.replace = input.ConsumeBool();
    c.params.chance = input.ConsumeIntegralInRange<std::int32_t>(0, 100);
    c.bytes = input.ConsumeRemainingBytes<std::uint8_t>();
    return c;
}

// Mostly short pieces, empty ones among them, so the header guard and the sixteen-byte blocks
// are split at every offset; now and then a long one for the block loops.
class Pieces {
public:
    explicit Pieces(std::uint32_t seed) : sizes_(seed) {}

    std::size_t next(std::size_t left) {
        const std::uint32_t draw = sizes_.draw();
        const std::size_t size = draw % 8 == 0 ? (draw >> 3U) % 4097 : (draw >> 3U) % 49;
        return std::min(size, left);
    }

private:
    RandomSource sizes_;
};

Bytes streamedRewrite(const Case& c) {
    LineBreakStream stream;
    Pieces pieces(c.pieceSeed);
    Bytes out;
    std::size_t done = 0;
    do {
        const std::size_t size = pieces.next(c.bytes.size() - done);
        Bytes room(LineBreakStream::maxOutput(size));
        const std::size_t written =
            stream.rewrite(std::span(c.bytes).subspan(done, size), std::span(room));
        if (written > room.size()) {
            fuzz::fail("the streamed rewrite wrote past its room");
        }
        out.insert(out.end(), room.begin(), room.begin() + static_cast<std::ptrdiff_t>(written));
        done += size;
    } while (done < c.bytes.size());
    return out;
}

Bytes streamedScatter(const Case& c, RandomSource& random) {
    Bytes out = c.bytes;
    ScatterWalk walk(c.params);
    Pieces pieces(c.pieceSeed);
    std::size_t done = 0;
    do {
        const std::size_t size = pieces.next(out.size() - done);
        walk.damage(std::span(out).subspan(done, size), random);
        done += size;
    } while (done < out.size());
    return out;
}

// The pass's own path for a strike: the position and value drawn for the file's size alone.
Bytes streamedStrike(const Case& c, RandomSource& random) {
    Bytes out = c.bytes;
    if (const std::optional<Strike> strike = drawStrike(out.size(), random)) {
        out[strike->position] = strike->value;
    }
    return out;
}

Bytes streamed(const Case& c, RandomSource& random) {
    switch (c.mode) {
    case CorruptionMode::LineBreakRewrite:
        return streamedRewrite(c);
    case CorruptionMode::SingleByteStrike:
        return streamedStrike(c, random);
    case CorruptionMode::ReplaceAndScatter:
        return streamedScatter(c, random);
    }
    return c.bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const Case c = readCase(input);

    RandomSource referenceRandom(c.seed);
    const Bytes expected = referenceMode(c.mode, c.bytes, c.params, referenceRandom);
    RandomSource wholeRandom(c.seed);
    const Bytes whole = applyMode(c.mode, c.bytes, c.params, wholeRandom);
    RandomSource streamRandom(c.seed);
    const Bytes pieces = streamed(c, streamRandom);

    if (whole != expected) {
        fuzz::fail("applyMode differs from the reference");
    }
    if (pieces != expected) {
        fuzz::fail("the streamed walk differs from the reference");
    }
    if (c.mode == CorruptionMode::LineBreakRewrite &&
        lineBreakRewriteLength(c.bytes) != expected.size()) {
        fuzz::fail("lineBreakRewriteLength differs from the reference");
    }
    // The next draw agrees only when every walk drew as often as the reference.
    const std::uint32_t next = referenceRandom.draw();
    if (wholeRandom.draw() != next || streamRandom.draw() != next) {
        fuzz::fail("a different number of draws than the reference");
    }
    return 0;
}
