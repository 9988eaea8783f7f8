#pragma once

#include "RunOutcome.h"
#include "core/CorruptionModes.h"
#include "glitch/TranscodeTarget.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace zerbrak {

struct FolderBatchSummary;
struct FrameSeriesSummary;

// What a frame series of `frameCount` frames made, in one line for the window's status bar:
// "3 of 3 frames kept (1 partial) in ~/Documents/zerbrak/", "1 frame given up after 11
// undecodable passes", "Cancelled after 4 of 20". A frame written whole but not yet checked
// when the series was cancelled counts as finished, and the report says it was not checked.
// `folder` is the output folder as shown.
QString seriesReport(const FrameSeriesSummary& summary, std::int32_t frameCount,
                     const QString& folder);

// The same for a folder batch, its destination as shown being `destination`.
QString batchReport(const FolderBatchSummary& summary, const QString& destination);

// What the run that made `outcome` reports in the status bar, its folders shown relative to
// `home`, with the path of the last frame kept (empty: nothing to copy); nothing for a run
// that reports nothing (an open, a snapshot).
struct RunResultLine {
    QString text;
    QString lastPath;
};
std::optional<RunResultLine> runResultLine(const RunOutcome& outcome, const QString& home);

// How many copies of a chain of re-encodes inputDescription names; the older ones are counted.
inline constexpr qsizetype maxNamedCopies = 3;

// The input as the status bar names it, from the name of the file its chain of re-encodes
// started from and their pop-up titles, oldest first: "astronaut.png", "re-encoded to GIF from
// astronaut.png", "re-encoded to JPG from the TIFF copy of the GIF copy of astronaut.png".
QString inputDescription(const QString& originName, const QStringList& reencodes);

// Added to the titles of the controls a pass in `mode` ignores: " (not used for PNG)".
QString unusedControlsNote(CorruptionMode mode);

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
