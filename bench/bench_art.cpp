// How often a damaged file still gives a picture: for each transcode target, varied pictures
// (the start image, a photograph-like one, grey, with alpha, few colours, tiny, odd-sized,
// large) are encoded into it, and for some targets also written the ways other programs
// write them (progressive JPEG, 16-bit or straight PNG, LZW TIFF). Each file is damaged many
// times by the target's own mode at the series' chance, and each result is decoded. Prints the
// share shown per target and per picture kind, the share Qt's own readers show of the same
// bytes, and the commonest reasons a file gave nothing.
#include "DetailedPicture.h"
#include "codec/Decode.h"
#include "codec/Encode.h"
#include "core/CorruptionModes.h"
#include "glitch/FormatTable.h"
#include "platform/Resources.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <string>
#include <tiffio.h>
#include <vector>

using namespace zerbrak;

namespace {

struct Picture {
    std::string kind;
    QImage image;
};

QImage withAlpha(const QImage& picture) {
    QImage out = picture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            row[x] = qRgba(qRed(row[x]), qGreen(row[x]), qBlue(row[x]), (x + y) & 0xff);
        }
    }
    return out;
}

// Flat areas of a handful of colours, like a chart or a drawing.
QImage fewColours(int width, int height) {
    QImage out(width, height, QImage::Format_RGB32);
    constexpr std::array<QRgb, 5> colours{0xffffffff, 0xff202020, 0xffd03030, 0xff3060c0,
                                          0xfff0c020};
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < width; ++x) {
            row[x] = colours[static_cast<std::size_t>((x / 40 + (y / 30) * 3) % 5)];
        }
    }
    return out;
}

std::vector<Picture> pictures(const QImage& start) {
    const QImage photo = detailedPicture(640, 480);
    std::vector<Picture> list{
        {"photo", photo},
        {"grey", photo.convertToFormat(QImage::Format_Grayscale8)},
        {"alpha", withAlpha(photo)},
        {"few colours", fewColours(640, 480)},
        {"1x1", detailedPicture(1, 1)},
        {"3x5", detailedPicture(3, 5)},
        {"641x479", detailedPicture(641, 479)},
        {"1600x1200", detailedPicture(1600, 1200)},
    };
    if (!start.isNull()) {
        // A smaller copy keeps the run short; the damage rate per byte is what matters.
        list.insert(list.begin(), {"start", start.scaledToWidth(640, Qt::SmoothTransformation)});
    }
    return list;
}

std::vector<std::uint8_t> withQt(const QImage& image, const char* format, bool progressive) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setProgressiveScanWrite(progressive);
    if (!writer.write(image)) {
        return {};
    }
    return {data.begin(), data.end()};
}

// LZW with the horizontal predictor, in strips of about 8 KiB: what most other programs write.
std::vector<std::uint8_t> lzwTiff(const QImage& image) {
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("lzw.tif"));
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    TIFF* tiff = TIFFOpen(qPrintable(path), "w");
    if (tiff == nullptr) {
        return {};
    }
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, rgb.width());
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, rgb.height());
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));
    for (int y = 0; y < rgb.height(); ++y) {
        std::vector<std::uint8_t> row(rgb.constScanLine(y), rgb.constScanLine(y) + rgb.width() * 3);
        TIFFWriteScanline(tiff, row.data(), static_cast<std::uint32_t>(y), 0);
    }
    TIFFClose(tiff);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray data = file.readAll();
    return {data.begin(), data.end()};
}

struct Sample {
    std::string kind;
    std::vector<std::uint8_t> bytes;
};

// The target's files: every picture through our encoder, and the other writings.
std::vector<Sample> samples(const FormatRow& row, const std::vector<Picture>& list) {
    std::vector<Sample> out;
    for (const Picture& picture : list) {
        EncodeResult encoded = encodeImage(picture.image, row.fileType, row.options);
        if (encoded.ok()) {
            out.push_back({picture.kind, std::move(encoded.bytes)});
        } else {
            std::printf("%s %s: encoding failed: %s\n", row.title, picture.kind.c_str(),
                        qPrintable(encoded.error));
        }
    }
    const QImage photo = detailedPicture(640, 480);
    const std::string extension = row.extension;
    auto add = [&out](const char* kind, std::vector<std::uint8_t> bytes) {
        if (!bytes.empty()) {
            out.push_back({kind, std::move(bytes)});
        }
    };
    if (extension == "jpg") {
        add("progressive", withQt(photo, "jpeg", true));
    } else if (extension == "png") {
        add("straight", encodeImage(photo, ImageFileType::Png, {}).bytes);
        add("16-bit", withQt(photo.convertToFormat(QImage::Format_RGBA64), "png", false));
    } else if (extension == "tiff") {
        add("LZW", lzwTiff(photo));
    }
    return out;
}

