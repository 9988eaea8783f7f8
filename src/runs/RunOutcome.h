#pragma once

#include "FolderBatch.h"
#include "FrameSeries.h"

#include <cstdint>
#include <variant>

namespace zerbrak {

// A frame series' summary with the number of frames it was asked for.
struct SeriesOutcome {
    FrameSeriesSummary summary;
    std::int32_t frameCount = 0;
};

// What a run of the window made, handed back once it has ended: nothing to report (an open,
// a snapshot), a frame series, or a folder batch.
using RunOutcome = std::variant<std::monostate, SeriesOutcome, FolderBatchSummary>;

} // namespace zerbrak
