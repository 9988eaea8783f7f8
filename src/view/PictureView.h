#pragma once

#include <QImage>
#include <QWidget>

namespace zerbrak {

// The picture area: shows one picture, scaled down to fit when it is larger than the area,
// never cropped. An empty image clears it.
class PictureView : public QWidget {
    Q_OBJECT
public:
    explicit PictureView(QWidget* parent = nullptr);

    void setImage(const QImage& image);
    const QImage& image() const { return image_; }

    QSize sizeHint() const override { return {800, 520}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
};

} // namespace zerbrak
