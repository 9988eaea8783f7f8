#include "CliDesktop.h"

#include <cstdio>

namespace zerbrak {

void CliDesktop::alertOutputFailed(const QString& outputPath, const QString& reason) {
    outputFailed_ = true;
    std::fprintf(stderr, "zerbrak-cli: cannot open or write the output file %s: %s\n",
                 outputPath.toLocal8Bit().constData(), reason.toLocal8Bit().constData());
}

void CliDesktop::alertRunFailed(const QString& message) {
    outputFailed_ = true;
    std::fprintf(stderr, "zerbrak-cli: %s\n", message.toLocal8Bit().constData());
}

void CliDesktop::frameKept(const QString& path) {
    std::printf("%s\n", path.toLocal8Bit().constData());
    std::fflush(stdout);
}

} // namespace zerbrak
