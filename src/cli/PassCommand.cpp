#include "CliDesktop.h"
#include "CliOptions.h"
#include "Commands.h"
#include "glitch/GlitchPass.h"
#include "platform/IsolatedDecoder.h"
#include "platform/PathExtension.h"

#include <QFile>
#include <cstdio>
#include <sys/stat.h>

namespace zerbrak::cli {
namespace {

// Same device and inode: the same file also through a symbolic or a hard link. An OUTPUT that
// does not exist yet is never INPUT.
bool sameFile(const QString& first, const QString& second) {
    struct stat a {};
    struct stat b {};
    return ::stat(QFile::encodeName(first).constData(), &a) == 0 &&
           ::stat(QFile::encodeName(second).constData(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

} // namespace

int runPass(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs one glitch pass: damages the bytes of INPUT by the mode its format picks\n"
        "(bmp: line-break rewrite, png: single-byte strike, anything else: replace and\n"
        "scatter) and writes them to OUTPUT. Prints the path written. With --transcode the\n"
        "re-encode appends the target's extension to OUTPUT (out.png becomes out.png.gif)."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("pass"), QStringLiteral("The command."));
    parser.addPositionalArgument(QStringLiteral("INPUT"), QStringLiteral("File to damage."));
    parser.addPositionalArgument(QStringLiteral("OUTPUT"), QStringLiteral("File to write."));
    parser.addOption({QStringLiteral("format"),
                      QStringLiteral("Format that picks the mode, as an extension without the "
                                     "dot, case-sensitive (default: INPUT's extension)."),
                      QStringLiteral("EXT")});
    parser.addOption({QStringLiteral("in-place"),
                      QStringLiteral("Allow OUTPUT to be INPUT itself, also through a link: "
                                     "INPUT is replaced by its damaged copy.")});
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

    IsolatedDecoder decoder;
    Session session;
    session.decoder = &decoder;
    session.inPath = files[0];
    session.endFormat = parser.isSet(QStringLiteral("format"))
                            ? parser.value(QStringLiteral("format"))
                            : pathExtension(session.inPath);
    reseed(session, readSeed(parser));
    applyTranscode(parser, session);

    if (!inputIsReadable(session.inPath)) {
        return exitFileError;
    }
    // Damaging the only copy by a slip of the tab key is not undone; it must be asked for.
    if (!parser.isSet(QStringLiteral("in-place")) && sameFile(files[0], files[1])) {
        throw UsageError{QStringLiteral(
            "OUTPUT is the INPUT file itself; add --in-place to damage it in place")};
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
