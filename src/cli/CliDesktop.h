#pragma once

#include "platform/Desktop.h"

namespace zerbrak {

// The desktop of the command line: nothing is shown, a failed output becomes a message on
// stderr and a non-zero exit code.
class CliDesktop final : public Desktop {
public:
    void showImage(const QImage& /*image*/) override {}
    bool wantsPictures() const override { return false; }
    void alertOutputFailed(const QString& outputPath, const QString& reason) override;
    void alertRunFailed(const QString& message) override;
    void frameKept(const QString& path) override;

    // An output could not be written, or the run could not go on.
    bool outputFailed() const { return outputFailed_; }

private:
    bool outputFailed_ = false;
};

} // namespace zerbrak
