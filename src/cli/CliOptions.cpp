#include "CliOptions.h"

#include "core/ControlDefaults.h"
#include "glitch/FormatTable.h"
#include "glitch/TranscodeChange.h"
#include "platform/FileBytes.h"

#include <cstdio>
#include <limits>

namespace zerbrak::cli {

namespace {

QString dashed(const QString& name) {
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

// The parser's own wording ("Unknown option 'bogus'.") reads unlike the tool's other lines.
QString parseErrorText(const QCommandLineParser& parser) {
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty()) {
        return QStringLiteral("option %1 is unknown").arg(dashed(unknown.first()));
    }
    const QString text = parser.errorText();
    const QString missingValue = QStringLiteral("Missing value after '");
    if (text.startsWith(missingValue)) {
        const QString name = text.mid(missingValue.size()).section(QLatin1Char('\''), 0, 0);
        return QStringLiteral("option %1 needs a value").arg(name); // named as typed
    }
    QString message = text.endsWith(QLatin1Char('.')) ? text.chopped(1) : text;
    if (!message.isEmpty()) {
        message[0] = message[0].toLower();
    }
    return message;
}

} // namespace

namespace {

const QString helpAll = QStringLiteral("help-all");

// The parser's help names the program by the path it was started from, and lists --help-all
// for Qt's own options, which this tool does not take: a command's help names it
// "zerbrak-cli" and leaves that line out.
QString commandHelp(const QCommandLineParser& parser, const QString& program) {
    QStringList lines = parser.helpText().split(QLatin1Char('\n'));
    const QString usage = QStringLiteral("Usage: ");
    if (!lines.isEmpty() && lines.first().startsWith(usage + program)) {
        lines.first() = usage + QStringLiteral("zerbrak-cli") +
                        lines.first().mid(usage.size() + program.size());
    }
    lines.removeIf([](const QString& line) {
        return line.trimmed().startsWith(QStringLiteral("--") + helpAll);
    });
    return lines.join(QLatin1Char('\n'));
}

} // namespace

bool parseArguments(QCommandLineParser& parser, const QStringList& arguments) {
    if (!parser.parse(arguments)) {
        throw UsageError{parseErrorText(parser)};
    }
    if (parser.optionNames().contains(helpAll)) {
        throw UsageError{QStringLiteral("option --%1 is unknown").arg(helpAll)};
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(commandHelp(parser, arguments.value(0))), stdout);
        return false;
    }
    return true;
}

bool inputIsReadable(const QString& path) {
    const QString error = unreadableFileError(path);
    if (error.isEmpty()) {
        return true;
    }
    std::fprintf(stderr, "zerbrak-cli: %s\n", error.toLocal8Bit().constData());
    return false;
}

void addPassOptions(QCommandLineParser& parser) {
    parser.addOption(
        {QStringLiteral("seed"),
         QStringLiteral("Random seed, 0 to 4294967295 (default %1).").arg(defaults::seed),
         QStringLiteral("N")});
    parser.addOption(
        {QStringLiteral("from"),
         QStringLiteral("Byte value to look for, 0 to 255 (default %1).").arg(defaults::fromByte),
         QStringLiteral("B")});
    parser.addOption(
        {QStringLiteral("to"),
         QStringLiteral("Byte value to put in, 0 to 255 (default %1).").arg(defaults::toByte),
         QStringLiteral("B")});
    parser.addOption({QStringLiteral("replace"),
                      QStringLiteral("Replace every from byte by the to byte (default off).")});
    parser.addOption({QStringLiteral("chance"),
                      QStringLiteral("Chance, 0 to 100: candidates every 100-C bytes, each struck "
                                     "1 time in C+1; 100 strikes none (default %1).")
                          .arg(defaults::chance),
                      QStringLiteral("C")});
}

