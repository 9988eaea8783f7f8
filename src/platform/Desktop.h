#pragma once

#include <QImage>
#include <QString>

namespace zerbrak {

// What a run needs from the desktop. The window implements it with widgets; the command-line
// tool and the tests implement it without them, so no run logic lives in a widget.
class Desktop {
public:
    virtual ~Desktop() = default;

    // Put a picture in the picture area.
    virtual void showImage(const QImage& image) = 0;

    // The modal alert of a pass whose output could not be opened, written or closed.
    virtual void alertOutputFailed(const QString& outputPath) = 0;

protected:
    Desktop() = default;
    Desktop(const Desktop&) = default;
    Desktop& operator=(const Desktop&) = default;
};

} // namespace zerbrak
