// Our six encoders on a 12-megapixel photo-like picture beside ImageMagick writing the same kind
// of file on the same machine, in the same run. ImageMagick reads an uncompressed PPM so its
// decode stays cheap, writes the file several times in one call, and its time to read that PPM
// and write nothing (`null:`) is taken off, which leaves its encodes alone. The runs of both
// alternate so that load from elsewhere falls on both alike; medians are printed.
#include "DetailedPicture.h"
#include "codec/Encode.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <vector>

using namespace zerbrak;

namespace {

struct Target {
    const char* name;
    ImageFileType type;
    EncodeOptions options;
    QStringList convertOptions; // what makes ImageMagick write the same kind of file
    const char* coder; // ImageMagick's coder prefix where the suffix alone would pick another
    const char* output;
    double goal; // our time over ImageMagick's
    const char* goalNote;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

// How many times one ImageMagick call writes the picture.
constexpr int writesPerCall = 8;

struct Timing {
    double wall = 0.0;
    double cpu = 0.0; // user and system time of every thread
};

double seconds(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

double childrenCpu() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double ownCpu() {
    timespec time{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &time);
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

// One ImageMagick call; a negative wall time if it failed.
Timing timeConvert(const QString& convert, const QStringList& arguments) {
    QProcess process;
    QElapsedTimer clock;
    const double cpuBefore = childrenCpu();
    clock.start();
    process.start(convert, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        return {-1.0, 0.0};
    }
    return {static_cast<double>(clock.nsecsElapsed()) / 1e9, childrenCpu() - cpuBefore};
}

struct Timings {
    std::vector<double> wall;
    std::vector<double> cpu;

    void add(const Timing& timing) {
        wall.push_back(timing.wall);
        cpu.push_back(timing.cpu);
    }
    bool failed() const { return *std::min_element(wall.begin(), wall.end()) < 0.0; }
};

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    // Further arguments name the targets to run, all of them when there are none.
    QStringList only;
    for (int i = 2; i < argc; ++i) {
        only << QString::fromLocal8Bit(argv[i]);
    }
    const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
    if (convert.isEmpty()) {
        std::fprintf(stderr, "bench_encode: ImageMagick's convert is not installed\n");
        return 1;
    }
    QTemporaryDir dir;
    const QImage picture = detailedPicture(4000, 3000);
    const QString source = dir.filePath(QStringLiteral("source.ppm"));
    if (!picture.save(source, "PPM")) {
        std::fprintf(stderr, "bench_encode: cannot write %s\n", qPrintable(source));
        return 1;
    }

    const std::vector<Target> targets = {
        {"PNG",
         ImageFileType::Png,
         {.interlaced = true},
         {"-interlace", "PNG"},
         "",
         "out.png",
         1.0,
         "at comparable size"},
        {"GIF", ImageFileType::Gif, {}, {}, "", "out.gif", 1.0, ""},
        // Our JPEG is the library's quality 75; ImageMagick would pick 92 for a PPM.
        {"JPEG", ImageFileType::Jpeg, {}, {"-quality", "75"}, "", "out.jpg", 1.2, ""},
        {"TIFF", ImageFileType::Tiff, {}, {"-compress", "none"}, "", "out.tif", 1.2, ""},
        {"BMP", ImageFileType::Bmp, {}, {}, "BMP3:", "out.bmp", 1.2, ""},
        {"JPEG 2000", ImageFileType::Jpeg2000, {}, {}, "", "out.jp2", 1.2, "lossless"},
    };

    std::printf("%dx%d picture, median of %d runs; ImageMagick writes it %d times a call (GIF "
                "once), less its PPM read into null:\n",
                picture.width(), picture.height(), runs, writesPerCall);
    std::printf("%-10s %8s %8s %7s %7s %6s %9s %9s\n", "target", "ours s", "IM s", "ratio",
                "by CPU", "goal", "ours KiB", "IM KiB");
    for (const Target& target : targets) {
        if (!only.isEmpty() &&
            !only.contains(QString::fromLatin1(target.name), Qt::CaseInsensitive)) {
            continue;
        }
        const QString written = dir.filePath(QString::fromLatin1(target.output));
        // Several writes in one call: a fast encode is then measured well above the noise of
        // starting ImageMagick and reading the source.
        // Not GIF: ImageMagick keeps the palette its first GIF write picked, so later writes
        // would skip the quantizing that is most of the work.
        const int writes = target.type == ImageFileType::Gif ? 1 : writesPerCall;
        QStringList arguments{source};
        arguments << target.convertOptions;
        for (int write = 0; write < writes; ++write) {
            arguments << QStringLiteral("-write") << QString::fromLatin1(target.coder) + written;
        }
        arguments << QStringLiteral("null:");
        Timings ours;
        Timings theirs;
        Timings readOnly;
        std::size_t ourSize = 0;
        for (int run = 0; run < runs; ++run) {
            QElapsedTimer clock;
            const double cpuBefore = ownCpu();
            clock.start();
            const EncodeResult result = encodeImage(picture, target.type, target.options);
            ours.add({static_cast<double>(clock.nsecsElapsed()) / 1e9, ownCpu() - cpuBefore});
            if (!result.ok()) {
                std::printf("%-10s our encoder failed: %s\n", target.name,
                            qPrintable(result.error));
                return 1;
            }
            ourSize = result.bytes.size();
            theirs.add(timeConvert(convert, arguments));
            readOnly.add(timeConvert(convert, {source, QStringLiteral("null:")}));
        }
        if (theirs.failed() || readOnly.failed()) {
            std::printf("%-10s ImageMagick failed\n", target.name);
            continue;
        }
        const double ourTime = median(ours.wall);
        const double theirTime =
            std::max(1e-3, (median(theirs.wall) - median(readOnly.wall)) / writes);
        const double theirCpu =
            std::max(1e-3, (median(theirs.cpu) - median(readOnly.cpu)) / writes);
        std::printf("%-10s %8.2f %8.2f %6.2fx %6.2fx %5.1fx %9.0f %9.0f %s\n", target.name, ourTime,
                    theirTime, ourTime / theirTime, median(ours.cpu) / theirCpu, target.goal,
                    static_cast<double>(ourSize) / 1024.0,
                    static_cast<double>(QFileInfo(written).size()) / 1024.0, target.goalNote);
    }
    return 0;
}
