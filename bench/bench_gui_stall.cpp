// How long the window's event loop waits between two timer ticks while a frame series of slow
// passes runs: a 12-megapixel picture re-encoded to GIF before every pass. The goal is under
// 50 ms, whatever a pass costs.

#include "DetailedPicture.h"
#include "MainWindow.h"
#include "ZerbrakAppDelegate.h"
#include "platform/Log.h"
#include "ui_MainWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    QTemporaryDir dir;
    qputenv("HOME", dir.path().toUtf8());
    qputenv("XDG_RUNTIME_DIR", dir.path().toUtf8());
    const QString input = dir.filePath(QStringLiteral("photo.png"));
    detailedPicture(4000, 3000).save(input);

    zerbrak::MainWindow window;
    zerbrak::ZerbrakAppDelegate delegate(window);
    window.show();
    delegate.applicationDidFinishLaunching();
    delegate.session().inPath = input;
    delegate.session().endFormat = QStringLiteral("png");
    const int gif = delegate.popupbutton->findText(QStringLiteral("GIF"));
    delegate.popupbutton->setCurrentIndex(gif);
    delegate.TRANSCODEchange();
    delegate.bt_batch->setChecked(true);
    delegate.tf_numFrames->setText(QString::number(frames));

    zerbrak::LogCapture log;
    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 longestStall = 0;
    QTimer ticker;
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestStall = std::max(longestStall, clock.elapsed() - lastTick);
        lastTick = clock.elapsed();
    });
    QObject::connect(&delegate, &zerbrak::ZerbrakAppDelegate::runFinished, &app,
                     &QApplication::quit);
    // The run starts once the window has been drawn, as it would under a person's hand.
    QTimer::singleShot(500, &delegate, [&] {
        clock.start();
        ticker.start();
        delegate.DoStuff();
    });
    QApplication::exec();
    const qint64 runTime = clock.elapsed();
    const auto passes = std::max<qsizetype>(
        1, std::count_if(log.lines().cbegin(), log.lines().cend(), [](const QString& line) {
            return line.startsWith(QStringLiteral("numberofframes: "));
        }));
    std::printf("%d-frame GIF series of a 12-megapixel picture: %lld passes, %.0f ms per pass\n",
                frames, static_cast<long long>(passes),
                static_cast<double>(runTime) / static_cast<double>(passes));
    std::printf("Longest wait of the window's event loop during the run: %lld ms (goal: under "
                "50 ms)\n",
                static_cast<long long>(longestStall));
    return 0;
}
