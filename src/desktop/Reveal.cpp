#include "Reveal.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QUrl>
#include <memory>

namespace zerbrak {
namespace {

constexpr int fileManagerTimeoutMs = 2000;

} // namespace

void revealInFileManager(const QString& path, const std::function<void()>& nobodyAnswered) {
    const QUrl url = QUrl::fromLocalFile(path);
    const auto openFolder = [url, nobodyAnswered] {
        if (!QDesktopServices::openUrl(url) && nobodyAnswered) {
            nobodyAnswered();
        }
    };
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{url.toString()} << QString();
    auto watcher =
        std::make_unique<QDBusPendingCallWatcher>(bus.asyncCall(call, fileManagerTimeoutMs));
    QObject::connect(watcher.get(), &QDBusPendingCallWatcher::finished,
                     [openFolder](QDBusPendingCallWatcher* finished) {
                         if (finished->isError()) {
                             openFolder();
                         }
                         finished->deleteLater();
                     });
    watcher.release(); // deletes itself once the answer or the timeout arrives
}

} // namespace zerbrak
