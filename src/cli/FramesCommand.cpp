#include "CliDesktop.h"
#include "CliOptions.h"
#include "Commands.h"
#include "platform/IsolatedDecoder.h"
#include "platform/PathExtension.h"
#include "platform/Resources.h"
#include "runs/FrameSeries.h"
#include "runs/OutputFolder.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <cstdio>

namespace zerbrak::cli {
namespace {

constexpr std::int64_t maxFrameCount = 1'000'000;

} // namespace

int runFrames(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs one frame series into ~/Documents/zerbrak/, as the window's Glitch button does:\n"
        "every frame damages INPUT anew; a frame that does not decode is damaged again up to\n"
        "10 more times. Frames are named <run><frame>.<format>. Prints each kept frame."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("frames"), QStringLiteral("The command."));
    parser.addPositionalArgument(QStringLiteral("INPUT"),
                                 QStringLiteral("Image to damage (default: the start image)."),
                                 QStringLiteral("[INPUT]"));
    parser.addOption({QStringLiteral("count"),
                      QStringLiteral("Number of frames, 1 to 1000000 (default: one frame)."),
                      QStringLiteral("N")});
    addPassOptions(parser);
    addTranscodeOption(parser);

    if (!parseArguments(parser, arguments)) {
        return exitOk; // the help was asked for and printed
    }
    const QStringList inputs = parser.positionalArguments().mid(1);
    if (inputs.size() > 1) {
        throw UsageError{QStringLiteral("frames takes at most one INPUT")};
    }
    const GlitchParams params = readPassOptions(parser);
    // A million frames is days of passes; a larger count is far likelier a typo.
    const auto frameCount = static_cast<std::int32_t>(
        integerOption(parser, QStringLiteral("count"), 1, 1, maxFrameCount));

    IsolatedDecoder decoder;
    Session session;
    session.decoder = &decoder;
    const QString startImage = startImagePath();
    startSession(session, startImage, readSeed(parser), QDateTime::currentSecsSinceEpoch());
    if (!inputs.isEmpty()) {
        session.inPath = QFileInfo(inputs[0]).absoluteFilePath();
        session.endFormat = pathExtension(session.inPath);
    }
    applyTranscode(parser, session);
    if (!inputIsReadable(session.inPath)) {
        return exitFileError;
    }

    CliDesktop desktop;
    const QString home = QDir::homePath();
    const FrameSeriesSummary summary = runFrameSeries(session, params, frameCount, home, desktop);
    std::fprintf(stderr, "zerbrak-cli: %d of %d frames kept, %d given up, in %s\n", summary.kept,
                 frameCount, summary.givenUp, outputFolderPath(home).toLocal8Bit().constData());
    if (summary.outputFailed || summary.runFailed) {
        return exitFileError;
    }
    if (summary.givenUp > 0) {
        std::fprintf(stderr,
                     "zerbrak-cli: %d of %d frames given up after %d undecodable passes each\n",
                     summary.givenUp, frameCount, 1 + maxRetries);
        return exitFramesGivenUp;
    }
    return exitOk;
}

} // namespace zerbrak::cli
