#include "FolderBatch.h"

#include "OutputFolder.h"
#include "codec/Decode.h"
#include "glitch/GlitchPass.h"
#include "glitch/TranscodeStep.h"
#include "platform/Desktop.h"
#include "platform/FileBytes.h"
#include "platform/FileNames.h"
#include "platform/ImageDecoder.h"
#include "platform/Log.h"
#include "platform/PathExtension.h"

#include <optional>
#include <utility>
#include <vector>

namespace zerbrak {
namespace {

// The batch's desktop as each pass sees it. Everything goes through except the failure
// alerts, which are held back until the pass says whether the fault lies with its entry
// alone: one stray folder or pipe in the source folder, or one name too long for the
// destination, must cost a log line, not stop the batch.
class EntryDesktop final : public Desktop {
public:
    explicit EntryDesktop(Desktop& desktop) : desktop_(desktop) {}

    void showImage(const QImage& image) override { desktop_.showImage(image); }
    bool wantsPictures() const override { return desktop_.wantsPictures(); }
    void alertOutputFailed(const QString& outputPath, const QString& reason) override {
        heldBackOutput_ = {outputPath, reason};
    }
    void alertRunFailed(const QString& message) override { heldBack_ = message; }
    bool seriesProgress(int frame, int frames, int attempt) override {
        return desktop_.seriesProgress(frame, frames, attempt);
    }
    bool batchProgress(int index, int count) override {
        return desktop_.batchProgress(index, count);
    }
    QStringList chooseFolders(const QString& prompt) override {
        return desktop_.chooseFolders(prompt);
    }
    void frameKept(const QString& path) override { desktop_.frameKept(path); }
    void revealFolder(const QString& folderPath) override { desktop_.revealFolder(folderPath); }

    QString takeHeldBack() { return std::exchange(heldBack_, QString()); }

    // The output alert of the pass just run, held back: for the user, or, when the fault
    // lies with the entry alone, for the log.
    struct OutputAlert {
        QString path;
        QString reason;
    };
    std::optional<OutputAlert> takeOutputAlert() { return std::exchange(heldBackOutput_, {}); }

private:
    Desktop& desktop_;
    QString heldBack_;
    std::optional<OutputAlert> heldBackOutput_;
};

// Logs each folder the panel returns under `logPrefix`; the last one counts. Empty when the
// panel was cancelled or confirmed without a folder.
QString chooseFolder(Desktop& desktop, const QString& prompt, const QString& logPrefix) {
    QString chosen;
    for (const QString& path : desktop.chooseFolders(prompt)) {
        logLine(logPrefix + path);
        chosen = path;
    }
    return chosen;
}

// The names an entry's output may take, in order: "outDir/entry", then "outDir/<n>entry" from
// n = 0. What must be free is the name the pass will write, which a re-encode extends, so both
// log lines name that.
class Destinations {
public:
    Destinations(const Session& session, const QString& outDir, const QString& entry)
        : session_(session), outDir_(outDir), entry_(entry) {}

    // The first free one from the current candidate on.
    QString firstFree() {
        while (pathTaken(written())) {
            passTaken();
        }
        return current();
    }

    // The current candidate is taken (found so at the commit): on to the next.
    void passTaken() {
        logLine(QStringLiteral("fileInName exists ") + written());
        ++collision_;
        logLine(QStringLiteral("chaned to ") + written());
    }

    // What the pass writes for the current candidate.
    QString written() const { return transcodedOutputName(session_.trans_endFormat, current()); }

private:
    QString current() const {
        return outDir_ + QLatin1Char('/') +
               (collision_ < 0 ? entry_ : QString::number(collision_) + entry_);
    }