std::int64_t parseInteger(const QString& text, const QString& optionName) {
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok, 10);
    if (!ok) {
        throw UsageError{
            QStringLiteral("--%1 needs a whole number, not \"%2\"").arg(optionName, text)};
    }
    return value;
}

std::int64_t integerOption(const QCommandLineParser& parser, const QString& name,
                           std::int64_t fallback, std::int64_t lowest, std::int64_t highest) {
    if (!parser.isSet(name)) {
        return fallback;
    }
    // Out of range is refused, never wrapped: a script that asks for 4294967297 frames has
    // made a mistake, and one frame would hide it.
    const std::int64_t value = parseInteger(parser.value(name), name);
    if (value < lowest || value > highest) {
        throw UsageError{QStringLiteral("--%1 must lie between %2 and %3, not %4")
                             .arg(name)
                             .arg(lowest)
                             .arg(highest)
                             .arg(value)};
    }
    return value;
}

std::int64_t readSeed(const QCommandLineParser& parser) {
    return integerOption(parser, QStringLiteral("seed"), defaults::seed, 0,
                         std::numeric_limits<std::uint32_t>::max());
}

GlitchParams readPassOptions(const QCommandLineParser& parser) {
    const auto byteOption = [&parser](const QString& name, std::int64_t fallback) {
        return static_cast<std::uint8_t>(integerOption(parser, name, fallback, 0, 255));
    };
    GlitchParams params;
    params.fromByte = byteOption(QStringLiteral("from"), defaults::fromByte);
    params.toByte = byteOption(QStringLiteral("to"), defaults::toByte);
    params.replace = parser.isSet(QStringLiteral("replace")) || defaults::replace;
    params.chance = static_cast<std::int32_t>(
        integerOption(parser, QStringLiteral("chance"), defaults::chance, 0, 100));
    return params;
}

} // namespace zerbrak::cli

namespace zerbrak::cli {

namespace {

// The short name a script would type for TIFF, besides its extension.
constexpr const char* tiffAlias = "tif";

QString transcodeTitles() {
    QStringList titles;
    QStringList extensions;
    for (const FormatRow& row : formatTable) {
        titles << QStringLiteral("\"%1\"").arg(QLatin1String(row.title));
        extensions << QLatin1String(row.extension);
        if (row.target == FixedTarget::Tiff) {
            extensions << QLatin1String(tiffAlias);
        }
    }
    return QStringLiteral("%1, or an extension: %2 (any case)")
        .arg(titles.join(QStringLiteral(", ")), extensions.join(QStringLiteral(", ")));
}

// The target `name` stands for: a pop-up title or an extension, in any case; null for none.
const FormatRow* transcodeRow(const QString& name) {
    for (const FormatRow& row : formatTable) {
        const bool alias = row.target == FixedTarget::Tiff &&
                           name.compare(QLatin1String(tiffAlias), Qt::CaseInsensitive) == 0;
        if (alias || name.compare(QLatin1String(row.title), Qt::CaseInsensitive) == 0 ||
            name.compare(QLatin1String(row.extension), Qt::CaseInsensitive) == 0) {
            return &row;
        }
    }
    return nullptr;
}

} // namespace

void addTranscodeOption(QCommandLineParser& parser) {
    parser.addOption({QStringLiteral("transcode"),
                      QStringLiteral("Re-encode the input before every pass, as the window's "
                                     "format pop-up does: one of %1.")
                          .arg(transcodeTitles()),
                      QStringLiteral("TITLE")});
}

void applyTranscode(const QCommandLineParser& parser, Session& session) {
    const QString name = QStringLiteral("transcode");
    if (!parser.isSet(name)) {
        return;
    }
    const QString given = parser.value(name);
    const FormatRow* row = transcodeRow(given);
    if (row == nullptr) {
        throw UsageError{QStringLiteral("--transcode takes one of %1, not \"%2\"")
                             .arg(transcodeTitles(), given)};
    }
    transcodeChange(session, QLatin1String(row->title));
}

} // namespace zerbrak::cli
