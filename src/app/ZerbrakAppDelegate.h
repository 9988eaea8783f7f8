#pragma once

#include "WidgetDesktop.h"
#include "core/CorruptionModes.h"
#include "glitch/Session.h"

#include <QObject>
#include <QString>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMainWindow;
class QSlider;

namespace zerbrak {

class MainWindow;
class PictureView;

// The one controller: it holds references to the window's controls and the session state,
// and its actions are thin entries into the engine.
class ZerbrakAppDelegate : public QObject {
    Q_OBJECT
public:
    explicit ZerbrakAppDelegate(MainWindow& mainWindow, QObject* parent = nullptr);

    // Control references, set once from the window; the window owns the controls.
    QMainWindow* const window;
    PictureView* const imageView;
    QLineEdit* const tf_randomSeed;
    QLineEdit* const tf_from;
    QLineEdit* const tf_to;
    QSlider* const sl_chance;
    QCheckBox* const bt_replace;
    QCheckBox* const bt_batch;
    QCheckBox* const bt_preserve; // shown, never read
    QLineEdit* const tf_numFrames;
    QLabel* const outputCaptureView;
    QComboBox* const popupbutton;

    Session& session() { return session_; }
    WidgetDesktop& desktop() { return desktop_; }

    // The pass parameters as the controls hold them now.
    GlitchParams readGlitchParams() const;

    // One glitch pass with the current controls; returns the path written.
    QString doGlitch(const QString& inputPath, const QString& outName);

public slots:
    void applicationDidFinishLaunching();
    void InitilizeRandom();
    void DoStuff();
    void OpenOutputFolder();
    void TRANSCODEchange();

private:
    void wireActions(MainWindow& mainWindow);

    Session session_;
    WidgetDesktop desktop_;
};

} // namespace zerbrak
