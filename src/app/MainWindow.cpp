#include "MainWindow.h"

#include "core/ControlDefaults.h"
#include "ui_MainWindow.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace zerbrak {

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), ui_(std::make_unique<Ui::MainWindow>()) {
    ui_->setupUi(this);
    // Files dropped anywhere on the window, the picture area included, become the input.
    setAcceptDrops(true);
    ui_->tf_numFrames->setEnabled(ui_->bt_batch->isChecked());
    connect(ui_->sl_chance, &QSlider::valueChanged, ui_->chanceValue,
            qOverload<int>(&QLabel::setNum));
    // The chance starts where zerbrak-cli's default is, whatever the form says.
    ui_->sl_chance->setValue(defaults::chance);
    ui_->chanceValue->setNum(defaults::chance);
}

MainWindow::~MainWindow() = default;

namespace {

QStringList localFiles(const QMimeData* mime) {
    QStringList paths;
    if (mime != nullptr) {
        for (const QUrl& url : mime->urls()) {
            if (url.isLocalFile()) {
                paths << url.toLocalFile();
            }
        }
    }
    return paths;
}

} // namespace

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!localFiles(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QStringList paths = localFiles(event->mimeData());
    if (!paths.isEmpty()) {
        event->acceptProposedAction();
        emit filesDropped(paths);
    }
}

} // namespace zerbrak
