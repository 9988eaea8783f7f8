#include "MainWindow.h"
#include "ZerbrakAppDelegate.h"
#include "desktop/SingleInstance.h"
#include "platform/FileNames.h"
#include "platform/Resources.h"
#include "platform/ScratchFolder.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QIcon>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

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

// The launch arguments without those that are not valid UTF-8: Qt would turn such a name into
// text naming another file (or none), so each is named on stderr and left out instead.
std::vector<char*> textArguments(int argc, char* argv[]) {
    std::vector<char*> kept{argv, argv + std::min(argc, 1)};
    for (int i = 1; i < argc; ++i) {
        if (const QByteArray argument(argv[i]); zerbrak::nameSurvivesAsText(argument)) {
            kept.push_back(argv[i]);
        } else {
            std::fprintf(stderr, "zerbrak: %s is not opened: its name is not valid UTF-8\n",
                         zerbrak::escapedName(argument).toUtf8().constData());
        }
    }
    kept.push_back(nullptr);
    return kept;
}

void raise(QWidget& window) {
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    window.activateWindow();
}

} // namespace

int main(int argc, char* argv[]) {
    std::vector<char*> arguments = textArguments(argc, argv);
    int argumentCount = static_cast<int>(arguments.size()) - 1;
    QApplication app(argumentCount, arguments.data());
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
