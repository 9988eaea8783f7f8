#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

namespace zerbrak {

// What a run needs from the desktop. The window implements it with widgets; the command-line
// tool and the tests implement it without them, so no run logic lives in a widget.
class Desktop {
public:
    virtual ~Desktop() = default;

    // Put a picture in the picture area.
    virtual void showImage(const QImage& image) = 0;

    // Whether anybody sees what showImage is given: a desktop that keeps no pictures (the
    // command line) answers false, and a run then decodes nothing only to show it. The
    // default shows them.
    virtual bool wantsPictures() const { return true; }

    // The modal alert of a pass whose output could not be opened, written or closed.
    // `reason` says why in the system's words ("No space left on device").
    virtual void alertOutputFailed(const QString& outputPath, const QString& reason) = 0;

    // A run cannot go on (its input cannot be read, the scratch folder is unusable, the
    // re-encode failed): one alert that says why, after which the run ends.
    virtual void alertRunFailed(const QString& message) = 0;

    // Progress of a frame series of `frames` frames: `frame` counts from 0, `attempt` is the
    // pass about to run for it (0 for the first, up to 10 retries). Returning false cancels
    // the series before that pass. The default never cancels.
    virtual bool seriesProgress(int /*frame*/, int /*frames*/, int /*attempt*/) { return true; }

    // Progress of a folder batch: `index` counts the entries from 0. Returning false cancels
    // the batch before that entry. The default never cancels.
    virtual bool batchProgress(int /*index*/, int /*count*/) { return true; }

    // A modal folder chooser whose confirm button reads `prompt`; folders may be made from
    // within it. Returns the chosen folders' full paths, or nothing when cancelled (the
    // default: a desktop without panels).
    virtual QStringList chooseFolders(const QString& /*prompt*/) { return {}; }

    // A frame series kept the decodable frame at `path`.
    virtual void frameKept(const QString& /*path*/) {}

    // Show `folderPath` in the file manager.
    virtual void revealFolder(const QString& /*folderPath*/) {}

protected:
    Desktop() = default;
    Desktop(const Desktop&) = default;
    Desktop& operator=(const Desktop&) = default;
};

} // namespace zerbrak
