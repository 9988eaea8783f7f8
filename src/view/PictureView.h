#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <cstdint>

namespace zerbrak {

// The picture area: shows one picture, scaled down to fit when it is larger than the area,
// never cropped. An empty image clears it.
//
// Drawing a large picture scaled takes a frame's worth of time or more, so the view draws a
// copy already scaled to the area: a run makes it on its own thread (displayCopy) and hands
// both over; after a resize the view draws quickly and rescales once the resizing stops.
class PictureView : public QWidget {
    Q_OBJECT
public:
    explicit PictureView(QWidget* parent = nullptr);

    void setImage(const QImage& image);
    // `display` is displayCopy(image, areaPixels()) made elsewhere; ignored when the area has
    // changed size since.
    void setImage(const QImage& image, const QImage& display);
    const QImage& image() const { return image_; }

    // The area's size in device pixels; any thread may ask.
    QSize areaPixels() const;

    // `image` as the view draws it into an area of `area` device pixels: shrunk to fit with
    // its aspect ratio kept, or itself when it fits already.
    static QImage displayCopy(const QImage& image, QSize area);

    QSize sizeHint() const override { return {800, 520}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void rescale();

    QImage image_;
    QImage display_;
    QTimer rescaleTimer_;
    std::atomic<std::uint64_t> areaPixels_{0}; // width in the high half, height in the low
};

} // namespace zerbrak