const char* modeName(CorruptionMode mode) {
    switch (mode) {
    case CorruptionMode::LineBreakRewrite:
        return "rewrite";
    case CorruptionMode::SingleByteStrike:
        return "strike";
    case CorruptionMode::ReplaceAndScatter:
        return "scatter";
    }
    return "?";
}

struct Tally {
    int passes = 0;
    int shown = 0;
    int partial = 0;
    int qtShown = 0;
};

double percent(int part, int whole) {
    return whole > 0 ? 100.0 * part / whole : 0.0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int passes = argc > 1 ? std::atoi(argv[1]) : 100;
    // The series' first chance, or the chances named after the pass count.
    std::vector<std::int32_t> chances;
    for (int i = 2; i < argc; ++i) {
        chances.push_back(std::clamp(std::atoi(argv[i]), 0, 100));
    }
    if (chances.empty()) {
        chances.push_back(GlitchParams{}.chance);
    }
    const std::vector<Picture> list = pictures(QImage(startImagePath()));
    std::vector<std::pair<const FormatRow*, std::vector<Sample>>> files;
    for (const FormatRow& row : formatTable) {
        files.emplace_back(&row, samples(row, list));
    }

    std::printf("%d passes per picture and target, each target damaged by its own mode\n\n",
                passes);
    std::printf("%-6s %-9s %-8s %8s %8s %8s %12s\n", "chance", "target", "mode", "shown", "partial",
                "Qt shown", "frame shown");
    std::printf("%-6s %-9s %-8s %8s %8s %8s %12s\n", "", "", "", "", "", "", "in 11 tries");
    std::map<std::string, std::map<std::string, Tally>> byKind; // kind -> target -> tally
    std::vector<std::string> kindOrder;
    std::map<std::string, std::map<std::string, int>> failures; // target -> message -> count
    for (const std::int32_t chance : chances) {
        const GlitchParams params{.chance = chance};
        Tally all;
        for (const auto& [row, targetFiles] : files) {
            const CorruptionMode mode = chooseMode(row->extension);
            Tally target;
            for (const Sample& sample : targetFiles) {
                if (std::find(kindOrder.begin(), kindOrder.end(), sample.kind) == kindOrder.end()) {
                    kindOrder.push_back(sample.kind);
                }
                Tally& kind = byKind[sample.kind][row->title];
                for (int seed = 1; seed <= passes; ++seed) {
                    RandomSource random(static_cast<std::uint32_t>(seed));
                    const std::vector<std::uint8_t> damaged =
                        applyMode(mode, sample.bytes, params, random);
                    const DecodeResult result = decodeImageBytes(damaged);
                    const QImage qt =
                        QImage::fromData(damaged.data(), static_cast<int>(damaged.size()));
                    for (Tally* tally : {&target, &kind, &all}) {
                        ++tally->passes;
                        tally->shown += result.isValid() ? 1 : 0;
                        tally->partial += result.isValid() && result.partial ? 1 : 0;
                        tally->qtShown += qt.isNull() ? 0 : 1;
                    }
                    if (!result.isValid()) {
                        ++failures[row->title][result.message.toStdString()];
                    }
                }
            }
            const double share = percent(target.shown, target.passes);
            double missEleven = 1.0;
            for (int i = 0; i < 11; ++i) {
                missEleven *= 1.0 - share / 100.0;
            }
            std::printf("%-6d %-9s %-8s %7.1f%% %7.1f%% %7.1f%% %11.1f%%\n", chance, row->title,
                        modeName(mode), share, percent(target.partial, target.passes),
                        percent(target.qtShown, target.passes), 100.0 * (1.0 - missEleven));
        }
        std::printf("%-6d all targets: %.1f%% of passes shown\n\n", chance,
                    percent(all.shown, all.passes));
    }

    std::printf("%-12s", "shown");
    for (const FormatRow& row : formatTable) {
        std::printf(" %9s", row.title);
    }
    std::printf("\n");
    for (const std::string& kind : kindOrder) {
        std::printf("%-12s", kind.c_str());
        for (const FormatRow& row : formatTable) {
            const auto found = byKind[kind].find(row.title);
            if (found == byKind[kind].end()) {
                std::printf(" %9s", "-");
            } else {
                std::printf(" %8.1f%%", percent(found->second.shown, found->second.passes));
            }
        }
        std::printf("\n");
    }

    std::printf("\nCommonest reasons a damaged file gave nothing:\n");
    for (const FormatRow& row : formatTable) {
        std::vector<std::pair<int, std::string>> reasons;
        for (const auto& [message, count] : failures[row.title]) {
            reasons.emplace_back(count, message);
        }
        std::sort(reasons.rbegin(), reasons.rend());
        reasons.resize(std::min<std::size_t>(reasons.size(), 5));
        for (const auto& [count, message] : reasons) {
            std::printf("  %-9s %5d  %s\n", row.title, count, message.c_str());
        }
    }
    return 0;
}
