#pragma once

#include "core/CorruptionModes.h"
#include "glitch/Session.h"

#include <QCommandLineParser>
#include <QString>
#include <cstdint>
#include <optional>

namespace zerbrak::cli {

// Exit codes: 0 done, 1 an output (or input) could not be used, 2 bad arguments.
inline constexpr int exitOk = 0;
inline constexpr int exitFileError = 1;
inline constexpr int exitUsage = 2;

// Thrown for arguments that cannot be used; main prints it and exits with exitUsage.
struct UsageError {
    QString message;
};

// Parses the command's arguments; a parse error is a UsageError. Prints the help and returns
// false when --help was asked for.
bool parseArguments(QCommandLineParser& parser, const QStringList& arguments);

// Says so on stderr when `path` cannot be read.
bool inputIsReadable(const QString& path);

// Adds --seed, --from, --to, --replace and --chance.
void addPassOptions(QCommandLineParser& parser);

// Reads them, with the window's first control values for those left out.
GlitchParams readPassOptions(const QCommandLineParser& parser);
std::int64_t readSeed(const QCommandLineParser& parser);

// Adds --transcode TITLE; applyTranscode picks it as the format pop-up would, and refuses a
// title that is none of the six.
void addTranscodeOption(QCommandLineParser& parser);
void applyTranscode(const QCommandLineParser& parser, Session& session);

// A whole decimal number, optionally signed; anything else is a UsageError naming the option.
std::int64_t parseInteger(const QString& text, const QString& optionName);

} // namespace zerbrak::cli
