#include "CliOptions.h"
#include "Commands.h"
#include "platform/FileNames.h"
#include "platform/Log.h"

#include <QByteArray>
#include <QCoreApplication>
#include <cstdio>
#include <vector>

namespace {

constexpr const char* usage =
    "Usage: zerbrak-cli [--verbose] COMMAND [ARGUMENTS]\n"
    "       zerbrak-cli --version\n"
    "Damages image files the way the Zerbrak window does, for scripting.\n"
    "\n"
    "Commands:\n"
    "  pass INPUT OUTPUT [--format EXT] [--transcode TITLE] [--in-place] [--seed N]\n"
    "       [--from B] [--to B] [--replace] [--chance C]\n"
    "      One glitch pass from INPUT into OUTPUT; prints the path written. OUTPUT may\n"
    "      be INPUT itself only with --in-place.\n"
    "  frames [INPUT] [--count N] [--transcode TITLE] [pass options]\n"
    "      A frame series into ~/Documents/zerbrak/, as the window's Glitch button\n"
    "      makes it; INPUT defaults to the start image. Prints each kept frame.\n"
    "      --count lies between 1 and 1000000.\n"
    "  batch SOURCE_DIR DEST_DIR [--format EXT] [--transcode TITLE] [pass options]\n"
    "      Damages every entry of SOURCE_DIR into DEST_DIR, as the window's folder\n"
    "      batch does; a taken name gets a number in front. Prints each path written.\n"
    "  check FILE...\n"
    "      Decodes each FILE as the window would: 'ok WxH', 'partial WxH' or\n"
    "      'undecodable: REASON'. Exit code 1 when any gave no picture.\n"
    "\n"
    "'zerbrak-cli COMMAND --help' describes a command's options.\n"
    "The engine's log lines go to the system log, and to stderr too with --verbose;\n"
    "otherwise stderr holds one 'zerbrak-cli: ' line per problem.\n"
    "\n"
    "Exit codes:\n"
    "  0  done: the pass written, every frame kept, every usable entry written\n"
    "  1  a file could not be read or written, or a batch stopped\n"
    "  2  bad arguments\n"
    "  3  a frame series finished but gave some frames up\n";

// The line printed under a usage error: the command's own synopsis, not the whole help.
QString usageLine(const QString& command) {
    const char* synopsis = nullptr;
    if (command == QLatin1String("pass")) {
        synopsis = "pass INPUT OUTPUT [options]";
    } else if (command == QLatin1String("frames")) {
        synopsis = "frames [INPUT] [options]";
    } else if (command == QLatin1String("batch")) {
        synopsis = "batch SOURCE_DIR DEST_DIR [options]";
    } else if (command == QLatin1String("check")) {
        synopsis = "check FILE...";
    }
    if (synopsis == nullptr) {
        return QStringLiteral(
            "Usage: zerbrak-cli COMMAND [ARGUMENTS]  (zerbrak-cli --help for more)");
    }
    return QStringLiteral("Usage: zerbrak-cli %1  (zerbrak-cli %2 --help for more)")
        .arg(QLatin1String(synopsis), command);
}

// Takes --verbose out wherever it stands before "--", so that every command accepts it
// without declaring it.
bool takeVerbose(QStringList& arguments) {
    bool verbose = false;
    for (qsizetype i = 1; i < arguments.size() && arguments[i] != QLatin1String("--");) {
        if (arguments[i] == QLatin1String("--verbose")) {
            arguments.removeAt(i);
            verbose = true;
        } else {
            ++i;
        }
    }
    return verbose;
}

// An argument that is not valid UTF-8 reaches the commands as text with U+FFFD in it, which
// names another file (and writing it would replace that one): refused, named as it was typed.
void refuseArgumentsThatAreNoText(const std::vector<QByteArray>& raw) {
    for (std::size_t i = 1; i < raw.size(); ++i) {
        if (!zerbrak::nameSurvivesAsText(raw[i])) {
            throw zerbrak::cli::UsageError{
                QStringLiteral("the argument \"%1\" is not valid UTF-8; zerbrak-cli handles "
                               "only file names that are")
                    .arg(zerbrak::escapedName(raw[i]))};
        }
    }
}

} // namespace

int main(int argc, char* argv[]) {
    // Taken before Qt turns them into text, which cannot carry every name.
    const std::vector<QByteArray> rawArguments(argv, argv + argc);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zerbrak-cli"));
    QStringList arguments = QCoreApplication::arguments();
    zerbrak::setLogToStderr(takeVerbose(arguments));

    const QString command = arguments.value(1);
    if (command == QLatin1String("--version")) {
        std::printf("zerbrak-cli %s\n", ZERBRAK_VERSION);
        return zerbrak::cli::exitOk;
    }
    if (command == QLatin1String("--help") || command == QLatin1String("-h") ||
        command == QLatin1String("help")) {
        std::fputs(usage, stdout);
        return zerbrak::cli::exitOk;
    }
    try {
        refuseArgumentsThatAreNoText(rawArguments);
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
        throw zerbrak::cli::UsageError{command.isEmpty() ? QStringLiteral("no command given")
                                       : command.startsWith(QLatin1Char('-'))
                                           ? QStringLiteral("option %1 is unknown").arg(command)
                                           : QStringLiteral("unknown command \"%1\"").arg(command)};
    } catch (const zerbrak::cli::UsageError& error) {
        std::fprintf(stderr, "zerbrak-cli: %s\n%s\n", qPrintable(error.message),
                     qPrintable(usageLine(command)));
        return zerbrak::cli::exitUsage;
    }
}
