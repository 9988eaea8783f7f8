#include "CliOptions.h"
#include "Commands.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

constexpr const char* usage =
    "Usage: zerbrak-cli COMMAND [ARGUMENTS]\n"
    "Damages image files the way the Zerbrak window does, for scripting.\n"
    "\n"
    "Commands:\n"
    "  pass INPUT OUTPUT [--format EXT] [--transcode TITLE] [--seed N] [--from B]\n"
    "       [--to B] [--replace] [--chance C]\n"
    "      One glitch pass from INPUT into OUTPUT; prints the path written.\n"
    "  frames [INPUT] [--count N] [--transcode TITLE] [pass options]\n"
    "      A frame series into ~/Documents/zerbrak/, as the window's Glitch button\n"
    "      makes it; INPUT defaults to the start image. Prints each kept frame.\n"
    "  batch SOURCE_DIR DEST_DIR [--format EXT] [--transcode TITLE] [pass options]\n"
    "      Damages every entry of SOURCE_DIR into DEST_DIR, as the window's folder\n"
    "      batch does; a taken name gets a number in front. Prints each path written.\n"
    "  check FILE...\n"
    "      Decodes each FILE as the window would: 'ok WxH', 'partial WxH' or\n"
    "      'undecodable: REASON'. Exit code 1 when any gave no picture.\n"
    "\n"
    "'zerbrak-cli COMMAND --help' describes a command's options.\n"
    "Log lines go to stderr. Exit codes: 0 done, 1 a file could not be read or\n"
    "written, 2 bad arguments.\n";

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zerbrak-cli"));
    const QStringList arguments = QCoreApplication::arguments();

    const QString command = arguments.value(1);
    if (command == QLatin1String("--help") || command == QLatin1String("-h") ||
        command == QLatin1String("help")) {
        std::fputs(usage, stdout);
        return zerbrak::cli::exitOk;
    }
    try {
        if (command == QLatin1String("pass")) {
            return zerbrak::cli::runPass(arguments);
        }
        if (command == QLatin1String("frames")) {
            return zerbrak::cli::runFrames(arguments);
        }
        if (command == QLatin1String("batch")) {
            return zerbrak::cli::runBatch(arguments);
        }
        if (command == QLatin1String("check")) {
            return zerbrak::cli::runCheck(arguments);
        }
        throw zerbrak::cli::UsageError{command.isEmpty()
                                           ? QStringLiteral("no command given")
                                           : QStringLiteral("unknown command \"%1\"").arg(command)};
    } catch (const zerbrak::cli::UsageError& error) {
        std::fprintf(stderr, "zerbrak-cli: %s\n\n%s", qPrintable(error.message), usage);
        return zerbrak::cli::exitUsage;
    }
}