    const Session& session_;
    const QString& outDir_;
    const QString& entry_;
    std::int32_t collision_ = -1; // -1: the entry's own name
};

const char* modeWords(CorruptionMode mode) {
    switch (mode) {
    case CorruptionMode::LineBreakRewrite:
        return "line-break rewrite";
    case CorruptionMode::SingleByteStrike:
        return "single-byte strike";
    case CorruptionMode::ReplaceAndScatter:
        break;
    }
    return "replace and scatter";
}

// An empty format is taken from the entry, and the mode it picks for the batch is logged. A
// hidden file's "extension" is most of its name (.DS_Store): it picks no format.
void takeFormat(Session& session, const FolderEntry& entry, const QString& destination) {
    if (entry.hidden()) {
        return;
    }
    session.endFormat = pathExtension(destination);
    if (!session.endFormat.isEmpty()) {
        const CorruptionMode mode = chooseMode(session.endFormat.toStdString());
        logLine(QStringLiteral("batch format: %1 (%2), from %3")
                    .arg(session.endFormat, QLatin1String(modeWords(mode)), entry.name));
    }
}

// The entry as the view shows it, or no picture. Read as a pass reads, so that a named pipe
// is refused rather than waited on.
QImage sourcePicture(ImageDecoder* decoder, const QString& path) {
    const FileBytes source = readFileBytes(path);
    return source.ok() ? decodeBytes(decoder, source.bytes).image : QImage();
}

} // namespace

FolderBatchSummary runFolderBatch(Session& session, const GlitchParams& params, Desktop& desktop) {
    logLine(QStringLiteral("GFD"));
    FolderBatchSummary cancelled;
    cancelled.cancelled = true;
    const QString inDir = chooseFolder(desktop, QStringLiteral("Choose folder with images in"),
                                       QStringLiteral("inDir: "));
    if (inDir.isEmpty()) {
        return cancelled;
    }
    const QString outDir = chooseFolder(desktop, QStringLiteral("Choose folder destination"),
                                        QStringLiteral("outDir: "));
    if (outDir.isEmpty()) {
        return cancelled;
    }
    return batchFolder(session, params, inDir, outDir, desktop);
}

FolderBatchSummary batchFolder(Session& session, const GlitchParams& params, const QString& inDir,
                               const QString& outDir, Desktop& desktop) {
    FolderBatchSummary summary;
    summary.outDir = outDir;
    // Every entry: hidden ones, folders, pipes, dangling links, names that are no text. Name
    // order, not the file system's: the entries share one random sequence, so only a fixed
    // order lets the same seed give the same damage again (after a copy, on another file
    // system).
    const std::vector<FolderEntry> imagesArray = listFolder(inDir);
    summary.entries = static_cast<int>(imagesArray.size());
    logLine(QStringLiteral("[imagesArray count]: %1").arg(summary.entries));

    EntryDesktop entryDesktop(desktop);
    const auto skip = [&summary](const QString& why) {
        logLine(QStringLiteral("skipped: ") + why);
        ++summary.skipped;
    };
    for (int index = 0; index < summary.entries; ++index) {
        if (!desktop.batchProgress(index, summary.entries)) {
            summary.cancelled = true;
            break;
        }
        const FolderEntry& listed = imagesArray[static_cast<std::size_t>(index)];
        if (!listed.usable) {
            // As text it would name another file, perhaps one that exists.
            skip(cannotRead(inDir + QLatin1Char('/') + escapedName(listed.native),
                            QStringLiteral("its name is not valid UTF-8")));
            continue;
        }
        const QString& entry = listed.name;
        session.inPath = inDir + QLatin1Char('/') + entry;
        Destinations destinations(session, outDir, entry);
        const QString destination = destinations.firstFree();
        if (session.endFormat.isEmpty()) {
            takeFormat(session, listed, destination);
        }
        if (desktop.wantsPictures()) {
            desktop.showImage(sourcePicture(session.decoder, session.inPath));
        }

        PassResult pass = runGlitchPass(session, params, entryDesktop, session.inPath, destination,
                                        0, OutputCommit::NeverReplace);
        // Another run wrote under the name meanwhile: the same bytes take the next free one.
        while (pass.nameTaken) {
            destinations.passTaken();
            destinations.firstFree();
            commitElsewhere(pass, entryDesktop, destinations.written());
        }
        const QString heldBack = entryDesktop.takeHeldBack();
        const std::optional<EntryDesktop::OutputAlert> outputAlert = entryDesktop.takeOutputAlert();
        if (pass.cancelled) {
            summary.cancelled = true;
            break;
        }
        if (pass.inputUnusable) {
            skip(heldBack);
            continue;
        }
        if (pass.runFailed) {
            desktop.alertRunFailed(heldBack);
            summary.runFailed = true;
            break;
        }
        if (outputAlert && pass.outputUnusable) {
            skip(
                QStringLiteral("Cannot write %1: %2.").arg(outputAlert->path, outputAlert->reason));
            continue;
        }
        if (outputAlert) {
            desktop.alertOutputFailed(outputAlert->path, outputAlert->reason);
        }
        if (pass.outputFailed) {
            // The user has seen the alert once; every later output would fail the same way.
            summary.outputFailed = true;
            break;
        }
        summary.written << pass.path;
    }
    return summary;
}

} // namespace zerbrak
