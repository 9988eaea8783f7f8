#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run runCli(const QStringList& arguments, const QString& home = {}) {
    QProcess process;
    if (!home.isEmpty()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home);
        environment.insert("XDG_RUNTIME_DIR", home);
        process.setProcessEnvironment(environment);
    }
    process.start(QStringLiteral(ZERBRAK_CLI_PATH), arguments);
    if (!process.waitForFinished(60'000)) {
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2,
            QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

QByteArray lineBreakHeavy(int size) {
    QByteArray bytes(size, 'a');
    for (int i = 0; i < size; i += 3) {
        bytes[i] = '\n';
    }
    return bytes;
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir_;
    QString path(const QString& name) const { return dir_.filePath(name); }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        writeFile(path("in.jpg"), QByteArray(30'000, 'j'));
    }

    void sameSeedSameBytesAcrossRuns() {
        const QStringList options{"--seed", "9", "--chance", "0"};
        const Run first = runCli(QStringList{"pass", path("in.jpg"), path("a.jpg")} + options);
        const Run second = runCli(QStringList{"pass", path("in.jpg"), path("b.jpg")} + options);
        const Run other =
            runCli({"pass", path("in.jpg"), path("c.jpg"), "--seed", "10", "--chance", "0"});
        QCOMPARE(first.exitCode, 0);
        QCOMPARE(second.exitCode, 0);
        QCOMPARE(readFile(path("a.jpg")), readFile(path("b.jpg")));
        QVERIFY(readFile(path("a.jpg")) != readFile(path("c.jpg")));
        QVERIFY(readFile(path("a.jpg")) != readFile(path("in.jpg")));
    }

    void writtenPathOnStdoutLogOnStderr() {
        const Run run = runCli({"pass", path("in.jpg"), path("out.jpg")});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, path("out.jpg") + "\n");
        QVERIFY(run.err.contains("dostuff endFormat: jpg\n"));
        QVERIFY(run.err.contains("dostuff inPath: " + path("in.jpg") + "\n"));
        QVERIFY(run.err.contains("dostuff outFileName: " + path("out.jpg") + "\n"));
    }

    void formatPicksTheMode_data() {
        QTest::addColumn<QString>("inputName");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("grows");
        QTest::newRow("bmp extension rewrites") << "lines.bmp" << QStringList{} << true;
        QTest::newRow("BMP extension scatters") << "lines.BMP" << QStringList{} << false;
        QTest::newRow("--format bmp rewrites")
            << "lines.dat" << QStringList{"--format", "bmp"} << true;
        QTest::newRow("--format overrides")
            << "lines2.bmp" << QStringList{"--format", "jpg"} << false;
    }
    void formatPicksTheMode() {
        QFETCH(QString, inputName);
        QFETCH(QStringList, options);
        QFETCH(bool, grows);
        writeFile(path(inputName), lineBreakHeavy(3000));
        const Run run = runCli(QStringList{"pass", path(inputName), path("mode.out")} + options);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(readFile(path("mode.out")).size() > 3000, grows);
    }

    void badArguments_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        const QString in = "IN";
        QTest::newRow("no command") << QStringList{} << "no command";
        QTest::newRow("unknown command") << QStringList{"smash"} << "unknown command";
        QTest::newRow("no files") << QStringList{"pass"} << "INPUT and an OUTPUT";
        QTest::newRow("one file") << QStringList{"pass", in} << "INPUT and an OUTPUT";
        QTest::newRow("three files") << QStringList{"pass", in, "b", "c"} << "one INPUT";
        QTest::newRow("chance above 100")
            << QStringList{"pass", in, "o", "--chance", "101"} << "--chance";
        QTest::newRow("chance below 0")
            << QStringList{"pass", in, "o", "--chance", "-1"} << "--chance";
        QTest::newRow("chance not a number")
            << QStringList{"pass", in, "o", "--chance", "half"} << "--chance";
        QTest::newRow("seed not a number")
            << QStringList{"pass", in, "o", "--seed", "12x"} << "--seed";
        QTest::newRow("from not a number")
            << QStringList{"pass", in, "o", "--from", "0x10"} << "--from";
        QTest::newRow("unknown option") << QStringList{"pass", in, "o", "--loud"} << "loud";
        QTest::newRow("missing option value") << QStringList{"pass", in, "o", "--to"} << "to";
    }
    void badArguments() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        for (QString& argument : arguments) {
            if (argument == "IN") {
                argument = path("in.jpg");
            }
        }
        const Run run = runCli(arguments);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QVERIFY(run.out.isEmpty());
    }

    void unwritableOutputNamesThePath() {
        const QString out = path("missing/folder/x.jpg");
        const Run run = runCli({"pass", path("in.jpg"), out});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(out), qPrintable(run.err));
        QVERIFY(run.out.isEmpty());
    }

    void unreadableInputIsAnError() {
        const Run run = runCli({"pass", path("absent.jpg"), path("x.jpg")});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.err.contains(path("absent.jpg")));
    }

    void helpDocumentsEverything() {
        const Run top = runCli({"--help"});
        QCOMPARE(top.exitCode, 0);
        QVERIFY(top.out.contains("pass INPUT OUTPUT"));
        const Run pass = runCli({"pass", "--help"});
        QCOMPARE(pass.exitCode, 0);
        for (const char* option :
             {"--format", "--seed", "--from", "--to", "--replace", "--chance"}) {
            QVERIFY2(pass.out.contains(QLatin1String(option)), option);
        }
    }

    void framesWritesTheSeries() {
        const QString home = path("home");
        QDir().mkpath(home);
        QImage picture(40, 30, QImage::Format_RGB32);
        picture.fill(Qt::red);
        QVERIFY(picture.save(path("red.bmp")));
        const Run run =
            runCli({"frames", path("red.bmp"), "--count", "3", "--chance", "100"}, home);
        QCOMPARE(run.exitCode, 0);
        const QStringList printed = run.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(printed.size(), 3);
        const QString folder = home + "/Documents/zerbrak/";
        const QString runNumber = printed[0].mid(folder.size()).chopped(QString("0.bmp").size());
        for (int frame = 0; frame < 3; ++frame) {
            QCOMPARE(printed[frame], folder + runNumber + QString::number(frame) + ".bmp");
            QVERIFY(QFile::exists(printed[frame]));
        }
        QVERIFY(run.err.contains("3 of 3 frames kept"));
    }

    void framesTranscodes() {
        const QString home = path("home2");
        QDir().mkpath(home);
        const Run run = runCli({"frames", "--transcode", "TIFF", "--chance", "100"}, home);
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.trimmed().endsWith(".tiff"), qPrintable(run.out));
        QVERIFY(run.err.contains("Transcoding to tiff"));
        QVERIFY(QFile::exists(home + "/zerbrak/TEMP.tiff"));
    }

    void framesRefusesUnknownTitles_data() {
        QTest::addColumn<QString>("title");
        QTest::newRow("lower case") << "png";
        QTest::newRow("unknown") << "WEBP";
    }
    void framesRefusesUnknownTitles() {
        QFETCH(QString, title);
        const Run run = runCli({"frames", "--transcode", title}, path("home"));
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.err.contains("JPG 2000"));
    }

    void checkReportsEachFile() {
        QImage picture(20, 10, QImage::Format_RGB32);
        picture.fill(Qt::blue);
        QVERIFY(picture.save(path("blue.png")));
        writeFile(path("noise.png"), QByteArray(500, 'n'));
        const Run good = runCli({"check", path("blue.png")});
        QCOMPARE(good.exitCode, 0);
        QCOMPARE(good.out, path("blue.png") + "\tok 20x10\n");
        const Run mixed = runCli({"check", path("blue.png"), path("noise.png")});
        QCOMPARE(mixed.exitCode, 1);
        QVERIFY(mixed.out.contains(path("noise.png") + "\tundecodable: "));
        QCOMPARE(runCli({"check"}).exitCode, 2);
    }

    void lowBitsOfByteValues() {
        // --from 256 looks for 0x00 and --to -1 writes 0xFF; chance 100 scatters nothing.
        QByteArray input(100, '\0');
        writeFile(path("zeros.jpg"), input);
        const Run run = runCli({"pass", path("zeros.jpg"), path("ff.jpg"), "--replace", "--from",
                                "256", "--to", "-1", "--chance", "99"});
        QCOMPARE(run.exitCode, 0);
        const QByteArray output = readFile(path("ff.jpg"));
        QCOMPARE(output.left(40), input.left(40));
        QVERIFY(output.count('\xFF') >= 55);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
