#include "OpenImage.h"

#include "codec/Decode.h"
#include "platform/Desktop.h"
#include "platform/ImageDecoder.h"
#include "platform/Log.h"
#include "platform/PathExtension.h"

namespace zerbrak {

void openImage(Session& session, const QString& path, Desktop& desktop, bool logFormat) {
    session.inPath = path;
    session.endFormat = pathExtension(path);
    if (logFormat) {
        logLine(QStringLiteral("endFormat: ") + session.endFormat);
    }
    desktop.showImage(decodeFile(session.decoder, session.inPath).image);
}

} // namespace zerbrak
