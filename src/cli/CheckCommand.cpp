#include "CliOptions.h"
#include "Commands.h"
#include "platform/IsolatedDecoder.h"

#include <cstdio>
#include <optional>

namespace zerbrak::cli {

int runCheck(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Decodes each FILE as the window would and prints a line for it: its "
                       "path, a tab, then\n'ok WxH', 'partial WxH' or 'undecodable: REASON'."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("check"), QStringLiteral("The command."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("Files to decode."),
                                 QStringLiteral("FILE..."));
    const QCommandLineOption stats(
        QStringLiteral("stats"),
        QStringLiteral(
            "Adds two columns to each line: the decode's time in milliseconds and the "
            "peak memory it took in KiB (0 when the decoder gave no answer; '-' for both when "
            "the file never reached it)."));
    parser.addOption(stats);
    if (!parseArguments(parser, arguments)) {
        return exitOk; // the help was asked for and printed
    }
    const QStringList files = parser.positionalArguments().mid(1);
    if (files.isEmpty()) {
        throw UsageError{QStringLiteral("check needs at least one FILE")};
    }
    IsolatedDecoder decoder;
    bool allDecoded = true;
    for (const QString& file : files) {
        const DecodeResult result = decoder.decodeFile(file);
        QString verdict;
        if (result.isValid()) {
            verdict = QStringLiteral("%1 %2x%3")
                          .arg(result.partial ? QStringLiteral("partial") : QStringLiteral("ok"))
                          .arg(result.image.width())
                          .arg(result.image.height());
        } else {
            allDecoded = false;
            verdict = QStringLiteral("undecodable: ") +
                      (result.message.isEmpty() ? QStringLiteral("no picture") : result.message);
        }
        if (parser.isSet(stats)) {
            // A file that never reached the decoder has no figures of its own.
            const std::optional<IsolatedDecoder::Cost> cost = decoder.lastCost();
            verdict += cost ? QStringLiteral("\t%1\t%2")
                                  .arg(static_cast<double>(cost->time.count()) / 1000.0, 0, 'f', 1)
                                  .arg(cost->peakKiB)
                            : QStringLiteral("\t-\t-");
        }
        std::printf("%s\t%s\n", file.toLocal8Bit().constData(), verdict.toUtf8().constData());
    }
    return allDecoded ? exitOk : exitFileError;
}

} // namespace zerbrak::cli
