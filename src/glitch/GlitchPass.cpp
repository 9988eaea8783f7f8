#include "GlitchPass.h"

#include "TranscodeStep.h"
#include "platform/Desktop.h"
#include "platform/FileBytes.h"
#include "platform/Log.h"

#include <QSaveFile>
#include <vector>

namespace zerbrak {
namespace {

// The mode `endFormat` picks, announced in the log as the window always has.
CorruptionMode announcedMode(const QString& endFormat) {
    const CorruptionMode mode = chooseMode(endFormat.toStdString());
    if (mode == CorruptionMode::LineBreakRewrite) {
        logLine(QStringLiteral("has bmp"));
    } else if (mode == CorruptionMode::SingleByteStrike) {
        logLine(QStringLiteral("has png"));
    }
    return mode;
}

} // namespace

PassResult runGlitchPass(Session& session, const GlitchParams& params, Desktop& desktop,
                         const QString& inputPath, const QString& outName) {
    QString outputPath = outName;
    transcodeStep(session, desktop, inputPath, outputPath);

    // The result goes to a temporary beside the output and replaces it only once written
    // whole: a failed write (disk full) leaves no torn file, and an output naming the input
    // still finds the input's bytes to read.
    QSaveFile output(outputPath);
    output.setDirectWriteFallback(false);
    if (!output.open(QIODevice::WriteOnly)) {
        desktop.alertOutputFailed(outputPath);
        return {outputPath, true};
    }

    std::vector<std::uint8_t> bytes = readFileBytes(session.inPath);

    logLine(QStringLiteral("dostuff endFormat: ") + session.endFormat);
    logLine(QStringLiteral("dostuff inPath: ") + session.inPath);
    logLine(QStringLiteral("dostuff outFileName: ") + outputPath);

    bytes = applyMode(announcedMode(session.endFormat), std::move(bytes), params, session.random);

    const auto size = static_cast<qint64>(bytes.size());
    const bool written = output.write(reinterpret_cast<const char*>(bytes.data()), size) == size;
    if (!written) {
        output.cancelWriting();
    }
    if (!output.commit() || !written) {
        desktop.alertOutputFailed(outputPath);
        return {outputPath, true};
    }
    return {outputPath, false};
}

} // namespace zerbrak
