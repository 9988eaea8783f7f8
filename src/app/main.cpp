#include "MainWindow.h"
#include "ZerbrakAppDelegate.h"
#include "platform/Resources.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zerbrak"));
    QApplication::setOrganizationDomain(QStringLiteral("zerbrak.org"));
    QApplication::setDesktopFileName(QStringLiteral(ZERBRAK_APP_ID));
    if (const QString icon =
            zerbrak::resourcePath(QStringLiteral(ZERBRAK_APP_ID), QStringLiteral("png"));
        !icon.isEmpty()) {
        QApplication::setWindowIcon(QIcon(icon));
    }

    zerbrak::MainWindow window;
    zerbrak::ZerbrakAppDelegate delegate(window);
    window.show();
    // Start-up runs once the window is up and before any action can reach the controller.
    QTimer::singleShot(0, &delegate, &zerbrak::ZerbrakAppDelegate::applicationDidFinishLaunching);
    return QApplication::exec();
}
