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

bool parseArguments(QCommandLineParser& parser, const QStringList& arguments) {
    if (!parser.parse(arguments)) {
        throw UsageError{parseErrorText(parser)};
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
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

QString transcodeTitles() {
    QStringList titles;
    for (const FormatRow& row : formatTable) {
        titles << QStringLiteral("\"%1\"").arg(QLatin1String(row.title));
    }
    return titles.join(QStringLiteral(", "));
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
    const QString title = parser.value(name);
    if (rowForTitle(title) == nullptr) {
        throw UsageError{QStringLiteral("--transcode takes one of %1, not \"%2\"")
                             .arg(transcodeTitles(), title)};
    }
    transcodeChange(session, title);
}

} // namespace zerbrak::cli
