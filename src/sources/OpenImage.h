#pragma once

#include "glitch/Session.h"

#include <QString>

namespace zerbrak {

class Desktop;

// Makes the file at `path` the session's input, as every image source does: whatever it holds
// (it is not checked to be a picture), with its extension as written as the format. Shows what
// it decodes to, or an empty picture area. With `logFormat`, logs "endFormat: <ext>" as the open
// panel does. The transcode target is left as it is, so a chosen re-encode applies to the file.
void openImage(Session& session, const QString& path, Desktop& desktop, bool logFormat);

} // namespace zerbrak
