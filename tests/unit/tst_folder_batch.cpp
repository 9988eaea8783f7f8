#include "TestFiles.h"
#include "glitch/InputOrigin.h"
#include "platform/Desktop.h"
#include "platform/Log.h"
#include "platform/ScratchFolder.h"
#include "runs/FolderBatch.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using namespace zerbrak;
Q_DECLARE_METATYPE(zerbrak::TranscodeTarget)

namespace {

// A desktop whose folder panels give scripted answers, and which can stop the batch.
class ScriptedDesktop final : public Desktop {
public:
    void showImage(const QImage& image) override { shown.append(image); }
    void alertOutputFailed(const QString& outputPath, const QString&) override {
        alerts.append(outputPath);
    }
    void alertRunFailed(const QString& message) override { failures.append(message); }
    bool batchProgress(int index, int /*count*/) override {
        ++progressCalls;
        return index != stopBeforeEntry;
    }
    QStringList chooseFolders(const QString& prompt) override {
        prompts.append(prompt);
        return answers.isEmpty() ? QStringList() : answers.takeFirst();
    }

    QList<QStringList> answers; // one per panel; an empty one cancels
    int stopBeforeEntry = -1;
    QStringList prompts;
    QList<QImage> shown;
    QStringList alerts;
    QStringList failures;
    int progressCalls = 0;
};

QStringList linesWithout(const QStringList& lines, const QStringList& prefixes) {
    QStringList kept;
    for (const QString& line : lines) {
        if (std::none_of(prefixes.begin(), prefixes.end(),
                         [&line](const QString& prefix) { return line.startsWith(prefix); })) {
            kept << line;
        }
    }
    return kept;
}

QStringList linesStartingWith(const QStringList& lines, const QString& prefix) {
    QStringList found;
    for (const QString& line : lines) {
        if (line.startsWith(prefix)) {
            found << line;
        }
    }
    return found;
}

// Every name in `folder`, hidden ones and dangling links included.
QStringList namesIn(const QString& folder) {
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QStringList replaced(QStringList lines, const QString& from, const QString& to) {
    for (QString& line : lines) {
        line.replace(from, to);
    }
    return lines;
}

const QStringList passLines{"dostuff ", "has "};

// A file under a name given as bytes, which QString cannot always carry.
void writeNative(const QByteArray& path, const QByteArray& bytes) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, bytes.constData(), static_cast<std::size_t>(bytes.size())),
             static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

// Every name in `folder`, as bytes, sorted by them.
QByteArrayList nativeNamesIn(const QString& folder) {
    QByteArrayList names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.toStdString())) {
        names << QByteArray::fromStdString(entry.path().filename().native());
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

class TestFolderBatch : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir_;
    QByteArray picture_;

    QString freshFolder(const QString& name) {
        static int count = 0;
        const QString folder = dir_.filePath(name + QString::number(++count));
        QDir().mkpath(folder);
        return folder;
    }

    Session sessionWith(const QString& endFormat, TranscodeTarget target = FreeText{}) {
        Session session;
        session.endFormat = endFormat;
        session.trans_endFormat = target;
        session.random.reseed(3);
        return session;
    }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        qputenv("XDG_RUNTIME_DIR", dir_.filePath("runtime").toUtf8());
        QDir().mkpath(dir_.filePath("runtime"));
        QImage image(24, 16, QImage::Format_RGB32);
        image.fill(Qt::darkMagenta);
        QVERIFY(image.save(dir_.filePath("picture.png")));
        picture_ = readFile(dir_.filePath("picture.png"));
    }

    void cleanup() {
        qputenv("XDG_RUNTIME_DIR", dir_.filePath("runtime").toUtf8());
        qunsetenv("XDG_CACHE_HOME");
    }

    void collisionNames_data() {
        QTest::addColumn<bool>("sameFolder");
        QTest::addColumn<TranscodeTarget>("target");
        QTest::addColumn<QStringList>("planted");
        QTest::addColumn<QStringList>("written");
        QTest::addColumn<QStringList>("collisionLines"); // DEST stands for the destination
        QTest::newRow("empty destination") << false << TranscodeTarget{FreeText{}} << QStringList{}
                                           << QStringList{"photo.png", "shot.png"} << QStringList{};
        QTest::newRow("numbers run on, and start at 0 for each entry")
            << false << TranscodeTarget{FreeText{}}
            << QStringList{"photo.png", "0photo.png", "shot.png"}
            << QStringList{"1photo.png", "0shot.png"}
            << QStringList{"fileInName exists DEST/photo.png",  "chaned to DEST/0photo.png",
                           "fileInName exists DEST/0photo.png", "chaned to DEST/1photo.png",
                           "fileInName exists DEST/shot.png",   "chaned to DEST/0shot.png"};
        QTest::newRow("re-encoded name taken")
            << false << TranscodeTarget{FixedTarget::Jpg} << QStringList{"photo.png.jpg"}
            << QStringList{"0photo.png.jpg", "shot.png.jpg"}
            << QStringList{"fileInName exists DEST/photo.png.jpg", "chaned to DEST/0photo.png.jpg"};
        QTest::newRow("source folder is the destination")
            << true << TranscodeTarget{FreeText{}} << QStringList{}
            << QStringList{"0photo.png", "0shot.png"}
            << QStringList{"fileInName exists DEST/photo.png", "chaned to DEST/0photo.png",
                           "fileInName exists DEST/shot.png", "chaned to DEST/0shot.png"};
    }
    void collisionNames() {
        QFETCH(bool, sameFolder);
        QFETCH(TranscodeTarget, target);
        QFETCH(QStringList, planted);
        QFETCH(QStringList, written);
        QFETCH(QStringList, collisionLines);
        const QString source = freshFolder("source");
        const QString destination = sameFolder ? source : freshFolder("destination");
        writeFile(source + "/photo.png", picture_);
        writeFile(source + "/shot.png", picture_);
        for (const QString& name : planted) {
            writeFile(destination + "/" + name, "planted");
        }
        Session session = sessionWith("png", target);
        ScriptedDesktop desktop;
        LogCapture log;
        const FolderBatchSummary summary = batchFolder(session, {}, source, destination, desktop);

        QStringList writtenPaths;
        for (const QString& name : written) {
            writtenPaths << destination + "/" + name;
            QVERIFY(readFile(destination + "/" + name) != picture_);
        }
        QCOMPARE(summary.written, writtenPaths);
        QCOMPARE(summary.entries, 2); // this batch's outputs are never its entries
        QCOMPARE(summary.skipped, 0);
        QVERIFY(!summary.failed() && !summary.cancelled);
        QCOMPARE(log.lines().first(), QString("[imagesArray count]: 2"));
        QCOMPARE(linesWithout(log.lines(), passLines + QStringList{"[imagesArray", "Transcoding"}),
                 replaced(collisionLines, "DEST", destination));
        QStringList expectedNames = planted + written;
        if (sameFolder) {
            expectedNames << "photo.png"
                          << "shot.png";
        }
        expectedNames.sort();
        QCOMPARE(namesIn(destination), expectedNames);
        for (const QString& name : planted) {
            QCOMPARE(readFile(destination + "/" + name), QByteArray("planted"));
        }
        QCOMPARE(readFile(source + "/photo.png"), picture_);
        QCOMPARE(readFile(source + "/shot.png"), picture_);
        QVERIFY(desktop.alerts.isEmpty() && desktop.failures.isEmpty());
        QVERIFY(!desktop.shown.isEmpty() && !desktop.shown.first().isNull());
    }

    void messyFolderGoesThroughEveryEntry_data() {
        QTest::addColumn<TranscodeTarget>("target");
        QTest::addColumn<QStringList>("written"); // besides locked.png
        QTest::addColumn<QStringList>("skips");   // SRC stands for the source folder
        const QStringList unreadable{
            "skipped: Cannot read SRC/dangling: No such file or directory.",
            "skipped: Cannot read SRC/pipe: it is a named pipe (FIFO), not a regular file.",
            "skipped: Cannot read SRC/sub: it is a folder, not a regular file."};
        QTest::newRow("keep format")
            << TranscodeTarget{FreeText{}}
            << QStringList{".hidden.png", "empty.dat", "notes.txt", "photo.png"} << unreadable;
        QTest::newRow("re-encoded: what is no picture is skipped too")
            << TranscodeTarget{FixedTarget::Jpg} << QStringList{".hidden.png.jpg", "photo.png.jpg"}
            << unreadable +
                   QStringList{"skipped: Cannot re-encode SRC/empty.dat to JPG: it does not "
                               "decode as a picture.",
                               "skipped: Cannot re-encode SRC/notes.txt to JPG: it does not "
                               "decode as a picture."};
    }
    void messyFolderGoesThroughEveryEntry() {
        QFETCH(TranscodeTarget, target);
        QFETCH(QStringList, written);
        QFETCH(QStringList, skips);
        const QString source = freshFolder("messy");
        const QString destination = freshFolder("tidy");
        QVERIFY(QDir().mkpath(source + "/sub"));
        writeFile(source + "/.hidden.png", picture_);
        writeFile(source + "/notes.txt", "a text file is damaged like any other file\n");
        writeFile(source + "/empty.dat", {});
        writeFile(source + "/photo.png", picture_);
        writeFile(source + "/locked.png", picture_);
        QCOMPARE(::chmod(QFile::encodeName(source + "/locked.png").constData(), 0), 0);
        QCOMPARE(::mkfifo(QFile::encodeName(source + "/pipe").constData(), 0600), 0);
        QVERIFY(QFile::link(source + "/gone", source + "/dangling"));
        // Root reads a file of mode 000 all the same.
        const bool lockedReadable = ::access(QFile::encodeName(source + "/locked.png"), R_OK) == 0;
        const bool reencoding = std::holds_alternative<FixedTarget>(target);
        if (lockedReadable) {
            written << (reencoding ? "locked.png.jpg" : "locked.png");
        } else {
            skips << "skipped: Cannot read SRC/locked.png: Permission denied.";
        }
        written.sort();
        skips = replaced(skips, "SRC", source);
        skips.sort();

        Session session = sessionWith("jpg", target);
        ScriptedDesktop desktop;
        LogCapture log;
        const FolderBatchSummary summary = batchFolder(session, {}, source, destination, desktop);
        QCOMPARE(summary.entries, 8);
        QCOMPARE(desktop.progressCalls, 8);
        QCOMPARE(summary.skipped, skips.size());
        QCOMPARE(summary.written.size(), written.size());
        QVERIFY(!summary.failed() && !summary.cancelled);
        QCOMPARE(namesIn(destination), written);
        QStringList skipLines = linesStartingWith(log.lines(), "skipped: ");
        skipLines.sort();
        QCOMPARE(skipLines, skips);
        QVERIFY(desktop.alerts.isEmpty());
        QVERIFY(desktop.failures.isEmpty());
        if (!reencoding) {
            QCOMPARE(readFile(destination + "/empty.dat"), QByteArray());
            QCOMPARE(readFile(destination + "/notes.txt").size(),
                     readFile(source + "/notes.txt").size());
        }
    }

    // A name that is no text, or too long for the destination once numbered, costs its entry
    // alone; the entries after it are done.
    void awkwardNames_data() {
        QTest::addColumn<QByteArrayList>("entries");
        QTest::addColumn<QByteArrayList>("planted"); // already in the destination
        QTest::addColumn<QByteArrayList>("written");
        QTest::addColumn<QStringList>("skips"); // SRC and DEST stand for the folders
        const QByteArray longest = QByteArray(251, 'b') + ".png"; // 255 bytes, the most allowed
        const QByteArray shorter = QByteArray(247, 'b') + ".png"; // room for its number
        QTest::newRow("name not valid UTF-8")
            << QByteArrayList{"a.png", "c\xfe.png", "d.png"} << QByteArrayList{}
            << QByteArrayList{"a.png", "d.png"}
            << QStringList{"skipped: Cannot read SRC/c\\xFE.png: its name is not valid UTF-8."};
        QTest::newRow("numbered name too long")
            << QByteArrayList{longest, "z.png"} << QByteArrayList{longest}
            << QByteArrayList{longest, "z.png"}
            << QStringList{"skipped: Cannot write DEST/0" + QString::fromLatin1(longest) +
                           ": File name too long."};
        // The temporary a pass writes into is named apart from the output, so a name near the
        // limit still fits.
        QTest::newRow("numbered name just fits")
            << QByteArrayList{shorter, "z.png"} << QByteArrayList{shorter}
            << QByteArrayList{"0" + shorter, shorter, "z.png"} << QStringList{};
    }
    void awkwardNames() {
        QFETCH(QByteArrayList, entries);
        QFETCH(QByteArrayList, planted);
        QFETCH(QByteArrayList, written);
        QFETCH(QStringList, skips);
        const QString source = freshFolder("awkward");
        const QString destination = freshFolder("awkward-out");
        for (const QByteArray& name : entries) {
            writeNative(QFile::encodeName(source) + "/" + name, picture_);
        }
        for (const QByteArray& name : planted) {
            writeNative(QFile::encodeName(destination) + "/" + name, "planted");
        }
        Session session = sessionWith("jpg");
        ScriptedDesktop desktop;
        LogCapture log;
        const FolderBatchSummary summary = batchFolder(session, {}, source, destination, desktop);
        QCOMPARE(summary.entries, entries.size());
        QCOMPARE(desktop.progressCalls, entries.size());
        QCOMPARE(summary.skipped, skips.size());
        QCOMPARE(summary.written.size(), written.size() - planted.size());
        QVERIFY(!summary.failed() && !summary.cancelled);
        QVERIFY(desktop.alerts.isEmpty() && desktop.failures.isEmpty());
        QCOMPARE(linesStartingWith(log.lines(), "skipped: "),
                 replaced(replaced(skips, "SRC", source), "DEST", destination));
        QCOMPARE(nativeNamesIn(destination), written);
        for (const QByteArray& name : planted) {
            QCOMPARE(readFile(QFile::decodeName(QFile::encodeName(destination) + "/" + name)),
                     QByteArray("planted"));
        }
        // QTemporaryDir removes by text names, which miss these.
        for (const QByteArray& name : entries) {
            ::unlink((QFile::encodeName(source) + "/" + name).constData());
        }
    }

    void batchEndsAfterOneAlert_data() {
        QTest::addColumn<QString>("destination"); // FILE stands for a regular file
        QTest::addColumn<bool>("noScratchFolder");
        QTest::addColumn<int>("alerts");
        QTest::addColumn<int>("failures");
        QTest::newRow("destination is a file") << "FILE" << false << 1 << 0;
        QTest::newRow("destination under a file") << "FILE/folder" << false << 1 << 0;
        QTest::newRow("no scratch folder for the re-encode") << "" << true << 0 << 1;
    }
    void batchEndsAfterOneAlert() {
        QFETCH(QString, destination);
        QFETCH(bool, noScratchFolder);
        QFETCH(int, alerts);
        QFETCH(int, failures);
        const QString source = freshFolder("three");
        for (const char* name : {"a.png", "b.png", "c.png"}) {
            writeFile(source + "/" + name, picture_);
        }
        const QString file = dir_.filePath("a-file");
        writeFile(file, "not a folder");
        destination =
            destination.isEmpty() ? freshFolder("out") : destination.replace("FILE", file);
        Session session = sessionWith("png");
        if (noScratchFolder) {
            session.trans_endFormat = FixedTarget::Png;
            qputenv("XDG_RUNTIME_DIR", file.toUtf8());
            qputenv("XDG_CACHE_HOME", file.toUtf8());
        }
        ScriptedDesktop desktop;
        const FolderBatchSummary summary = batchFolder(session, {}, source, destination, desktop);
        QCOMPARE(desktop.alerts.size(), alerts);
        QCOMPARE(desktop.failures.size(), failures);
        QCOMPARE(summary.outputFailed, alerts == 1);
        QCOMPARE(summary.runFailed, failures == 1);
        QCOMPARE(desktop.progressCalls, 1);
        QVERIFY(summary.written.isEmpty());
        QCOMPARE(readFile(file), QByteArray("not a folder"));
        if (noScratchFolder) {
            QVERIFY(namesIn(destination).isEmpty());
        }
    }

    void panels_data() {
        QTest::addColumn<QStringList>("firstPanel"); // SRC and DEST stand for real folders
        QTest::addColumn<QStringList>("secondPanel");
        QTest::addColumn<int>("stopBeforeEntry");
        QTest::addColumn<QStringList>("batchLines");
        QTest::addColumn<int>("written");
        QTest::newRow("first panel cancelled")
            << QStringList{} << QStringList{"DEST"} << -1 << QStringList{"GFD"} << 0;
        QTest::newRow("second panel cancelled")
            << QStringList{"/elsewhere", "SRC"} << QStringList{} << -1
            << QStringList{"GFD", "inDir: /elsewhere", "inDir: SRC"} << 0;
        QTest::newRow("the last folder chosen counts")
            << QStringList{"/elsewhere", "SRC"} << QStringList{"/nowhere", "DEST"} << -1
            << QStringList{"GFD",          "inDir: /elsewhere",
                           "inDir: SRC",   "outDir: /nowhere",
                           "outDir: DEST", "[imagesArray count]: 2"}
            << 2;
        QTest::newRow("stopped before the second entry")
            << QStringList{"SRC"} << QStringList{"DEST"} << 1
            << QStringList{"GFD", "inDir: SRC", "outDir: DEST", "[imagesArray count]: 2"} << 1;
    }
    void panels() {
        QFETCH(QStringList, firstPanel);
        QFETCH(QStringList, secondPanel);
        QFETCH(int, stopBeforeEntry);
        QFETCH(QStringList, batchLines);
        QFETCH(int, written);
        const QString source = freshFolder("panel-source");
        const QString destination = freshFolder("panel-destination");
        writeFile(source + "/a.png", picture_);
        writeFile(source + "/b.png", picture_);
        const auto real = [&](const QStringList& lines) {
            return replaced(replaced(lines, "SRC", source), "DEST", destination);
        };
        ScriptedDesktop desktop;
        desktop.answers = {real(firstPanel), real(secondPanel)};
        desktop.stopBeforeEntry = stopBeforeEntry;
        Session session = sessionWith("png");
        LogCapture log;
        const FolderBatchSummary summary = runFolderBatch(session, {}, desktop);
        QCOMPARE(linesWithout(log.lines(), passLines), real(batchLines));
        QCOMPARE(desktop.prompts,
                 QStringList({"Choose folder with images in", "Choose folder destination"})
                     .mid(0, firstPanel.isEmpty() ? 1 : 2));
        QCOMPARE(summary.written.size(), written);
        QCOMPARE(namesIn(destination).size(), written);
        QCOMPARE(summary.cancelled, written < 2);
        QCOMPARE(desktop.shown.size(), written);
    }

    void emptyFormatIsTakenFromTheFirstEntryWithOne() {
        const QString source = freshFolder("formats");
        const QString destination = freshFolder("formats-out");
        // A hidden file's "extension" is most of its name: it picks no format.
        writeFile(source + "/.DS_Store", "folder metadata, first in name order");
        writeFile(source + "/README", "no extension: damaged while the format is still empty");
        writeFile(source + "/b.bmp", QByteArray(200, '\n'));
        writeFile(source + "/c.png", QByteArray(200, '\n'));
        Session session = sessionWith("");
        ScriptedDesktop desktop;
        LogCapture log;
        const FolderBatchSummary summary = batchFolder(session, {}, source, destination, desktop);
        QCOMPARE(summary.written.size(), 4);
        QCOMPARE(session.endFormat, QString("bmp"));
        QCOMPARE(linesStartingWith(log.lines(), "dostuff endFormat: "),
                 QStringList({"dostuff endFormat: ", "dostuff endFormat: ",
                              "dostuff endFormat: bmp", "dostuff endFormat: bmp"}));
        QCOMPARE(linesStartingWith(log.lines(), "batch format: "),
                 QStringList{"batch format: bmp (line-break rewrite), from b.bmp"});
        QCOMPARE(linesStartingWith(log.lines(), "has "), QStringList({"has bmp", "has bmp"}));
        QVERIFY(readFile(destination + "/c.png").size() > 200); // line breaks doubled
    }

    // A batch with a target leaves the last entry's copy as the input: the window names that
    // entry, and reverts to it, not to the file that was the input before the batch.
    void reencodedInputStandsForTheLastEntry() {
        const QString source = freshFolder("origin");
        const QString destination = freshFolder("origin-out");
        writeFile(source + "/a.png", picture_);
        writeFile(source + "/b.png", picture_);
        const QString scratch = scratchFolder().path;
        QVERIFY(!scratch.isEmpty());
        Session session = sessionWith("png", FixedTarget::Gif);
        session.inPath = dir_.filePath("picture.png");
        InputOrigin origin;
        origin.follow(session, scratch);
        ScriptedDesktop desktop;
        QCOMPARE(batchFolder(session, {}, source, destination, desktop).written.size(), 2);
        origin.follow(session, scratch);
        QCOMPARE(session.inPath, scratch + "/TEMP.gif");
        QCOMPARE(origin.path(), source + "/b.png");
        QCOMPARE(origin.name(), QString("b.png"));
        QCOMPARE(origin.reencodes(), QStringList{"GIF"});
    }
};

QTEST_GUILESS_MAIN(TestFolderBatch)
#include "tst_folder_batch.moc"
