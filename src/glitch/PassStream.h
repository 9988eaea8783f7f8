#pragma once

#include "core/CorruptionModes.h"
#include "platform/FileBytes.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace zerbrak {

// Bytes read, damaged and written at a time: enough that system calls cost little, few enough
// to stay in the processor's cache.
inline constexpr std::size_t passChunkSize = std::size_t{1} << 20U;

struct StreamOptions {
    std::size_t chunkSize = passChunkSize; // at least 1
    // An input no larger than this (by the size the system gave at its open) also comes back
    // damaged in StreamOutcome::bytes, for a caller that would otherwise read it back at once.
    std::uint64_t keepUpTo = 0;
};

struct StreamOutcome {
    QString readError;      // "Cannot read PATH: why.": the input failed midway, the output is torn
    QString writeError;     // the output refused bytes, in the system's words
    int writeErrorCode = 0; // and the system's error number for it
    std::optional<std::vector<std::uint8_t>> bytes; // what was written, when asked and small

    bool ok() const { return readError.isEmpty() && writeError.isEmpty(); }
};

// Damages `input` (opened from `inputPath`), from where its descriptor stands to its end, by
// `mode` and writes the result to `outputFd`, one chunk at a time: the bytes written and the
// draws made are those of applyMode over the whole file, and memory stays bounded by the chunk
// size whatever the file's. The single-byte strike into a regular file is a copy in the
// kernel and then one byte written at the drawn position.
StreamOutcome streamMode(const InputFile& input, const QString& inputPath, int outputFd,
                         CorruptionMode mode, const GlitchParams& params, RandomSource& random,
                         const StreamOptions& options = {});

} // namespace zerbrak
