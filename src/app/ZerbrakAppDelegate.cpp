#include "ZerbrakAppDelegate.h"

#include "MainWindow.h"
#include "codec/Decode.h"
#include "core/TextValues.h"
#include "glitch/GlitchPass.h"
#include "glitch/TranscodeChange.h"
#include "platform/Resources.h"
#include "runs/FrameSeries.h"
#include "runs/OutputFolder.h"
#include "ui_MainWindow.h"

#include <QDateTime>
#include <QDir>

namespace zerbrak {
namespace {

std::int64_t fieldNumber(const QLineEdit* field) {
    return integerValue(field->text().toStdString());
}

} // namespace

ZerbrakAppDelegate::ZerbrakAppDelegate(MainWindow& mainWindow, QObject* parent)
    : QObject(parent), window(&mainWindow), imageView(mainWindow.ui().imageView),
      tf_randomSeed(mainWindow.ui().tf_randomSeed), tf_from(mainWindow.ui().tf_from),
      tf_to(mainWindow.ui().tf_to), sl_chance(mainWindow.ui().sl_chance),
      bt_replace(mainWindow.ui().bt_replace), bt_batch(mainWindow.ui().bt_batch),
      bt_preserve(mainWindow.ui().bt_preserve), tf_numFrames(mainWindow.ui().tf_numFrames),
      outputCaptureView(mainWindow.ui().outputCaptureView),
      popupbutton(mainWindow.ui().popupbutton), desktop_(mainWindow, *imageView) {
    wireActions(mainWindow);
}

void ZerbrakAppDelegate::wireActions(MainWindow& mainWindow) {
    Ui::MainWindow& ui = mainWindow.ui();
    connect(ui.actionReseed, &QAction::triggered, this, &ZerbrakAppDelegate::InitilizeRandom);
    connect(ui.reseedButton, &QPushButton::clicked, this, &ZerbrakAppDelegate::InitilizeRandom);
    connect(ui.actionQuit, &QAction::triggered, &mainWindow, &QWidget::close);

    connect(ui.actionGlitch, &QAction::triggered, this, &ZerbrakAppDelegate::DoStuff);
    connect(ui.glitchButton, &QPushButton::clicked, ui.actionGlitch, &QAction::trigger);
    connect(ui.actionRevealOutput, &QAction::triggered, this,
            &ZerbrakAppDelegate::OpenOutputFolder);
    connect(ui.revealButton, &QPushButton::clicked, ui.actionRevealOutput, &QAction::trigger);
    connect(ui.popupbutton, &QComboBox::activated, this, &ZerbrakAppDelegate::TRANSCODEchange);
}

GlitchParams ZerbrakAppDelegate::readGlitchParams() const {
    GlitchParams params;
    params.fromByte = low8(fieldNumber(tf_from));
    params.toByte = low8(fieldNumber(tf_to));
    params.replace = bt_replace->checkState() != Qt::Unchecked;
    params.chance = sl_chance->value();
    return params;
}

QString ZerbrakAppDelegate::doGlitch(const QString& inputPath, const QString& outName) {
    return zerbrak::doGlitch(session_, readGlitchParams(), desktop_, inputPath, outName);
}

void ZerbrakAppDelegate::applicationDidFinishLaunching() {
    const QString startImage = startImagePath();
    startSession(session_, startImage, fieldNumber(tf_randomSeed),
                 QDateTime::currentSecsSinceEpoch());
    desktop_.showImage(decodeImageFile(session_.inPath).image);
}

void ZerbrakAppDelegate::InitilizeRandom() {
    reseed(session_, fieldNumber(tf_randomSeed));
}

void ZerbrakAppDelegate::DoStuff() {
    const std::int32_t frameCount =
        bt_batch->checkState() != Qt::Unchecked ? low32Signed(fieldNumber(tf_numFrames)) : 1;
    runFrameSeries(session_, readGlitchParams(), frameCount, QDir::homePath(), desktop_);
}

void ZerbrakAppDelegate::OpenOutputFolder() {
    const QString home = QDir::homePath();
    ensureOutputFolder(home);
    desktop_.revealFolder(outputFolderPath(home));
}

void ZerbrakAppDelegate::TRANSCODEchange() {
    transcodeChange(session_, popupbutton->currentText());
}

} // namespace zerbrak
