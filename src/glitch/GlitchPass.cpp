#include "GlitchPass.h"

#include "CorruptionMode.h"
#include "TranscodeStep.h"
#include "platform/Desktop.h"
#include "platform/FileBytes.h"
#include "platform/Log.h"

#include <QSaveFile>
#include <vector>

namespace zerbrak {
namespace {

// Damages `bytes` by the mode of `endFormat`; returns the damaged bytes (the same buffer for
// the in-place modes, a new one for the line-break rewrite, which grows).
std::vector<std::uint8_t> damage(std::vector<std::uint8_t> bytes, const QString& endFormat,
                                 const GlitchParams& params, RandomSource& random) {
    switch (chooseMode(endFormat.toStdString())) {
    case CorruptionMode::LineBreakRewrite: {
        logLine(QStringLiteral("has bmp"));
        std::vector<std::uint8_t> rewritten(lineBreakRewriteLength(bytes));
        rewritten.resize(lineBreakRewrite(bytes, rewritten));
        return rewritten;
    }
    case CorruptionMode::SingleByteStrike:
        logLine(QStringLiteral("has png"));
        singleByteStrike(bytes, random);
        return bytes;
    case CorruptionMode::ReplaceAndScatter:
        replaceAndScatter(bytes, params, random);
        return bytes;
    }
    return bytes;
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

    bytes = damage(std::move(bytes), session.endFormat, params, session.random);

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
