#include "RandomBytes.h"
#include "ReferenceModes.h"
#include "core/CorruptionModes.h"
#include "core/RandomSource.h"

#include <QTest>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

using namespace zerbrak;
using Bytes = std::vector<std::uint8_t>;
Q_DECLARE_METATYPE(Bytes)
Q_DECLARE_METATYPE(zerbrak::CorruptionMode)

namespace {

Bytes header(std::uint8_t fill = 0x55) {
    return Bytes(headerGuard, fill);
}

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes rewrite(const Bytes& input) {
    Bytes output(lineBreakRewriteLength(input));
    output.resize(lineBreakRewrite(input, output));
    return output;
}

Bytes referenceRewrite(const Bytes& in) {
    RandomSource unused(1); // the rewrite draws nothing
    return referenceMode(CorruptionMode::LineBreakRewrite, in, {}, unused);
}

} // namespace

class TestCorruptionModes : public QObject {
    Q_OBJECT
private slots:
    void modeChoice_data() {
        QTest::addColumn<QString>("endFormat");
        QTest::addColumn<CorruptionMode>("mode");
        QTest::newRow("bmp") << "bmp" << CorruptionMode::LineBreakRewrite;
        QTest::newRow("png") << "png" << CorruptionMode::SingleByteStrike;
        QTest::newRow("BMP is not bmp") << "BMP" << CorruptionMode::ReplaceAndScatter;
        QTest::newRow("PNG is not png") << "PNG" << CorruptionMode::ReplaceAndScatter;
        QTest::newRow("jpg") << "jpg" << CorruptionMode::ReplaceAndScatter;
        QTest::newRow("tiff") << "tiff" << CorruptionMode::ReplaceAndScatter;
        QTest::newRow("gif") << "gif" << CorruptionMode::ReplaceAndScatter;
        QTest::newRow("jp2") << "jp2" << CorruptionMode::ReplaceAndScatter;
        QTest::newRow("empty") << "" << CorruptionMode::ReplaceAndScatter;
        QTest::newRow("bmp with a dot") << ".bmp" << CorruptionMode::ReplaceAndScatter;
    }
    void modeChoice() {
        QFETCH(QString, endFormat);
        QFETCH(CorruptionMode, mode);
        QCOMPARE(chooseMode(endFormat.toStdString()), mode);
    }

