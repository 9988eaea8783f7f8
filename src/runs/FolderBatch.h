#pragma once

#include "core/CorruptionModes.h"
#include "glitch/Session.h"

#include <QString>
#include <QStringList>

namespace zerbrak {

class Desktop;

struct FolderBatchSummary {
    QString outDir;            // the destination, once chosen
    int entries = 0;           // entries listed in the source folder
    QStringList written;       // the paths written, in order
    int skipped = 0;           // entries no pass could use (a folder, a pipe, not a picture...)
    bool cancelled = false;    // a folder panel was cancelled, or the desktop asked to stop
    bool outputFailed = false; // an output could not be written; the batch stopped there
    bool runFailed = false;    // no re-encode could work (no scratch folder); stopped there too

    bool failed() const { return outputFailed || runFailed; }
};

// The whole folder batch as the window runs it: asks for the source folder, then the
// destination folder, in the desktop's folder panels (the last folder chosen in each counts),
// then batchFolder. A panel cancelled ends it before anything is written.
FolderBatchSummary runFolderBatch(Session& session, const GlitchParams& params, Desktop& desktop);

// Damages every entry of `inDir`, hidden ones included, into `outDir` under the entry's name,
// or under that name with the lowest free number in front when the name a pass would write is
// taken: nothing existing is ever replaced, also not what another run writes there at the
// same time, so `inDir` may be `outDir`. The folder is listed once, in name order, before the
// first entry, so the outputs are never taken as entries. Each entry is shown before its pass
// (when the desktop wants pictures). An entry no pass can use (its input, its name: one that
// is not valid UTF-8, one too long for the destination) is skipped with a log line; a failure
// of the destination or of every re-encode (a folder that cannot be written, a full disk, no
// scratch folder) ends the batch after its one alert. An empty session.endFormat is taken from
// the first entry that is not hidden and has an extension, logged, and then kept.
FolderBatchSummary batchFolder(Session& session, const GlitchParams& params, const QString& inDir,
                               const QString& outDir, Desktop& desktop);

} // namespace zerbrak
