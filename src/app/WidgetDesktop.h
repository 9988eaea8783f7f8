#pragma once

#include "platform/Desktop.h"

#include <QPointer>
#include <QProgressDialog>
#include <memory>

class QWidget;

namespace zerbrak {

class PictureView;

// The desktop as the window provides it: the picture area and modal dialogs over the window.
class WidgetDesktop final : public Desktop {
public:
    WidgetDesktop(QWidget& window, PictureView& imageView);
    ~WidgetDesktop() override;

    void showImage(const QImage& image) override;
    void alertOutputFailed(const QString& outputPath) override;
    void alertRunFailed(const QString& message) override;
    bool seriesProgress(int frame, int frames, int attempt) override;
    void seriesFinished() override;
    void revealFolder(const QString& folderPath) override;

    // The open progress dialog of a series, if any (tests press its Cancel).
    QProgressDialog* progressDialog() const { return progress_.get(); }

private:
    QWidget* window_;
    PictureView* imageView_;
    std::unique_ptr<QProgressDialog> progress_;
};

} // namespace zerbrak
