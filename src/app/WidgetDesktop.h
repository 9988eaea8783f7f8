#pragma once

#include "platform/Desktop.h"

class QWidget;

namespace zerbrak {

class PictureView;

// The desktop as the window provides it: the picture area and modal dialogs over the window.
class WidgetDesktop final : public Desktop {
public:
    WidgetDesktop(QWidget& window, PictureView& imageView);

    void showImage(const QImage& image) override;
    void alertOutputFailed(const QString& outputPath) override;

private:
    QWidget* window_;
    PictureView* imageView_;
};

} // namespace zerbrak
