#include "CliDesktop.h"
#include "CliOptions.h"
#include "Commands.h"
#include "platform/IsolatedDecoder.h"
#include "platform/Log.h"
#include "runs/FolderBatch.h"

#include <QDir>
#include <QFileInfo>
#include <cstdio>

namespace zerbrak::cli {
namespace {

// The folder as an absolute path without a trailing slash, so that the names built from it
// read "DIR/name"; empty, after saying why on stderr, when it is no folder. The message says
// which of the two folders is meant.
QString folderArgument(const QString& argument, bool destination) {
    const QFileInfo folder(argument);
    if (!folder.isDir()) {
        const char* why = folder.exists() ? "it is not a folder" : "No such file or directory";
        if (destination) {
            std::fprintf(stderr, "zerbrak-cli: Cannot write into DEST_DIR %s: %s.\n",
                         argument.toLocal8Bit().constData(), why);
        } else {
            std::fprintf(stderr, "zerbrak-cli: Cannot list %s: %s.\n",
                         argument.toLocal8Bit().constData(), why);
        }
        return {};
    }
    return QDir::cleanPath(folder.absoluteFilePath());
}

} // namespace

int runBatch(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs one folder batch, as the window's folder batch does without its panels: every\n"
        "entry of SOURCE_DIR, hidden ones included, is damaged into DEST_DIR under its own\n"
        "name, or with the lowest free number in front when that name is taken. Entries no\n"
        "pass can use (folders, pipes, names that are not UTF-8 or too long for DEST_DIR;\n"
        "with --transcode, files that are no picture) are skipped. Prints each path written."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("batch"), QStringLiteral("The command."));
    parser.addPositionalArgument(QStringLiteral("SOURCE_DIR"),
                                 QStringLiteral("Folder whose entries are damaged."));
    parser.addPositionalArgument(QStringLiteral("DEST_DIR"),
                                 QStringLiteral("Folder to write into; may be SOURCE_DIR."));
    parser.addOption({QStringLiteral("format"),
                      QStringLiteral("Format that picks the mode for every entry, as an extension "
                                     "without the dot, case-sensitive (default: the extension "
                                     "of the first entry that is not hidden and has one)."),
                      QStringLiteral("EXT")});
    addPassOptions(parser);
    addTranscodeOption(parser);

    if (!parseArguments(parser, arguments)) {
        return exitOk; // the help was asked for and printed
    }
    const QStringList folders = parser.positionalArguments().mid(1);
    if (folders.size() != 2) {
        throw UsageError{folders.size() < 2
                             ? QStringLiteral("batch needs a SOURCE_DIR and a DEST_DIR")
                             : QStringLiteral("batch takes one SOURCE_DIR and one DEST_DIR")};
    }
    const GlitchParams params = readPassOptions(parser);

    IsolatedDecoder decoder;
    Session session;
    session.decoder = &decoder;
    // Empty, as after opening a file without an extension: the extension of the first entry
    // that is not hidden is taken and then kept for the whole batch.
    session.endFormat = parser.value(QStringLiteral("format"));
    reseed(session, readSeed(parser));
    applyTranscode(parser, session);

    const QString inDir = folderArgument(folders[0], false);
    if (inDir.isEmpty()) {
        return exitFileError;
    }
    const QString outDir = folderArgument(folders[1], true);
    if (outDir.isEmpty()) {
        return exitFileError;
    }

    CliDesktop desktop;
    // A skipped entry is said only in the log, which stays off stderr without --verbose; the
    // script still hears of it, once, in the tool's own words.
    const LogCapture log;
    const FolderBatchSummary summary = batchFolder(session, params, inDir, outDir, desktop);
    // So is the format the batch took from an entry, which picks the mode for all of them.
    const QStringList told{QStringLiteral("skipped: "), QStringLiteral("batch format: ")};
    for (const QString& line : log.lines()) {
        if (line.startsWith(told[0]) || line.startsWith(told[1])) {
            std::fprintf(stderr, "zerbrak-cli: %s\n", line.toLocal8Bit().constData());
        }
    }
    for (const QString& path : summary.written) {
        std::printf("%s\n", path.toLocal8Bit().constData());
    }
    std::fprintf(stderr, "zerbrak-cli: %lld of %d entries written, %d skipped, into %s\n",
                 static_cast<long long>(summary.written.size()), summary.entries, summary.skipped,
                 outDir.toLocal8Bit().constData());
    return summary.failed() ? exitFileError : exitOk;
}

} // namespace zerbrak::cli
