#include "TranscodeStep.h"

namespace zerbrak {

void transcodeStep(Session& session, Desktop& /*desktop*/, const QString& /*inputPath*/,
                   QString& /*outName*/) {
    // No encoders yet: every target passes through untouched.
    if (std::holds_alternative<FreeText>(session.trans_endFormat)) {
        return;
    }
}

} // namespace zerbrak
