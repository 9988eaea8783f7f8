#pragma once

#include "TranscodeMemo.h"
#include "TranscodeTarget.h"
#include "core/RandomSource.h"

#include <QString>
#include <cstdint>

namespace zerbrak {

class ImageDecoder;

// The state every action shares, alive for the whole program. Touched by one thread at a time: the
// GUI thread, or the run worker while a run is under way.
struct Session {
    QString inPath;                              // current input file; every pass reads it
    QString endFormat;                           // its format: picks the mode and extensions
    TranscodeTarget trans_endFormat{FreeText{}}; // the format pop-up's choice
    std::int32_t globalNR = 0;                   // run number in frame names
    std::int32_t tmr = 0;                        // frame number within a series
    RandomSource random;                         // the corruption modes' only random source
    TranscodeMemo transcodeMemo;                 // the last re-encode, reused for the same bytes
    // The file the input's scratch copy was last re-encoded from, never that copy itself: a
    // pass re-encoding its own scratch file leaves it as it was.
    QString transcodeSource;
    ImageDecoder* decoder = nullptr; // decodes damaged data; null: in-process (the tests)
};

// Start-up values: the start image as input in the edition's format, no transcode, the random
// source seeded from the seed field's number, the run number from the clock (seconds).
void startSession(Session& session, const QString& startImagePath, std::int64_t seedFieldValue,
                  std::int64_t secondsSinceEpoch);

// Reseeds from the seed field's number; only its low 32 bits count.
void reseed(Session& session, std::int64_t seedFieldValue);

} // namespace zerbrak
