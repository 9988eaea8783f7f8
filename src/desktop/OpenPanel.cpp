#include "OpenPanel.h"

#include <QFileDialog>
#include <QStringList>

namespace zerbrak {
namespace {

// Extensions as a desktop names the files our decoders read; both cases, since file names
// from cameras and other systems are often upper case.
QString imagePatterns() {
    static const char* const extensions[] = {"png",  "jpg", "jpeg", "jpe", "jfif", "tif",
                                             "tiff", "gif", "bmp",  "dib", "jp2",  "j2k",
                                             "j2c",  "jpc", "jpx",  "ppm", "pgm",  "pbm"};
    QStringList patterns;
    for (const char* extension : extensions) {
        const QString lower = QString::fromLatin1(extension);
        patterns << QStringLiteral("*.") + lower << QStringLiteral("*.") + lower.toUpper();
    }
    return patterns.join(QLatin1Char(' '));
}

} // namespace

QString chooseImageFile(QWidget* parent) {
    QFileDialog panel(parent, QStringLiteral("Open Image"));
    panel.setObjectName(QStringLiteral("openPanel"));
    panel.setFileMode(QFileDialog::ExistingFile);
    panel.setAcceptMode(QFileDialog::AcceptOpen);
    panel.setNameFilters(
        {QStringLiteral("Images (%1)").arg(imagePatterns()), QStringLiteral("All files (*)")});
    if (panel.exec() != QDialog::Accepted || panel.selectedFiles().isEmpty()) {
        return {};
    }
    return panel.selectedFiles().constFirst();
}

} // namespace zerbrak
