#include "core/TextValues.h"

#include <QTest>
#include <cstdint>
#include <limits>

using namespace zerbrak;

class TestTextValues : public QObject {
    Q_OBJECT
private slots:
    void integerValue_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("value");
        QTest::newRow("plain") << "42" << qint64{42};
        QTest::newRow("leading blanks") << "  \t17" << qint64{17};
        QTest::newRow("negative") << "-1" << qint64{-1};
        QTest::newRow("plus sign") << "+7" << qint64{7};
        QTest::newRow("trailing letters") << "12abc" << qint64{12};
        QTest::newRow("letters only") << "abc" << qint64{0};
        QTest::newRow("letter then digits") << "a12" << qint64{0};
        QTest::newRow("empty") << "" << qint64{0};
        QTest::newRow("sign only") << "-" << qint64{0};
        QTest::newRow("beyond 32 bits") << "4294967297" << qint64{4294967297};
        QTest::newRow("largest") << "9223372036854775807" << std::numeric_limits<qint64>::max();
        QTest::newRow("smallest") << "-9223372036854775808" << std::numeric_limits<qint64>::min();
        QTest::newRow("too large stops at the top")
            << "99999999999999999999" << std::numeric_limits<qint64>::max();
        QTest::newRow("too small stops at the bottom")
            << "-99999999999999999999" << std::numeric_limits<qint64>::min();
    }
    void integerValue() {
        QFETCH(QString, text);
        QFETCH(qint64, value);
        QCOMPARE(zerbrak::integerValue(text.toStdString()), value);
    }

    void widths() {
        QCOMPARE(low32(-1), 4294967295U);
        QCOMPARE(low32(4294967297), 1U);
        QCOMPARE(low8(256), std::uint8_t{0});
        QCOMPARE(low8(300), std::uint8_t{44});
        QCOMPARE(low8(-1), std::uint8_t{255});
        QCOMPARE(low32Signed(4294967295), -1);
    }

    void pathExtension_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("extension");
        QTest::newRow("simple") << "/home/a/photo.jpg"
                                << "jpg";
        QTest::newRow("case kept") << "/home/a/Photo.PNG"
                                   << "PNG";
        QTest::newRow("last dot") << "archive.tar.gz"
                                  << "gz";
        QTest::newRow("no dot") << "/home/a/picture"
                                << "";
        QTest::newRow("dots only in folders") << "/home/a.b/c.d/picture"
                                              << "";
        QTest::newRow("trailing slash") << "/home/a/pic.tiff/"
                                        << "tiff";
        QTest::newRow("ends in a dot") << "name."
                                       << "";
        QTest::newRow("spaces") << "/x/Salt and Tinder.jpg"
                                << "jpg";
    }
    void pathExtension() {
        QFETCH(QString, path);
        QFETCH(QString, extension);
        const std::string utf8 = path.toStdString();
        QCOMPARE(QString::fromStdString(std::string(zerbrak::pathExtension(utf8))), extension);
    }
};

QTEST_APPLESS_MAIN(TestTextValues)
#include "tst_text_values.moc"
