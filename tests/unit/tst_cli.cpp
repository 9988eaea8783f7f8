#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <grp.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs zerbrak-cli; `childSetup` runs in the child before the program starts. "<FE>" in an
// argument stands for the byte 0xFE, which a QString argument cannot carry: bash puts the byte
// in its place as it starts the tool.
Run runCli(const QStringList& arguments, const QString& home = {},
           const std::function<void()>& childSetup = {}) {
    QProcess process;
    if (!home.isEmpty()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home);
        environment.insert("XDG_RUNTIME_DIR", home);
        process.setProcessEnvironment(environment);
    }
    if (childSetup) {
        process.setChildProcessModifier(childSetup);
    }
    if (arguments.join(QChar(0)).contains("<FE>")) {
        process.start("bash",
                      QStringList{"-c",
                                  R"(a=(); for x in "$@"; do a+=("${x//<FE>/$'\xfe'}"); done; )"
                                  R"(exec "${a[@]}")",
                                  "bash", QStringLiteral(ZERBRAK_CLI_PATH)} +
                          arguments);
    } else {
        process.start(QStringLiteral(ZERBRAK_CLI_PATH), arguments);
    }
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
        writeFile(path("junk.png"), QByteArray(500, 'n'));
        QVERIFY(QFile::link(path("in.jpg"), path("link.jpg")));
        QCOMPARE(::link(QFile::encodeName(path("in.jpg")).constData(),
                        QFile::encodeName(path("hard.jpg")).constData()),
                 0);
    }

    // Words standing for files of the test folder.
    QStringList withPaths(QStringList arguments) const {
        for (QString& argument : arguments) {
            if (argument == "IN" || argument == "LINK" || argument == "HARD" ||
                argument == "JUNK") {
                argument = path(argument == "IN"     ? "in.jpg"
                                : argument == "LINK" ? "link.jpg"
                                : argument == "HARD" ? "hard.jpg"
                                                     : "junk.png");
            }
        }
        return arguments;
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
        const Run quiet = runCli({"pass", path("in.jpg"), path("out.jpg")});
        QCOMPARE(quiet.exitCode, 0);
        QCOMPARE(quiet.out, path("out.jpg") + "\n");
        QCOMPARE(quiet.err, QString());
        const Run run = runCli({"pass", "--verbose", path("in.jpg"), path("out.jpg")});
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
        QTest::newRow("unknown option before a command")
            << QStringList{"--bogus", "pass"} << "option --bogus is unknown";
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
        // Out of range is refused, never cut to the low bits.
        QTest::newRow("from above 255")
            << QStringList{"pass", in, "o", "--from", "256"} << "--from";
        QTest::newRow("to below 0") << QStringList{"pass", in, "o", "--to", "-1"} << "--to";
        QTest::newRow("seed below 0") << QStringList{"pass", in, "o", "--seed", "-1"} << "--seed";
        QTest::newRow("count beyond 32 bits")
            << QStringList{"frames", in, "--count", "4294967297"} << "--count";
        QTest::newRow("count 0") << QStringList{"frames", in, "--count", "0"} << "--count";
        QTest::newRow("count above a million")
            << QStringList{"frames", in, "--count", "1000001"} << "between 1 and 1000000";
        QTest::newRow("unknown option")
            << QStringList{"pass", in, "o", "--loud"} << "option --loud is unknown";
        QTest::newRow("missing option value")
            << QStringList{"pass", in, "o", "--to"} << "option --to needs a value";
        QTest::newRow("batch without DEST_DIR") << QStringList{"batch", in} << "DEST_DIR";
        // Qt's options are not the tool's.
        QTest::newRow("--help-all")
            << QStringList{"pass", "--help-all"} << "option --help-all is unknown";
        QTest::newRow("unknown transcode target")
            << QStringList{"pass", in, "o", "--transcode", "webp"}
            << "\"PNG\", \"BMP\", \"JPG\", \"TIFF\", \"GIF\", \"JPG 2000\", or an extension: "
               "png, bmp, jpg, tiff, tif, gif, jp2 (any case), not \"webp\"";
        const QString self = "OUTPUT is the INPUT file itself; add --in-place";
        QTest::newRow("OUTPUT is INPUT") << QStringList{"pass", in, in} << self;
        QTest::newRow("OUTPUT links to INPUT") << QStringList{"pass", in, "LINK"} << self;
        QTest::newRow("OUTPUT is a hard link") << QStringList{"pass", "HARD", in} << self;
        // <FE> stands for that byte: such a name cannot pass through text unchanged.
        const QString noText = "is not valid UTF-8; zerbrak-cli handles only file names";
        QTest::newRow("OUTPUT not valid UTF-8")
            << QStringList{"pass", in, "c<FE>.png"} << "\"c\\xFE.png\" " + noText;
        QTest::newRow("INPUT not valid UTF-8")
            << QStringList{"pass", "in<FE>.jpg", "o"} << "\"in\\xFE.jpg\" " + noText;
    }
    // One line saying what is wrong, then the command's usage line; nothing is written.
    void badArguments() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const QByteArray before = readFile(path("in.jpg"));
        const QStringList resolved = withPaths(arguments);
        const Run run = runCli(resolved);
        QCOMPARE(run.exitCode, 2);
        const QStringList lines = run.err.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].startsWith("zerbrak-cli: ") && lines[0].contains(message),
                 qPrintable(run.err));
        const QString command = QStringList{"pass", "frames", "batch"}.contains(arguments.value(0))
                                    ? arguments[0]
                                    : "COMMAND";
        QVERIFY2(lines[1].startsWith("Usage: zerbrak-cli " + command), qPrintable(run.err));
        QVERIFY(run.out.isEmpty());
        QCOMPARE(readFile(path("in.jpg")), before);
    }

    // Every other outcome a script tells apart by the exit code alone; stderr holds only the
    // tool's own lines.
    void exitCodes_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("err");
        QTest::addColumn<QString>("out");
        QTest::newRow("--version") << QStringList{"--version"} << 0 << ""
                                   << "^zerbrak-cli \\d+\\.";
        QTest::newRow("--version before a command")
            << QStringList{"--version", "pass", "IN"} << 0 << ""
            << "^zerbrak-cli \\d+\\.";
        QTest::newRow("pass written") << QStringList{"pass", "IN", "fresh.jpg"} << 0 << ""
                                      << "fresh";
        QTest::newRow("--in-place through a link")
            << QStringList{"pass", "IN", "LINK", "--in-place", "--chance", "0"} << 0 << ""
            << "link.jpg";
        QTest::newRow("check --verbose") << QStringList{"check", "--verbose", "JUNK"} << 1 << ""
                                         << "undecodable";
        // A command's help names the tool as a person types it and lists only its options.
        const QString onlyOurs = "(?![\\s\\S]*(help-all|/zerbrak-cli))";
        QTest::newRow("pass --help") << QStringList{"pass", "--help"} << 0 << ""
                                     << "^Usage: zerbrak-cli \\[options\\] pass INPUT" + onlyOurs;
        QTest::newRow("frames --help") << QStringList{"frames", "--help"} << 0 << ""
                                       << "^Usage: zerbrak-cli \\[options\\] frames" + onlyOurs;
        QTest::newRow("batch --help") << QStringList{"batch", "--help"} << 0 << ""
                                      << "^Usage: zerbrak-cli \\[options\\] batch" + onlyOurs;
        QTest::newRow("check --help") << QStringList{"check", "--help"} << 0 << ""
                                      << "^Usage: zerbrak-cli \\[options\\] check" + onlyOurs;
        QTest::newRow("frames given up")
            << QStringList{"frames", "JUNK", "--count", "2"} << 3
            << "zerbrak-cli: 2 of 2 frames given up after 11 undecodable passes each\n"
            << "^$";
        QTest::newRow("output not writable")
            << QStringList{"pass", "IN", "no/such/folder.jpg"} << 1 << "no/such/folder.jpg"
            << "^$";
    }
    void exitCodes() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, err);
        QFETCH(QString, out);
        QStringList resolved = withPaths(arguments);
        for (QString& argument : resolved) {
            if (argument.endsWith(".jpg") && !argument.startsWith('/')) {
                argument = path(argument);
            }
        }
        const QByteArray before = readFile(path("in.jpg"));
        const QString home = path("home-codes");
        QDir().mkpath(home);
        const Run run = runCli(resolved, home);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.contains(err), qPrintable(run.err));
        for (const QString& line : run.err.split('\n', Qt::SkipEmptyParts)) {
            QVERIFY2(line.startsWith("zerbrak-cli: "), qPrintable(run.err));
        }
        QVERIFY2(QRegularExpression(out).match(run.out).hasMatch(), qPrintable(run.out));
        if (resolved.contains("--in-place")) {
            QVERIFY(readFile(path("in.jpg")) != before);
            writeFile(path("in.jpg"), before);
        }
    }

    void unwritableOutputNamesThePath() {
        const QString out = path("missing/folder/x.jpg");
        const Run run = runCli({"pass", path("in.jpg"), out});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(out), qPrintable(run.err));
        QVERIFY(run.out.isEmpty());
    }

    void unusableInputIsAnError_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing, pass") << "pass"
                                       << "absent.jpg"
                                       << "No such file or directory";
        QTest::newRow("folder, pass") << "pass"
                                      << "folder.jpg"
                                      << "it is a folder, not a regular file";
        QTest::newRow("folder, frames") << "frames"
                                        << "folder.jpg"
                                        << "it is a folder, not a regular file";
        QTest::newRow("named pipe, frames") << "frames"
                                            << "pipe.jpg"
                                            << "it is a named pipe (FIFO), not a regular file";
        QTest::newRow("file, batch") << "batch"
                                     << "in.jpg"
                                     << "it is not a folder";
        QTest::newRow("missing, batch") << "batch"
                                        << "absent"
                                        << "No such file or directory";
    }
    void unusableInputIsAnError() {
        QFETCH(QString, command);
        QFETCH(QString, name);
        QFETCH(QString, reason);
        QDir().mkpath(path("folder.jpg"));
        if (!QFileInfo::exists(path("pipe.jpg"))) {
            QCOMPARE(::mkfifo(QFile::encodeName(path("pipe.jpg")).constData(), 0600), 0);
        }
        const QString home = path("home-" + command + "-" + name);
        QDir().mkpath(home);
        QStringList arguments{command, path(name)};
        if (command == "pass") {
            arguments << path("x.jpg");
        } else if (command == "batch") {
            arguments << home;
        }
        const Run run = runCli(arguments, home);
        QCOMPARE(run.exitCode, 1);
        const QString verb = command == "batch" ? "Cannot list " : "Cannot read ";
        QVERIFY2(run.err.contains(verb + path(name) + ": " + reason + "."), qPrintable(run.err));
        QVERIFY(run.out.isEmpty());
        QVERIFY(!QFile::exists(path("x.jpg")));
        QCOMPARE(QDir(home).entryList(QDir::Files).size(), 0);
        QVERIFY(!QDir(home + "/Documents/zerbrak").exists() ||
                QDir(home + "/Documents/zerbrak").isEmpty());
    }

    void existingOutputKeepsItsFile_data() {
        QTest::addColumn<bool>("readOnlyFolder");
        QTest::addColumn<int>("mode");
        QTest::newRow("mode 0640 kept") << false << 0640;
        QTest::newRow("read-only folder, written in place") << true << 0644;
    }
    void existingOutputKeepsItsFile() {
        QFETCH(bool, readOnlyFolder);
        QFETCH(int, mode);
        const QString folder = path(readOnlyFolder ? "read-only" : "writable");
        QVERIFY(QDir().mkpath(folder));
        const QString outPath = folder + "/out.jpg";
        const QByteArray out = QFile::encodeName(outPath);
        writeFile(outPath, "old");
        QCOMPARE(::chmod(out.constData(), static_cast<mode_t>(mode)), 0);
        std::function<void()> childSetup;
        if (readOnlyFolder) {
            QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0555), 0);
            if (::geteuid() == 0) {
                // Root writes anywhere: the pass runs as nobody, who owns only the file.
                constexpr uid_t nobody = 65534;
                QCOMPARE(::chown(out.constData(), nobody, nobody), 0);
                QCOMPARE(::chmod(QFile::encodeName(dir_.path()).constData(), 0755), 0);
                childSetup = [] {
                    if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 ||
                        ::setuid(nobody) != 0) {
                        ::_exit(125);
                    }
                };
            }
        }
        struct stat before {};
        QCOMPARE(::stat(out.constData(), &before), 0);
        const QStringList options{"--seed", "3", "--chance", "0"};
        const Run run =
            runCli(QStringList{"pass", path("in.jpg"), outPath} + options, {}, childSetup);
        ::chmod(QFile::encodeName(folder).constData(), 0755);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(runCli(QStringList{"pass", path("in.jpg"), path("keep.ref")} + options).exitCode,
                 0);
        QCOMPARE(readFile(outPath), readFile(path("keep.ref")));
        struct stat after {};
        QCOMPARE(::stat(out.constData(), &after), 0);
        QCOMPARE(after.st_mode & 07777, static_cast<mode_t>(mode));
        if (readOnlyFolder) {
            QCOMPARE(after.st_ino, before.st_ino); // the same file, rewritten
        }
    }

    void helpDocumentsEverything() {
        const Run top = runCli({"--help"});
        QCOMPARE(top.exitCode, 0);
        QVERIFY(top.out.contains("pass INPUT OUTPUT"));
        QVERIFY(top.out.contains("batch SOURCE_DIR DEST_DIR"));
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

    // The first entry's extension picks the mode for all of them unless --format says otherwise.
    void batchWritesEveryEntry_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("grow");
        QTest::newRow("first entry's format") << QStringList{} << true;
        QTest::newRow("--format") << QStringList{"--format", "jpg"} << false;
    }
    void batchWritesEveryEntry() {
        QFETCH(QStringList, options);
        QFETCH(bool, grow);
        const QString source = path(QString("batch-in-%1").arg(grow));
        const QString destination = path(QString("batch-out-%1").arg(grow));
        QVERIFY(QDir().mkpath(source + "/sub"));
        QVERIFY(QDir().mkpath(destination));
        writeFile(source + "/a.bmp", lineBreakHeavy(3000));
        writeFile(source + "/b.dat", lineBreakHeavy(3000));
        writeFile(destination + "/b.dat", "taken");
        const Run run = runCli(QStringList{"batch", source + "/", destination} + options);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, destination + "/a.bmp\n" + destination + "/0b.dat\n");
        QVERIFY2(run.err.contains("skipped: Cannot read " + source + "/sub: it is a folder"),
                 qPrintable(run.err));
        QCOMPARE(readFile(destination + "/a.bmp").size() > 3000, grow);
        QCOMPARE(readFile(destination + "/0b.dat").size() > 3000, grow);
        QCOMPARE(readFile(destination + "/b.dat"), QByteArray("taken"));
    }

    // Runs started together choose the same free names: frame series in one home (one run
    // number, from the clock), batches from one folder into one destination, which is the
    // frames' folder too. Each must keep every file it says it wrote.
    void parallelRunsKeepEveryFile() {
        const QString home = path("home-parallel");
        const QString folder = home + "/Documents/zerbrak";
        const QString source = path("parallel-source");
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QDir().mkpath(source));
        // PNG bytes whose extension picks replace and scatter, at a chance that strikes none:
        // every frame decodes at its first pass.
        QImage picture(16, 16, QImage::Format_RGB32);
        picture.fill(Qt::yellow);
        QVERIFY(picture.save(path("parallel.dat"), "PNG"));
        constexpr int entries = 8;
        for (int entry = 0; entry < entries; ++entry) {
            QVERIFY(QFile::copy(path("parallel.dat"), source + QString("/%1.dat").arg(entry)));
        }
        const QStringList frames{"frames", path("parallel.dat"), "--count", "3", "--chance", "100"};
        const QStringList batch{"batch", source, folder, "--chance", "100"};
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home);
        environment.insert("XDG_RUNTIME_DIR", home);
        std::vector<std::unique_ptr<QProcess>> runs;
        for (int run = 0; run < 9; ++run) {
            auto process = std::make_unique<QProcess>();
            process->setProcessEnvironment(environment);
            process->start(QStringLiteral(ZERBRAK_CLI_PATH), run < 6 ? frames : batch);
            runs.push_back(std::move(process));
        }
        QStringList printed;
        for (const auto& process : runs) {
            QVERIFY(process->waitForFinished(60'000));
            QCOMPARE(process->exitCode(), 0);
            printed << QString::fromLocal8Bit(process->readAllStandardOutput())
                           .split('\n', Qt::SkipEmptyParts);
        }
        QCOMPARE(printed.size(), 6 * 3 + 3 * entries);
        printed.removeDuplicates();
        QCOMPARE(printed.size(), 6 * 3 + 3 * entries);
        for (const QString& written : printed) {
            QVERIFY2(QFileInfo(written).isFile(), qPrintable(written));
        }
        // Nothing else either: no temporary left behind.
        QCOMPARE(
            QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(),
            printed.size());
    }

    void framesCallsInOneSecondKeepEveryFrame() {
        const QString home = path("home-five");
        QDir().mkpath(home);
        QImage picture(16, 16, QImage::Format_RGB32);
        picture.fill(Qt::green);
        QVERIFY(picture.save(path("green.png")));
        QStringList printed;
        for (int call = 0; call < 5; ++call) {
            const Run run =
                runCli({"frames", path("green.png"), "--count", "1", "--chance", "100"}, home);
            QCOMPARE(run.exitCode, 0);
            printed << run.out.trimmed();
        }
        printed.removeDuplicates();
        QCOMPARE(printed.size(), 5);
        QCOMPARE(QDir(home + "/Documents/zerbrak").entryList(QDir::Files).size(), 5);
    }

    void framesTranscodes() {
        const QString home = path("home2");
        QDir().mkpath(home);
        const Run run =
            runCli({"frames", "--verbose", "--transcode", "TIFF", "--chance", "100"}, home);
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.trimmed().endsWith(".tiff"), qPrintable(run.out));
        QVERIFY(run.err.contains("Transcoding to tiff"));
        QVERIFY(QFile::exists(home + "/zerbrak/TEMP.tiff"));
    }

    void framesRefusesUnknownTitles_data() {
        QTest::addColumn<QString>("title");
        QTest::newRow("unknown") << "WEBP";
        QTest::newRow("extension with a dot") << ".png";
    }
    void framesRefusesUnknownTitles() {
        QFETCH(QString, title);
        const Run run = runCli({"frames", "--transcode", title}, path("home"));
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.err.contains("JPG 2000"));
    }

    // A pop-up title or an extension, in any case, names its target; the re-encode's
    // extension is put on OUTPUT.
    void transcodeTakesTitlesAndExtensions_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("extension");
        QTest::newRow("title") << "JPG 2000"
                               << ".jp2";
        QTest::newRow("title, lower case") << "jpg 2000"
                                           << ".jp2";
        QTest::newRow("jpg") << "jpg"
                             << ".jpg";
        QTest::newRow("JP2") << "JP2"
                             << ".jp2";
        QTest::newRow("tif") << "tif"
                             << ".tiff";
        QTest::newRow("Png") << "Png"
                             << ".png";
    }
    void transcodeTakesTitlesAndExtensions() {
        QFETCH(QString, target);
        QFETCH(QString, extension);
        QImage picture(24, 16, QImage::Format_RGB32);
        picture.fill(Qt::magenta);
        QVERIFY(picture.save(path("magenta.bmp")));
        const QString out = path("transcoded.out");
        const Run run =
            runCli({"pass", path("magenta.bmp"), out, "--transcode", target, "--chance", "100"},
                   path("home"));
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, out + extension + "\n");
        QVERIFY(QFile::exists(out + extension));
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

    // Each line's figures are its own file's: one the decoder never saw has none, rather than
    // the figures of the file before it.
    void checkStatsPerFile() {
        QImage picture(20, 10, QImage::Format_RGB32);
        picture.fill(Qt::yellow);
        QVERIFY(picture.save(path("yellow.png")));
        if (!QFileInfo::exists(path("pipe.jpg"))) {
            QCOMPARE(::mkfifo(QFile::encodeName(path("pipe.jpg")).constData(), 0600), 0);
        }
        const Run run = runCli({"check", "--stats", path("yellow.png"), path("absent.png"),
                                path("pipe.jpg"), path("yellow.png")});
        QCOMPARE(run.exitCode, 1);
        const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4);
        const QRegularExpression figures("\tok 20x10\t\\d+\\.\\d\t\\d+$");
        QVERIFY2(figures.match(lines[0]).hasMatch(), qPrintable(lines[0]));
        QVERIFY2(lines[1].startsWith(path("absent.png") + "\tundecodable: ") &&
                     lines[1].endsWith("\t-\t-"),
                 qPrintable(lines[1]));
        QVERIFY2(lines[2].startsWith(path("pipe.jpg") + "\tundecodable: ") &&
                     lines[2].endsWith("\t-\t-"),
                 qPrintable(lines[2]));
        QVERIFY2(figures.match(lines[3]).hasMatch(), qPrintable(lines[3]));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
