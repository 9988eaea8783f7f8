#pragma once

#include "core/CorruptionModes.h"
#include "glitch/Session.h"

#include <QString>
#include <cstdint>

namespace zerbrak {

class Desktop;

// A frame that does not decode is damaged again, up to this many times, then given up.
inline constexpr int maxRetries = 10;

struct FrameSeriesSummary {
    int kept = 0;              // frames that decoded and were shown
    int partial = 0;           // of the kept ones, frames that decoded only in part
    int givenUp = 0;           // frames that never decoded in 1 + maxRetries passes
    bool lastGivenUp = false;  // the last frame finished was given up: nothing shown for it
    QString lastKept;          // the path of the last frame kept
    int passes = 0;            // glitch passes run
    bool cancelled = false;    // the desktop asked to stop
    bool outputFailed = false; // a pass could not write its output; the series stopped there
    bool runFailed = false;    // a pass could not read or re-encode its input; stopped there too

    // Cancelled while the last frame written was decoded for the view: it is on disk whole,
    // but not known to decode. Counted as finished, not as kept.
    bool lastUnchecked = false;
};

// Runs one frame series of `frameCount` frames into the output folder under `home`: raises the
// run number, and for every frame damages session.inPath anew, decodes the result and shows it,
// retrying undecodable frames. A frame name that is already taken by a file this series did
// not write raises the run number again, so no earlier frame is ever replaced; nor is a frame
// that another run, started at the same time, writes under the name meanwhile: the frame is
// committed with a rename that never replaces, and raises the run number when it finds the
// name taken. Frame count 0 or less makes no pass.
FrameSeriesSummary runFrameSeries(Session& session, const GlitchParams& params,
                                  std::int32_t frameCount, const QString& home, Desktop& desktop);

} // namespace zerbrak