    void lineBreakRewrite_data() {
        QTest::addColumn<Bytes>("input");
        QTest::addColumn<Bytes>("expected");
        QTest::newRow("exactly the header guard") << header() << header();
        QTest::newRow("line feed becomes CR LF")
            << concat(header(), {0x41, 0x0A, 0x42}) << concat(header(), {0x41, 0x0D, 0x0A, 0x42});
        QTest::newRow("CR LF pair doubles")
            << concat(header(), {0x0D, 0x0A}) << concat(header(), {0x0D, 0x0A, 0x0D, 0x0A});
        QTest::newRow("vertical tab becomes CR LF")
            << concat(header(), {0x0B}) << concat(header(), {0x0D, 0x0A});
        QTest::newRow("bell becomes space")
            << concat(header(), {0x07, 0x07}) << concat(header(), {0x20, 0x20});
        Bytes guarded = header();
        guarded[12] = 0x07;
        guarded[39] = 0x0A;
        QTest::newRow("header guard untouched") << guarded << guarded;
        QTest::newRow("fewer than 40 bytes unchanged")
            << Bytes{0x0A, 0x07, 0x0D} << Bytes{0x0A, 0x07, 0x0D};
        QTest::newRow("empty") << Bytes{} << Bytes{};
        Bytes breaks = concat(header(), Bytes(100, 0x0A));
        Bytes doubled = header();
        for (int i = 0; i < 100; ++i) {
            doubled.push_back(0x0D);
            doubled.push_back(0x0A);
        }
        QTest::newRow("all line feeds: 2L - 40") << breaks << doubled;
        // Long enough for the block path, with specials at block edges and in the tail.
        Bytes edges = concat(header(), Bytes(70, 0x61));
        edges[40] = 0x0A;
        edges[55] = 0x0D;
        edges[56] = 0x07;
        edges[71] = 0x0B;
        edges[109] = 0x0A;
        QTest::newRow("block edges and tail") << edges << referenceRewrite(edges);
        const Bytes noise = randomBytes(100'003, 7);
        QTest::newRow("random bytes") << noise << referenceRewrite(noise);
    }
    void lineBreakRewrite() {
        QFETCH(Bytes, input);
        QFETCH(Bytes, expected);
        QCOMPARE(lineBreakRewriteLength(input), expected.size());
        QCOMPARE(rewrite(input), expected);
    }

    void singleByteStrikeHitsTheDrawnPosition_data() {
        QTest::addColumn<std::size_t>("size");
        QTest::newRow("one byte") << std::size_t{1};
        QTest::newRow("forty") << std::size_t{40};
        QTest::newRow("a megabyte and one") << std::size_t{(1U << 20U) + 1U};
    }
    void singleByteStrikeHitsTheDrawnPosition() {
        QFETCH(std::size_t, size);
        for (std::uint32_t seed = 0; seed < 20; ++seed) {
            Bytes buffer(size, 0xAA);
            RandomSource random(seed);
            RandomSource expectedDraws(seed);
            const std::size_t position = expectedDraws.draw() % size;
            const auto value = static_cast<std::uint8_t>(expectedDraws.draw() % 256);
            singleByteStrike(buffer, random);
            Bytes expected(size, 0xAA);
            expected[position] = value;
            QCOMPARE(buffer, expected);
            QCOMPARE(random.draw(), expectedDraws.draw()); // exactly two draws
        }
    }

    void singleByteStrikeOnEmptyDrawsNothing() {
        Bytes empty;
        RandomSource random(3);
        singleByteStrike(empty, random);
        QVERIFY(empty.empty());
        QCOMPARE(random.draw(), RandomSource(3).draw());
    }

    // The density the window shows beside the chance is what the scatter does.
    void scatterIntervalMatchesTheStrikes_data() {
        QTest::addColumn<int>("chance");
        QTest::addColumn<unsigned>("interval");
        QTest::newRow("0") << 0 << 100U;
        QTest::newRow("1") << 1 << 198U;
        QTest::newRow("50") << 50 << 2550U;
        QTest::newRow("98") << 98 << 198U;
        QTest::newRow("99") << 99 << 100U;
        QTest::newRow("100 strikes nothing") << 100 << 0U;
    }
    void scatterIntervalMatchesTheStrikes() {
        QFETCH(int, chance);
        QFETCH(unsigned, interval);
        QCOMPARE(scatterInterval(chance), interval);
        Bytes buffer(16U << 20U, 0);
        RandomSource random(2024);
        GlitchParams params;
        params.chance = chance;
        replaceAndScatter(buffer, params, random);
        // A struck byte keeps its zero one time in 256.
        const auto changed = static_cast<double>(
            std::count_if(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b != 0; }));
        const double expected =
            interval == 0 ? 0.0 : static_cast<double>(buffer.size()) / interval * 255.0 / 256.0;
        QVERIFY2(std::abs(changed - expected) <= expected * 0.03,
                 qPrintable(QStringLiteral("%1 struck, %2 expected").arg(changed).arg(expected)));
    }

