#include "MainWindow.h"
#include "ZerbrakAppDelegate.h"
#include "platform/Resources.h"

#include <QApplication>
#include <QIcon>

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
    // Start-up runs before the event loop takes any input, so no action finds an empty session.
    delegate.applicationDidFinishLaunching();
    return QApplication::exec();
}
