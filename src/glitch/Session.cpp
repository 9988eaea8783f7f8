#include "Session.h"

#include "EditionConstants.h"
#include "core/TextValues.h"

namespace zerbrak {

void startSession(Session& session, const QString& startImagePath, std::int64_t seedFieldValue,
                  std::int64_t secondsSinceEpoch) {
    session.inPath = startImagePath;
    session.endFormat = QString::fromUtf8(edition::initialEndFormat);
    session.trans_endFormat = FreeText{};
    reseed(session, seedFieldValue);
    session.globalNR = low32Signed(secondsSinceEpoch);
}

void reseed(Session& session, std::int64_t seedFieldValue) {
    session.random.reseed(low32(seedFieldValue));
}

} // namespace zerbrak
