#include "FrameSeries.h"

#include "OutputFolder.h"
#include "codec/Decode.h"
#include "glitch/GlitchPass.h"
#include "glitch/TranscodeStep.h"
#include "platform/Desktop.h"
#include "platform/ImageDecoder.h"
#include "platform/Log.h"

#include <QFileInfo>
#include <QHash>

namespace zerbrak {
namespace {

// The next run number; past the largest it wraps round to the smallest.
std::int32_t nextRunNumber(std::int32_t run) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(run) + 1U);
}

// Raises the run number past a frame name whose written path is taken.
void raiseRunNumber(Session& session, const QString& takenPath) {
    session.globalNR = nextRunNumber(session.globalNR);
    logLine(QStringLiteral("run number raised to %1: %2 exists")
                .arg(session.globalNR)
                .arg(QFileInfo(takenPath).fileName()));
}

// The frame's name for the session's run and frame numbers and `endFormat`. While the path a
// pass would write under it is taken by a file this series did not write for this frame, the
// run number is raised: run numbers come from the clock in seconds, so two runs started in one
// second would otherwise write the same names.
QString freeFrameName(Session& session, const QString& home, const QString& endFormat,
                      const QHash<QString, std::int32_t>& written) {
    for (;;) {
        QString name = frameFileName(home, session.globalNR, session.tmr, endFormat);
        const QString path = transcodedOutputName(session.trans_endFormat, name);
        if (!pathTaken(path) || written.value(path, -1) == session.tmr) {
            return name;
        }
        raiseRunNumber(session, path);
    }
}

// A frame up to this size is decoded from the bytes the pass wrote rather than read back.
constexpr std::uint64_t framesKeptInMemory = std::uint64_t{64} << 20U;

} // namespace

FrameSeriesSummary runFrameSeries(Session& session, const GlitchParams& params,
                                  std::int32_t frameCount, const QString& home, Desktop& desktop) {
    FrameSeriesSummary summary;
    session.tmr = 0;
    session.globalNR = nextRunNumber(session.globalNR);
    int retries = 0;
    ensureOutputFolder(home);
    // Each path this series wrote, with the frame it holds: a retry rewrites its own frame.
    QHash<QString, std::int32_t> written;

    for (int attempt = 0; session.tmr < frameCount; ++attempt) {
        if (!desktop.seriesProgress(session.tmr, frameCount, retries)) {
            summary.cancelled = true;
            break;
        }
        logLine(QStringLiteral("numberofframes: ") + QString::number(attempt));
        // The format the name is built from, before a re-encode changes it.
        const QString format = session.endFormat;
        const QString name = freeFrameName(session, home, format, written);
        // Only a retry rewrites a frame, its own; every other name is free and must stay so
        // until the frame takes it, whatever another run started meanwhile writes.
        const bool ownFrame =
            written.value(transcodedOutputName(session.trans_endFormat, name), -1) == session.tmr;
        PassResult pass =
            runGlitchPass(session, params, desktop, session.inPath, name, framesKeptInMemory,
                          ownFrame ? OutputCommit::Replace : OutputCommit::NeverReplace);
        // Another run took the name between the test and the commit: the same bytes go under
        // the next free run number, as if the name had been seen taken before the pass.
        while (pass.nameTaken) {
            raiseRunNumber(session, pass.path);
            commitElsewhere(pass, desktop,
                            transcodedOutputName(session.trans_endFormat,
                                                 freeFrameName(session, home, format, written)));
        }
        ++summary.passes;
        if (pass.cancelled) {
            summary.cancelled = true;
            break;
        }
        if (pass.failed()) {
            // The user has seen the alert once; the next passes would fail the same way.
            summary.outputFailed = pass.outputFailed;
            summary.runFailed = pass.runFailed;
            break;
        }
        written.insert(pass.path, session.tmr);
        if (const DecodeResult frame = pass.bytes ? decodeBytes(session.decoder, *pass.bytes)
                                                  : decodeFile(session.decoder, pass.path);
            frame.isValid()) {
            desktop.showImage(frame.image);
            desktop.frameKept(pass.path);
            ++summary.kept;
            summary.partial += frame.partial ? 1 : 0;
            summary.lastKept = pass.path;
            summary.lastGivenUp = false;
            ++session.tmr;
            retries = 0;
        } else if (frame.cancelled) {
            // The frame is written; only its decode for the view was stopped.
            summary.cancelled = true;
            summary.lastUnchecked = true;
            break;
        } else if (++retries > maxRetries) {
            ++summary.givenUp;
            summary.lastGivenUp = true;
            ++session.tmr;
            retries = 0;
        }
    }
    return summary;
}

} // namespace zerbrak
