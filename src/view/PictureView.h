#pragma once

#include <QImage>
#include <QRectF>
#include <QThreadPool>
#include <QTimer>
#include <QWidget>
#include <mutex>
#include <optional>

namespace zerbrak {

// The picture area: shows one picture, never cropped. The view has its own coordinate
// rectangle, its bounds, shown in the widget as large as the widget allows with their aspect
// ratio kept, centred. The picture is drawn at its logical size in those units (a new picture
// at its pixel size), centred in the bounds and shrunk to fit when it is larger. Until bounds
// are set they follow the widget, one unit a device pixel: large pictures shrink to fit, small
// ones keep their size so that damage stays crisp. An empty image clears the view.
//
// Drawing a large picture scaled takes a frame's worth of time or more, so the view draws a
// copy already scaled to the size it shows: a run makes it on its own thread (displayCopy) and
// hands both over; after a resize or a change of bounds or logical size the view draws roughly
// and makes the smooth copy on a thread of its own.
class PictureView : public QWidget {
    Q_OBJECT
public:
    // The bounds that fitting and opening a picture give the view.
    static constexpr QRectF fixedViewBounds{0.0, 0.0, 2111.0, 619.0};

    // What decides the drawn size of a picture, copied as one piece so that any thread can ask.
    struct ViewGeometry {
        QSize areaPixels;             // the widget in device pixels
        std::optional<QRectF> bounds; // none: the bounds follow the widget
    };

    explicit PictureView(QWidget* parent = nullptr);
    ~PictureView() override;
    PictureView(const PictureView&) = delete;
    PictureView& operator=(const PictureView&) = delete;

    void setImage(const QImage& image);
    // `display` is displayCopy(image, viewGeometry()) made elsewhere; ignored when the view has
    // changed since.
    void setImage(const QImage& image, const QImage& display);
    const QImage& image() const { return image_; }

    // The size the shown picture is drawn at, in the bounds' units; only how it is drawn.
    QSizeF logicalSize() const { return logicalSize_; }
    void setLogicalSize(QSizeF size);

    QRectF bounds() const;
    void setBounds(const QRectF& rect);

    // Any thread may ask.
    ViewGeometry viewGeometry() const;

    // Device pixels a picture drawn at `size` covers in `view`; empty when nothing is drawn.
    static QSize drawnPixels(QSizeF size, const ViewGeometry& view);

    // `image`, newly put into `view`, as the view draws it: scaled to its drawn
    // pixels, or itself when it is drawn pixel for pixel already.
    static QImage displayCopy(const QImage& image, const ViewGeometry& view);

    QSize sizeHint() const override { return {800, 520}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Redraws, roughly until a smooth copy for the present geometry is back.
    void geometryChanged();
    void rescale();

    QImage image_;
    QSizeF logicalSize_;
    QImage display_;
    QTimer rescaleTimer_;
    // Counts rescales asked for: a copy made for an older one is thrown away.
    quint64 rescaleGeneration_ = 0;

    mutable std::mutex geometryMutex_;
    ViewGeometry geometry_;

    // Last, so that it is the first to go: waits for a copy being made, which refers to this.
    QThreadPool rescalePool_;
};

} // namespace zerbrak
