#include "MainWindow.h"

#include "core/ControlDefaults.h"
#include "ui_MainWindow.h"

namespace zerbrak {

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), ui_(std::make_unique<Ui::MainWindow>()) {
    ui_->setupUi(this);
    ui_->tf_numFrames->setEnabled(ui_->bt_batch->isChecked());
    connect(ui_->sl_chance, &QSlider::valueChanged, ui_->chanceValue,
            qOverload<int>(&QLabel::setNum));
    // The chance starts where zerbrak-cli's default is, whatever the form says.
    ui_->sl_chance->setValue(defaults::chance);
    ui_->chanceValue->setNum(defaults::chance);
}

MainWindow::~MainWindow() = default;

} // namespace zerbrak
