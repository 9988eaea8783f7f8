#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QPoint>
#include <QRectF>
#include <QThreadPool>
#include <QTimer>
#include <mutex>
#include <optional>

namespace zerbrak {

// The picture area: shows one picture, centred when it is smaller than the area, with scroll
// bars (and dragged with the mouse) when it is larger. Sizes are in device pixels, so that a
// picture at 100 % shows its pixels one for one and damage stays crisp.
//
// How large the picture is drawn (its logical size): a new picture at its own size, shrunk by
// the fit rule when it is larger than the area; after fitToArea() at the size the fit rule
// gives it in the area (both follow the area when the window changes, and never scroll);
// after zoomTo() or setLogicalSize() at that size, whatever the area. An empty image clears
// the view.
//
// Drawing a large picture smaller takes a frame's worth of time or more, so the view draws a
// copy already scaled down: a run makes it on its own thread (displayCopy) and hands both
// over; after a change of area or size the view draws roughly and makes the smooth copy on a
// thread of its own. A picture drawn larger than its pixels needs no copy: only the part in
// view is drawn, each pixel a block.
class PictureView : public QAbstractScrollArea {
    Q_OBJECT
public:
    // What decides the drawn size of a new picture, copied as one piece so that any thread can
    // ask.
    struct ViewGeometry {
        QSize areaPixels; // the picture area in device pixels
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

    // The size the shown picture is drawn at, in device pixels; only how it is drawn.
    QSizeF logicalSize() const;
    void setLogicalSize(QSizeF size);
    // The fit rule, with the area's own size for the bounds, from the picture's own size.
    void fitToArea();
    // The drawn size over the picture's own: 1 at 100 %; 0 without a picture.
    double zoom() const;
    void zoomTo(double zoom);
    // Device pixels the shown picture covers now; empty when nothing is drawn.
    QSize shownPixels() const;

    // The picture area's own rectangle: origin (0, 0), its size in device pixels.
    QRectF bounds() const;

    // Any thread may ask.
    ViewGeometry viewGeometry() const;

    // The logical size of a new picture of `picture` pixels in an area of `area` pixels.
    static QSizeF naturalSize(QSizeF picture, QSize area);

    // `image`, newly put into `view`, as the view draws it: scaled down to its drawn pixels,
    // or null when it is drawn from its own pixels.
    static QImage displayCopy(const QImage& image, const ViewGeometry& view);

    QSize sizeHint() const override { return {800, 520}; }

signals:
    // The zoom (see zoom()) is another now: a new picture, a zoom, a fit, a fit that followed
    // the area.
    void zoomChanged(double zoom);
    // Ctrl and the wheel: so many zoom steps in (positive) or out.
    void zoomStepsRequested(int steps);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    enum class Sizing {
        Natural, // a new picture: its own size, shrunk to fit when larger
        Fitted,  // the fit rule in the area
        Fixed,   // fixedSize_, scrolled when larger than the area
    };

    QSizeF logicalSizeIn(const ViewGeometry& view) const;
    // Switches to `sizing`, keeping the point of the picture at the area's centre there.
    void changeSizing(Sizing sizing, QSizeF fixedSize);
    // The scroll bars' ranges for the present size, and the cursor that says it can be dragged.
    void updateScrollBars();
    // Where the picture lies in the viewport, in its units.
    QRectF pictureRect(QSize pixels) const;
    // Redraws, roughly until a smooth copy for the present size is back.
    void geometryChanged();
    void rescale();
    void reportZoom();

    QImage image_;
    Sizing sizing_ = Sizing::Natural;
    QSizeF fixedSize_;
    QImage display_;
    QTimer rescaleTimer_;
    // Counts rescales asked for: a copy made for an older one is thrown away.
    quint64 rescaleGeneration_ = 0;
    double reportedZoom_ = 0.0;
    // Where a drag with the mouse was last; none when not dragging.
    std::optional<QPoint> dragFrom_;
    int wheelZoomAngle_ = 0; // eighths of a degree not yet a whole step

    mutable std::mutex geometryMutex_;
    ViewGeometry geometry_;

    // Last, so that it is the first to go: waits for a copy being made, which refers to this.
    QThreadPool rescalePool_;
};

} // namespace zerbrak
