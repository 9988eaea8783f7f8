#include "FrameSeries.h"

#include "OutputFolder.h"
#include "codec/Decode.h"
#include "glitch/GlitchPass.h"
#include "platform/Desktop.h"
#include "platform/Log.h"

namespace zerbrak {

FrameSeriesSummary runFrameSeries(Session& session, const GlitchParams& params,
                                  std::int32_t frameCount, const QString& home, Desktop& desktop) {
    FrameSeriesSummary summary;
    session.tmr = 0;
    session.globalNR += 1;
    int retries = 0;
    ensureOutputFolder(home);

    for (int attempt = 0; session.tmr < frameCount; ++attempt) {
        if (!desktop.seriesProgress(session.tmr, frameCount, retries)) {
            summary.cancelled = true;
            break;
        }
        logLine(QStringLiteral("numberofframes: ") + QString::number(attempt));
        const QString name = frameFileName(home, session.globalNR, session.tmr, session.endFormat);
        const PassResult pass = runGlitchPass(session, params, desktop, session.inPath, name);
        ++summary.passes;
        if (pass.outputFailed) {
            // The user has seen the alert once; the next passes would fail the same way.
            summary.outputFailed = true;
            break;
        }
        if (const DecodeResult frame = decodeImageFile(pass.path); frame.isValid()) {
            desktop.showImage(frame.image);
            desktop.frameKept(pass.path);
            ++summary.kept;
            ++session.tmr;
            retries = 0;
        } else if (++retries > maxRetries) {
            ++summary.givenUp;
            ++session.tmr;
            retries = 0;
        }
    }
    desktop.seriesFinished();
    return summary;
}

} // namespace zerbrak
