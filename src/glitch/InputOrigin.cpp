#include "InputOrigin.h"

#include "FormatTable.h"
#include "platform/PathExtension.h"

#include <QFileInfo>

namespace zerbrak {
namespace {

bool inScratch(const QString& path, const QString& scratchDir) {
    return !scratchDir.isEmpty() && QFileInfo(path).absolutePath() == scratchDir;
}

// The row whose scratch copy `path` is, if it is one.
const FormatRow* reencodeRow(const QString& path, const QString& scratchDir) {
    if (!inScratch(path, scratchDir)) {
        return nullptr;
    }
    const FormatRow* row = rowForExtension(pathExtension(path));
    return row != nullptr && QFileInfo(path).fileName() == QString::fromUtf8(row->scratchName)
               ? row
               : nullptr;
}

} // namespace

void InputOrigin::startAt(const QString& path, const QString& scratchDir) {
    path_ = path;
    name_ = inScratch(path, scratchDir) ? QStringLiteral("camera snapshot")
                                        : QFileInfo(path).fileName();
    reencodes_.clear();
}

void InputOrigin::follow(const Session& session, const QString& scratchDir) {
    if (session.inPath == followed_) {
        return; // also a re-encode of a copy into its own format: nothing new about the picture
    }
    const FormatRow* row = reencodeRow(session.inPath, scratchDir);
    if (row == nullptr) {
        startAt(session.inPath, scratchDir);
    } else {
        // A run over other files (a folder batch) re-encoded one this chain never saw: the
        // chain starts again there. The source of a copy is never a copy of the same format.
        const QString& source = session.transcodeSource;
        if (source != followed_ && !source.isEmpty() &&
            reencodeRow(source, scratchDir) == nullptr) {
            startAt(source, scratchDir);
        }
        reencodes_ << QString::fromUtf8(row->title);
    }
    followed_ = session.inPath;
}

} // namespace zerbrak
