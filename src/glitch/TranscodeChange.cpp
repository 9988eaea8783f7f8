#include "TranscodeChange.h"

#include "FormatTable.h"
#include "platform/Log.h"
#include "platform/PathExtension.h"

namespace zerbrak {

void transcodeChange(Session& session, const QString& title) {
    logLine(QStringLiteral("...") + title + QStringLiteral("..."));
    if (const FormatRow* row = rowForTitle(title)) {
        logLine(QString::fromUtf8(row->changeLog));
        session.trans_endFormat = row->target;
        return;
    }
    const QString extension = pathExtension(session.inPath);
    session.endFormat = extension;
    session.trans_endFormat = FreeText{extension};
}

} // namespace zerbrak
