#include "FolderBatch.h"

#include "OutputFolder.h"
#include "codec/Decode.h"
#include "glitch/GlitchPass.h"
#include "glitch/TranscodeStep.h"
#include "platform/Desktop.h"
#include "platform/FileBytes.h"
#include "platform/ImageDecoder.h"
#include "platform/Log.h"
#include "platform/PathExtension.h"

#include <QDir>
#include <utility>

namespace zerbrak {
namespace {

// The batch's desktop as each pass sees it. Everything goes through except a run-failure
// alert, which is held back until the pass says whether the fault lies with its entry alone:
// one stray folder or pipe in the source folder must cost a log line, not stop the batch.
class EntryDesktop final : public Desktop {
public:
    explicit EntryDesktop(Desktop& desktop) : desktop_(desktop) {}

    void showImage(const QImage& image) override { desktop_.showImage(image); }
    void alertOutputFailed(const QString& outputPath, const QString& reason) override {
        desktop_.alertOutputFailed(outputPath, reason);
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

private:
    Desktop& desktop_;
    QString heldBack_;
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

// Every entry, hidden ones, folders, pipes and dangling links included. Name order, not the
// file system's: the entries share one random sequence, so only a fixed order lets the same
// seed give the same damage again (after a copy, on another file system).
QStringList listEntries(const QString& inDir) {
    return QDir(inDir).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// "outDir/entry", or "outDir/<n>entry" with the lowest n that is free. What must be free is
// the name the pass will write, which a re-encode extends, so both log lines name that.
QString freeDestination(const Session& session, const QString& outDir, const QString& entry) {
    QString destination = outDir + QLatin1Char('/') + entry;
    for (std::int32_t collision = 0;; ++collision) {
        const QString written = transcodedOutputName(session.trans_endFormat, destination);
        if (!pathTaken(written)) {
            return destination;
        }
        logLine(QStringLiteral("fileInName exists ") + written);
        destination = outDir + QLatin1Char('/') + QString::number(collision) + entry;
        logLine(QStringLiteral("chaned to ") +
                transcodedOutputName(session.trans_endFormat, destination));
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
    const QStringList imagesArray = listEntries(inDir);
    summary.entries = static_cast<int>(imagesArray.size());
    logLine(QStringLiteral("[imagesArray count]: %1").arg(summary.entries));

    EntryDesktop entryDesktop(desktop);
    for (int index = 0; index < summary.entries; ++index) {
        if (!desktop.batchProgress(index, summary.entries)) {
            summary.cancelled = true;
            break;
        }
        const QString& entry = imagesArray[index];
        session.inPath = inDir + QLatin1Char('/') + entry;
        const QString destination = freeDestination(session, outDir, entry);
        if (session.endFormat.isEmpty()) {
            session.endFormat = pathExtension(destination);
        }
        desktop.showImage(sourcePicture(session.decoder, session.inPath));

        const PassResult pass =
            runGlitchPass(session, params, entryDesktop, session.inPath, destination);
        const QString heldBack = entryDesktop.takeHeldBack();
        if (pass.cancelled) {
            summary.cancelled = true;
            break;
        }
        if (pass.inputUnusable) {
            logLine(QStringLiteral("skipped: ") + heldBack);
            ++summary.skipped;
            continue;
        }
        if (pass.runFailed) {
            desktop.alertRunFailed(heldBack);
            summary.runFailed = true;
            break;
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
