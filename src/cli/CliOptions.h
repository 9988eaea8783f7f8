#pragma once

#include "core/CorruptionModes.h"
#include "glitch/Session.h"

#include <QCommandLineParser>
#include <QString>
#include <cstdint>
#include <optional>

namespace zerbrak::cli {

// Exit codes: 0 done, 1 an output (or input) could not be used, 2 bad arguments, 3 a frame
// series finished but gave some frames up.
inline constexpr int exitOk = 0;
inline constexpr int exitFileError = 1;
inline constexpr int exitUsage = 2;
inline constexpr int exitFramesGivenUp = 3;

// Thrown for arguments that cannot be used; main prints it and exits with exitUsage.
struct UsageError {
    QString message;
};

// Parses the command's arguments; a parse error is a UsageError worded like the tool's own
// ("option --bogus is unknown"). Prints the help and returns false when --help was asked for.
// Qt's --help-all is no option of ours.
bool parseArguments(QCommandLineParser& parser, const QStringList& arguments);

// Says so on stderr when `path` is not a regular file that can be read.
bool inputIsReadable(const QString& path);

// Adds --seed, --from, --to, --replace and --chance.
void addPassOptions(QCommandLineParser& parser);

// Reads them, with the window's first control values for those left out. A value outside its
// option's range is a UsageError.
GlitchParams readPassOptions(const QCommandLineParser& parser);
std::int64_t readSeed(const QCommandLineParser& parser);

// The whole number given for --`name`, `fallback` when it is not given; a value outside
// lowest..highest is a UsageError.
std::int64_t integerOption(const QCommandLineParser& parser, const QString& name,
                           std::int64_t fallback, std::int64_t lowest, std::int64_t highest);

// Adds --transcode TITLE; applyTranscode picks it as the format pop-up would. TITLE is one of
// the six pop-up titles or their extensions (and "tif"), in any case; anything else is refused
// with the list of them.
void addTranscodeOption(QCommandLineParser& parser);
void applyTranscode(const QCommandLineParser& parser, Session& session);

// A whole decimal number, optionally signed; anything else is a UsageError naming the option.
std::int64_t parseInteger(const QString& text, const QString& optionName);

} // namespace zerbrak::cli