    void scatterMatchesTheWalk_data() {
        QTest::addColumn<int>("chance");
        QTest::addColumn<bool>("replace");
        QTest::addColumn<int>("size");
        for (const int chance : {0, 1, 49, 50, 60, 98, 99, 100}) {
            for (const bool replace : {false, true}) {
                for (const int size : {0, 40, 41, 100, 101, 65'537}) {
                    QTest::addRow("chance %d replace %d size %d", chance, int(replace), size)
                        << chance << replace << size;
                }
            }
        }
    }
    void scatterMatchesTheWalk() {
        QFETCH(int, chance);
        QFETCH(bool, replace);
        QFETCH(int, size);
        const GlitchParams params{0x00, 0xEE, replace, chance};
        Bytes input = randomBytes(static_cast<std::size_t>(size), 11);
        for (std::size_t i = 0; i < input.size(); i += 7) {
            input[i] = 0x00; // plenty of from bytes
        }
        Bytes fast = input;
        Bytes slow = input;
        RandomSource fastRandom(99);
        RandomSource slowRandom(99);
        replaceAndScatter(fast, params, fastRandom);
        slow = referenceMode(CorruptionMode::ReplaceAndScatter, slow, params, slowRandom);
        QCOMPARE(fast, slow);
        QCOMPARE(fastRandom.draw(), slowRandom.draw()); // same number of draws
    }

    void scatterChanceZeroStrikesEveryHundredth() {
        Bytes buffer(1000, 0x11);
        RandomSource random(5);
        RandomSource expectedDraws(5);
        replaceAndScatter(buffer, {0, 0, false, 0}, random);
        for (std::size_t i = 0; i < buffer.size(); ++i) {
            if (i >= 100 && i % 100 == 0) {
                expectedDraws.draw(); // the odds draw; 1 in 1 always strikes
                QCOMPARE(buffer[i], static_cast<std::uint8_t>(expectedDraws.draw() % 256));
            } else {
                QCOMPARE(buffer[i], std::uint8_t{0x11});
            }
        }
    }

    void scatterChanceHundredReplacesOnlyFirstPosition() {
        Bytes buffer(200, 0x33);
        RandomSource random(8);
        replaceAndScatter(buffer, {0x33, 0x44, true, 100}, random);
        Bytes expected(200, 0x33);
        expected[40] = 0x44;
        QCOMPARE(buffer, expected);
        QCOMPARE(random.draw(), RandomSource(8).draw()); // drew nothing
    }

    void scatterReplacesFromTheGuardOn() {
        Bytes buffer(5000, 0x00);
        RandomSource random(2);
        replaceAndScatter(buffer, {0x00, 0x7F, true, 99}, random);
        QCOMPARE(buffer[39], std::uint8_t{0x00});
        int untouched = 0;
        for (std::size_t i = headerGuard; i < buffer.size(); ++i) {
            untouched += buffer[i] == 0x00 ? 1 : 0;
        }
        // Only a struck byte can hold 0x00 again, and then only 1 time in 256.
        QVERIFY2(untouched < 5, qPrintable(QString::number(untouched)));
    }

    void randomSourceIsPinned() {
        // The sequence is part of what a seed promises: it must never change.
        RandomSource zero(0);
        RandomSource one(1);
        const std::uint32_t firstZero[] = {zero.draw(), zero.draw(), zero.draw()};
        const std::uint32_t firstOne[] = {one.draw(), one.draw(), one.draw()};
        QCOMPARE(firstZero[0], 0x6f64822eU);
        QCOMPARE(firstZero[1], 0x4d044ebaU);
        QCOMPARE(firstZero[2], 0x55bbe9b1U);
        QCOMPARE(firstOne[0], 0x3284a0ddU);
        QVERIFY(firstOne[1] != firstZero[1]);
    }

    void randomDrawsCoverTheRange() {
        RandomSource random(12345);
        std::uint32_t highest = 0;
        for (int i = 0; i < 100'000; ++i) {
            const std::uint32_t d = random.draw();
            QVERIFY(d <= RandomSource::maxDraw);
            highest = std::max(highest, d);
        }
        // Far beyond 32767: a strike can land anywhere in a large file.
        QVERIFY(highest > RandomSource::maxDraw - RandomSource::maxDraw / 1000);
    }
};

QTEST_APPLESS_MAIN(TestCorruptionModes)
#include "tst_corruption_modes.moc"
