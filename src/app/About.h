#pragma once

#include <QIcon>
#include <QList>
#include <QString>
#include <QVariant>
#include <utility>

class QWidget;

namespace zerbrak {

// One option of the About panel: a key and its value.
using AboutOption = std::pair<QString, QVariant>;

// The About panel's options for this build's edition, in this order: "Version",
// "ApplicationName", "ApplicationIcon" (a QIcon) and "Copyright". All four are always there;
// an edition without a version has an empty "Version".
QList<AboutOption> aboutOptions(const QIcon& applicationIcon);

// Brings the About panel of `window` to the front, filled from `options`; one panel however
// often it is asked for, and it does not hold the window.
void showAboutPanel(QWidget& window, const QList<AboutOption>& options);

} // namespace zerbrak
