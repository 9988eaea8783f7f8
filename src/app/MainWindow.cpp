#include "MainWindow.h"

#include "core/ControlDefaults.h"
#include "core/CorruptionModes.h"
#include "core/TextValues.h"
#include "ui_MainWindow.h"
#include "view/PictureView.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QRegularExpressionValidator>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QUrl>
#include <QValidator>
#include <limits>
#include <memory>

namespace zerbrak {
namespace {

// Whole percents; a tenth where whole ones would read 0 % or round a tiny picture's fit away.
QString zoomText(double factor) {
    const double percent = factor * 100.0;
    return QStringLiteral("%L1 %").arg(percent, 0, 'f', percent < 10.0 ? 1 : 0);
}

// The number of frames as it is typed: digits only, never past the largest count a series
// reads as positive (2147483647); below 1 it is not yet a count.
class FrameCountValidator final : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int& /*pos*/) const override {
        if (input.isEmpty()) {
            return Intermediate;
        }
        for (const QChar c : input) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
                return Invalid;
            }
        }
        bool ok = false;
        const qlonglong count = input.toLongLong(&ok);
        if (!ok || count > std::numeric_limits<std::int32_t>::max()) {
            return Invalid;
        }
        return count < 1 ? Intermediate : Acceptable;
    }
};

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), ui_(std::make_unique<Ui::MainWindow>()) {
    ui_->setupUi(this);
    // The controls fit the default window whole; they scroll only in a window made shorter
    // than that, so that they never set the window's minimum height.
    auto* panelScroll = new QScrollArea(ui_->centralwidget);
    panelScroll->setObjectName(QStringLiteral("controlPanelScroll"));
    panelScroll->setFrameShape(QFrame::NoFrame);
    panelScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    panelScroll->setWidgetResizable(true);
    const int scrollBar = panelScroll->verticalScrollBar()->sizeHint().width();
    panelScroll->setMinimumWidth(ui_->controlPanel->minimumWidth() + scrollBar);
    panelScroll->setMaximumWidth(ui_->controlPanel->maximumWidth() + scrollBar);
    // The layout hands back the panel's old item and no longer owns it.
    const std::unique_ptr<QLayoutItem> panelItem(
        ui_->centralLayout->replaceWidget(ui_->controlPanel, panelScroll));
    panelScroll->setWidget(ui_->controlPanel);
    // Ctrl+= too: on most keyboards the plus is the shifted equals.
    ui_->actionZoomIn->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    auto* zoom = new QLabel(statusBar());
    zoom->setObjectName(QStringLiteral("statusZoom"));
    zoom->setToolTip(QStringLiteral("Zoom: the picture's drawn size against its own"));
    statusBar()->addPermanentWidget(zoom);
    connect(ui_->imageView, &PictureView::zoomChanged, zoom,
            [zoom](double factor) { zoom->setText(factor > 0.0 ? zoomText(factor) : QString()); });
    // Files dropped anywhere on the window, the picture area included, become the input.
    setAcceptDrops(true);
    ui_->tf_numFrames->setEnabled(ui_->bt_batch->isChecked());
    connect(ui_->sl_chance, &QSlider::valueChanged, this, &MainWindow::showChance);
    // The chance starts where zerbrak-cli's default is, whatever the form says.
    ui_->sl_chance->setValue(defaults::chance);
    showChance(defaults::chance);
    // Whole numbers only; a sign is allowed where the field wraps it (-1 is seed 4294967295
    // and byte 255). The count takes no sign: a run has at least one frame.
    const QRegularExpression signedWhole(QStringLiteral("[+-]?[0-9]*"));
    for (QLineEdit* field : {ui_->tf_randomSeed, ui_->tf_from, ui_->tf_to}) {
        field->setValidator(new QRegularExpressionValidator(signedWhole, field));
    }
    ui_->tf_numFrames->setValidator(new FrameCountValidator(ui_->tf_numFrames));
    // A count that would make no frame is shown as wrong while it is typed, read as Glitch
    // reads it: whatever text the field was given, the two never disagree.
    const auto markCount = [this] {
        const bool valid = low32Signed(integerValue(ui_->tf_numFrames->text().toStdString())) >= 1;
        ui_->tf_numFrames->setStyleSheet(valid ? QString()
                                               : QStringLiteral("QLineEdit { color: #c0392b; }"));
        ui_->tf_numFrames->setToolTip(valid ? QString()
                                            : QStringLiteral("Several frames needs a count of "
                                                             "at least 1"));
    };
    connect(ui_->tf_numFrames, &QLineEdit::textChanged, this, markCount);
    markCount();
}

MainWindow::~MainWindow() = default;

void MainWindow::showChance(int chance) {
    ui_->chanceValue->setNum(chance);
    const std::uint32_t interval = scatterInterval(chance);
    ui_->chanceDensity->setText(interval == 0
                                    ? QStringLiteral("nothing struck")
                                    : QStringLiteral("about 1 byte in %L1 struck").arg(interval));
}

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
