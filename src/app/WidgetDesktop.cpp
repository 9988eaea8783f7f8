#include "WidgetDesktop.h"

#include "view/PictureView.h"

#include <QMessageBox>
#include <QPushButton>

namespace zerbrak {

WidgetDesktop::WidgetDesktop(QWidget& window, PictureView& imageView)
    : window_(&window), imageView_(&imageView) {}

void WidgetDesktop::showImage(const QImage& image) {
    imageView_->setImage(image);
}

void WidgetDesktop::alertOutputFailed(const QString& outputPath) {
    QMessageBox alert(window_);
    alert.setObjectName(QStringLiteral("outputFailedAlert"));
    alert.setIcon(QMessageBox::Warning);
    alert.setWindowTitle(outputPath);
    // The path is data: shown as it is, never read as markup.
    alert.setTextFormat(Qt::PlainText);
    alert.setText(outputPath);
    QPushButton* button = alert.addButton(QStringLiteral("Open of testout for writing failed"),
                                          QMessageBox::AcceptRole);
    alert.setDefaultButton(button);
    alert.setEscapeButton(button);
    alert.exec();
}

} // namespace zerbrak
