#pragma once

#include <QStringList>

namespace zerbrak::cli {

// Each takes the arguments after the command word (argv[0] first) and returns the exit code.
int runPass(const QStringList& arguments);
int runFrames(const QStringList& arguments);
int runCheck(const QStringList& arguments);
int runBatch(const QStringList& arguments);

} // namespace zerbrak::cli
