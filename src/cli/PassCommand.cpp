#include "CliDesktop.h"
#include "CliOptions.h"
#include "Commands.h"
#include "glitch/GlitchPass.h"
#include "platform/PathExtension.h"

#include <QFileInfo>
#include <cstdio>

namespace zerbrak::cli {

int runPass(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs one glitch pass: damages the bytes of INPUT by the mode its format picks\n"
        "(bmp: line-break rewrite, png: single-byte strike, anything else: replace and\n"
        "scatter) and writes them to OUTPUT. Prints the path written."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("pass"), QStringLiteral("The command."));
    parser.addPositionalArgument(QStringLiteral("INPUT"), QStringLiteral("File to damage."));
    parser.addPositionalArgument(QStringLiteral("OUTPUT"), QStringLiteral("File to write."));
    parser.addOption({QStringLiteral("format"),
                      QStringLiteral("Format that picks the mode, as an extension without the "
                                     "dot, case-sensitive (default: INPUT's extension)."),
                      QStringLiteral("EXT")});
    addPassOptions(parser);
    addTranscodeOption(parser);

    if (!parseArguments(parser, arguments)) {
        return exitOk; // the help was asked for and printed
    }
    const QStringList files = parser.positionalArguments().mid(1);
    if (files.size() != 2) {
        throw UsageError{files.size() < 2 ? QStringLiteral("pass needs an INPUT and an OUTPUT file")
                                          : QStringLiteral("pass takes one INPUT and one OUTPUT")};
    }
    const GlitchParams params = readPassOptions(parser);

    Session session;
    session.inPath = files[0];
    session.endFormat = parser.isSet(QStringLiteral("format"))
                            ? parser.value(QStringLiteral("format"))
                            : pathExtension(session.inPath);
    reseed(session, readSeed(parser));
    applyTranscode(parser, session);

    if (!inputIsReadable(session.inPath)) {
        return exitFileError;
    }

    CliDesktop desktop;
    const QString written = doGlitch(session, params, desktop, session.inPath, files[1]);
    if (desktop.outputFailed()) {
        return exitFileError;
    }
    std::printf("%s\n", written.toLocal8Bit().constData());
    return exitOk;
}

} // namespace zerbrak::cli
