// How often a damaged file still gives a picture: for each transcode target, the start image
// is encoded into it and damaged many times by the target's own mode, as a frame series would,
// and each result is decoded. Prints the share shown by our decoders and, for comparison, by
// Qt's own readers on the very same bytes.
#include "codec/Decode.h"
#include "codec/Encode.h"
#include "core/CorruptionModes.h"
#include "glitch/FormatTable.h"
#include "platform/Resources.h"

#include <QCoreApplication>
#include <QImage>
#include <QImageReader>
#include <cstdio>
#include <vector>

using namespace zerbrak;

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int passes = argc > 1 ? std::atoi(argv[1]) : 200;
    QImage source(startImagePath());
    if (source.isNull()) {
        std::fprintf(stderr, "bench_art: start image not found\n");
        return 1;
    }
    // A smaller copy keeps the run short; the damage rate per byte is what matters.
    source = source.scaledToWidth(640, Qt::SmoothTransformation);

    std::printf("%d passes per target on a %dx%d picture, each target damaged by its own mode\n",
                passes, source.width(), source.height());
    std::printf("%-9s %-8s %10s %10s %10s %12s\n", "target", "mode", "shown", "of which",
                "Qt shown", "frame shown");
    std::printf("%-9s %-8s %10s %10s %10s %12s\n", "", "", "", "partial", "", "in 11 tries");
    int allShown = 0;
    int all = 0;
    for (const FormatRow& row : formatTable) {
        const EncodeResult encoded = encodeImage(source, row.fileType, row.options);
        if (!encoded.ok()) {
            std::printf("%-9s encoding failed: %s\n", row.title, qPrintable(encoded.error));
            continue;
        }
        int shown = 0;
        int partial = 0;
        int qtShown = 0;
        for (int seed = 0; seed < passes; ++seed) {
            RandomSource random(static_cast<std::uint32_t>(seed) + 1U);
            const std::vector<std::uint8_t> damaged =
                applyMode(chooseMode(row.extension), encoded.bytes, {0, 0, false, 50}, random);
            const DecodeResult result = decodeImageBytes(damaged);
            shown += result.isValid() ? 1 : 0;
            partial += result.isValid() && result.partial ? 1 : 0;
            const QImage qt = QImage::fromData(damaged.data(), static_cast<int>(damaged.size()));
            qtShown += qt.isNull() ? 0 : 1;
        }
        const double share = 100.0 * shown / passes;
        double missEleven = 1.0;
        for (int i = 0; i < 11; ++i) {
            missEleven *= 1.0 - share / 100.0;
        }
        const char* mode = chooseMode(row.extension) == CorruptionMode::LineBreakRewrite ? "rewrite"
                           : chooseMode(row.extension) == CorruptionMode::SingleByteStrike
                               ? "strike"
                               : "scatter";
        std::printf("%-9s %-8s %9.1f%% %9.1f%% %9.1f%% %11.1f%%\n", row.title, mode, share,
                    100.0 * partial / passes, 100.0 * qtShown / passes, 100.0 * (1.0 - missEleven));
        allShown += shown;
        all += passes;
    }
    std::printf("all targets: %.1f%% of passes shown\n", 100.0 * allShown / all);
    return 0;
}
