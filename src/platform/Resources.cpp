#include "Resources.h"

#include "EditionConstants.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace zerbrak {

QString resourcePath(const QString& baseName, const QString& type) {
    QStringList folders;
    if (const QString fromEnv = qEnvironmentVariable("ZERBRAK_DATA_DIR"); !fromEnv.isEmpty()) {
        folders << fromEnv;
    }
    if (QCoreApplication::instance() != nullptr) {
        folders << QCoreApplication::applicationDirPath() + QStringLiteral("/../share/zerbrak");
    }
    folders << QStringLiteral(ZERBRAK_INSTALL_DATADIR);

    const QString fileName = type.isEmpty() ? baseName : baseName + QLatin1Char('.') + type;
    for (const QString& folder : folders) {
        const QFileInfo candidate(QDir(folder), fileName);
        if (candidate.isFile()) {
            return candidate.absoluteFilePath();
        }
    }
    return {};
}

QString startImagePath() {
    return resourcePath(QString::fromUtf8(edition::startImageName),
                        QString::fromUtf8(edition::startImageType));
}

} // namespace zerbrak
