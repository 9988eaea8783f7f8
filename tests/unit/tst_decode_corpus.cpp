// Every file of the damaged corpus must come out as expected.tsv says: whole, partial or
// not a picture at all.

#include "codec/Decode.h"

#include <QFile>
#include <QTest>

namespace {

QString corpusPath(const QString& name) {
    return QStringLiteral(ZERBRAK_DECODE_FIXTURES "/") + name;
}

} // namespace

class TestDecodeCorpus : public QObject {
    Q_OBJECT

private slots:
    void outcome_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("expected");
        QFile list(corpusPath(QStringLiteral("expected.tsv")));
        QVERIFY2(list.open(QIODevice::ReadOnly | QIODevice::Text), "expected.tsv is missing");
        int rows = 0;
        while (!list.atEnd()) {
            const QString line = QString::fromUtf8(list.readLine()).trimmed();
            if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
                continue;
            }
            const QStringList fields = line.split(QLatin1Char('\t'));
            QCOMPARE(fields.size(), 2);
            QTest::newRow(qPrintable(fields[0])) << fields[0] << fields[1];
            ++rows;
        }
        QVERIFY(rows > 30);
    }

    void outcome() {
        QFETCH(QString, file);
        QFETCH(QString, expected);
        QVERIFY2(QFile::exists(corpusPath(file)), qPrintable(file + QStringLiteral(" missing")));
        const zerbrak::DecodeResult result = zerbrak::decodeImageFile(corpusPath(file));
        const QString outcome = !result.isValid() ? QStringLiteral("undecodable")
                                : result.partial  ? QStringLiteral("partial")
                                                  : QStringLiteral("decodes");
        QVERIFY2(
            outcome == expected,
            qPrintable(QStringLiteral("%1 came out %2 (%3)").arg(file, outcome, result.message)));
        if (outcome == QStringLiteral("undecodable") || outcome == QStringLiteral("partial")) {
            QVERIFY2(!result.message.isEmpty(), "damage must be explained");
        }
        if (result.isValid()) {
            QVERIFY(result.image.format() == QImage::Format_RGB32 ||
                    result.image.format() == QImage::Format_ARGB32);
        }
    }
};

QTEST_GUILESS_MAIN(TestDecodeCorpus)
#include "tst_decode_corpus.moc"
