#pragma once

#include "platform/Desktop.h"

#include <QImage>
#include <QStringList>

// A desktop that remembers what a run asked of it.
class FakeDesktop final : public zerbrak::Desktop {
public:
    void showImage(const QImage& image) override { shown.append(image); }
    void alertOutputFailed(const QString& outputPath, const QString& reason) override {
        alerts.append(outputPath);
        reasons.append(reason);
    }
    void alertRunFailed(const QString& message) override { failures.append(message); }

    QList<QImage> shown;
    QStringList alerts;
    QStringList reasons;
    QStringList failures;
};
