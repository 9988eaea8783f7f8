#include "MainWindow.h"
#include "ZerbrakAppDelegate.h"
#include "desktop/SingleInstance.h"
#include "platform/Resources.h"
#include "platform/ScratchFolder.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QIcon>
#include <memory>

namespace {

// The files named on the command line, as absolute paths: a running program that takes them
// over may have another working folder.
QStringList fileArguments(const QApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Makes glitch art: damages an image file's bytes and shows what the "
                       "decoder makes of them."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("Files to open; the last stays the input."),
                                 QStringLiteral("[FILE...]"));
    parser.process(app);
    QStringList files;
    for (const QString& argument : parser.positionalArguments()) {
        files << QFileInfo(argument).absoluteFilePath();
    }
    return files;
}

void raise(QWidget& window) {
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    window.activateWindow();
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zerbrak"));
    QApplication::setOrganizationDomain(QStringLiteral("zerbrak.org"));
    QApplication::setDesktopFileName(QStringLiteral(ZERBRAK_APP_ID));
    const QStringList files = fileArguments(app);

    // A program already running on this display takes the files, and this launch ends there.
    std::unique_ptr<zerbrak::SingleInstance> instance;
    if (const zerbrak::ScratchFolder folder = zerbrak::scratchFolder(); folder.usable()) {
        instance = std::make_unique<zerbrak::SingleInstance>(
            folder.path, QStringLiteral(ZERBRAK_APP_ID), zerbrak::currentDisplayTag());
        if (!instance->claim(files)) {
            return 0;
        }
    }

    if (const QString icon =
            zerbrak::resourcePath(QStringLiteral(ZERBRAK_APP_ID), QStringLiteral("png"));
        !icon.isEmpty()) {
        QApplication::setWindowIcon(QIcon(icon));
    }
    zerbrak::MainWindow window;
    zerbrak::ZerbrakAppDelegate delegate(window);
    window.show();
    // Start-up runs before the event loop takes any input, so no action finds an empty session,
    // and before the files handed over, so that they stay the input.
    delegate.applicationDidFinishLaunching();
    delegate.openFiles(files);
    if (instance) {
        QObject::connect(instance.get(), &zerbrak::SingleInstance::filesHandedOver, &delegate,
                         [&](const QStringList& handedOver) {
                             delegate.openFiles(handedOver);
                             raise(window);
                         });
    }
    return QApplication::exec();
}
