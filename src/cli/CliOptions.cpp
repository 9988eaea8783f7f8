#include "CliOptions.h"

#include "core/ControlDefaults.h"
#include "core/TextValues.h"
#include "glitch/FormatTable.h"
#include "glitch/TranscodeChange.h"

#include <QFileInfo>
#include <cstdio>

namespace zerbrak::cli {

bool parseArguments(QCommandLineParser& parser, const QStringList& arguments) {
    if (!parser.parse(arguments)) {
        throw UsageError{parser.errorText()};
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return false;
    }
    return true;
}

bool inputIsReadable(const QString& path) {
    if (QFileInfo(path).isReadable()) {
        return true;
    }
    std::fprintf(stderr, "zerbrak-cli: cannot read the input file %s\n",
                 path.toLocal8Bit().constData());
    return false;
}

void addPassOptions(QCommandLineParser& parser) {
    parser.addOption(
        {QStringLiteral("seed"),
         QStringLiteral("Random seed; its low 32 bits count (default %1).").arg(defaults::seed),
         QStringLiteral("N")});
    parser.addOption({QStringLiteral("from"),
                      QStringLiteral("Byte value to look for; its low 8 bits count (default %1).")
                          .arg(defaults::fromByte),
                      QStringLiteral("B")});
    parser.addOption({QStringLiteral("to"),
                      QStringLiteral("Byte value to put in; its low 8 bits count (default %1).")
                          .arg(defaults::toByte),
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

std::int64_t readSeed(const QCommandLineParser& parser) {
    const QString name = QStringLiteral("seed");
    return parser.isSet(name) ? parseInteger(parser.value(name), name) : defaults::seed;
}

GlitchParams readPassOptions(const QCommandLineParser& parser) {
    auto integerOption = [&parser](const QString& name, std::int64_t fallback) {
        return parser.isSet(name) ? parseInteger(parser.value(name), name) : fallback;
    };
    GlitchParams params;
    params.fromByte = low8(integerOption(QStringLiteral("from"), defaults::fromByte));
    params.toByte = low8(integerOption(QStringLiteral("to"), defaults::toByte));
    params.replace = parser.isSet(QStringLiteral("replace")) || defaults::replace;
    const std::int64_t chance = integerOption(QStringLiteral("chance"), defaults::chance);
    if (chance < 0 || chance > 100) {
        throw UsageError{QStringLiteral("--chance must lie between 0 and 100, not %1").arg(chance)};
    }
    params.chance = static_cast<std::int32_t>(chance);
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
