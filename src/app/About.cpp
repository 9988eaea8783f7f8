#include "About.h"

#include "EditionConstants.h"

#include <QMessageBox>

namespace zerbrak {

QList<AboutOption> aboutOptions(const QIcon& applicationIcon) {
    return {
        {QStringLiteral("Version"), QString::fromUtf8(edition::aboutVersion)},
        {QStringLiteral("ApplicationName"), QStringLiteral("Zerbrak")},
        {QStringLiteral("ApplicationIcon"), QVariant::fromValue(applicationIcon)},
        {QStringLiteral("Copyright"), QString::fromUtf8(edition::aboutCopyright)},
    };
}

void showAboutPanel(QWidget& window, const QList<AboutOption>& options) {
    QString name;
    QString version;
    QString copyright;
    QIcon icon;
    for (const auto& [key, value] : options) {
        if (key == QLatin1String("Version")) {
            version = value.toString();
        } else if (key == QLatin1String("ApplicationName")) {
            name = value.toString();
        } else if (key == QLatin1String("ApplicationIcon")) {
            icon = value.value<QIcon>();
        } else if (key == QLatin1String("Copyright")) {
            copyright = value.toString();
        }
    }

    const QString objectName = QStringLiteral("aboutPanel");
    auto* panel = window.findChild<QMessageBox*>(objectName, Qt::FindDirectChildrenOnly);
    if (panel == nullptr) {
        panel = new QMessageBox(&window);
        panel->setObjectName(objectName);
        panel->setWindowModality(Qt::NonModal);
        panel->setStandardButtons(QMessageBox::Ok);
        panel->setTextFormat(Qt::RichText);
    }
    panel->setWindowTitle(QStringLiteral("About %1").arg(name));
    panel->setIconPixmap(icon.isNull() ? QPixmap() : icon.pixmap(96, 96));
    QString text = QStringLiteral("<h3>%1</h3>").arg(name.toHtmlEscaped());
    if (!version.isEmpty()) {
        text += QStringLiteral("<p>Version %1</p>").arg(version.toHtmlEscaped());
    }
    text += QStringLiteral("<p>%1</p>").arg(copyright.toHtmlEscaped());
    panel->setText(text);
    panel->show();
    panel->raise();
    panel->activateWindow();
}

} // namespace zerbrak
