#pragma once

#include "core/CorruptionModes.h"
#include "glitch/TranscodeTarget.h"

#include <QString>
#include <cstdint>

namespace zerbrak {

struct FolderBatchSummary;
struct FrameSeriesSummary;

// What a frame series of `frameCount` frames made, in one line for the window's status bar:
// "3 of 3 frames kept (1 partial) in ~/Documents/zerbrak/", "1 frame given up after 11
// undecodable passes", "Cancelled after 4 of 20". `folder` is the output folder as shown.
QString seriesReport(const FrameSeriesSummary& summary, std::int32_t frameCount,
                     const QString& folder);

// The same for a folder batch, its destination as shown being `destination`.
QString batchReport(const FolderBatchSummary& summary, const QString& destination);

// What the next pass does to an input of format `endFormat`: "PNG: one random byte per pass;
// Chance and Bytes apply to other formats", "scatter: about 1 byte in 2,550 struck". A fixed
// re-encode target decides the format.
QString passDescription(const QString& endFormat, const TranscodeTarget& target,
                        const GlitchParams& params);

// The mode the next pass uses, as passDescription reads it.
CorruptionMode nextMode(const QString& endFormat, const TranscodeTarget& target);

// `path` with the home folder written as "~".
QString homeRelative(const QString& path, const QString& home);

} // namespace zerbrak
