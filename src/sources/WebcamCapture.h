#pragma once

#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <gst/gst.h>
#include <memory>
#include <mutex>

namespace zerbrak {

// One reference on a GstSample; copying takes another, destruction drops it.
class SampleRef {
public:
    SampleRef() = default;
    // Takes over a reference the caller owns.
    static SampleRef adopt(GstSample* sample);
    // Takes a new reference.
    static SampleRef share(GstSample* sample);

    SampleRef(const SampleRef& other);
    SampleRef(SampleRef&& other) noexcept;
    SampleRef& operator=(const SampleRef& other);
    SampleRef& operator=(SampleRef&& other) noexcept;
    ~SampleRef();

    GstSample* get() const { return sample_; }
    explicit operator bool() const { return sample_ != nullptr; }
    void swap(SampleRef& other) noexcept;

private:
    GstSample* sample_ = nullptr;
};

// The newest camera frame, guarded by its own mutex. store() runs on the streaming thread at
// the camera's rate: it allocates, copies and logs nothing, and no reference is dropped under
// the lock, so the reader never waits for a frame's memory to be freed.
class NewestFrame {
public:
    NewestFrame() = default;
    NewestFrame(const NewestFrame&) = delete;
    NewestFrame& operator=(const NewestFrame&) = delete;

    // Takes its own reference on `delivered`, which stays the caller's.
    void store(GstSample* delivered);
    // A new reference, taken under the lock; empty before the first frame.
    SampleRef newest() const;
    // The newest frame when one has been stored since the call that set `seen` (0 before the
    // first), else empty; `seen` moves on with it. A new frame is told by its count, never by
    // its address: the allocator hands a released sample's memory to a later frame.
    SampleRef newerThan(std::uint64_t& seen) const;
    void clear();

private:
    mutable std::mutex mutex_;
    SampleRef current_;
    std::uint64_t stored_ = 0; // frames stored so far; clear() leaves it, so it never repeats
};

// A camera the system offers. `id` is what start() takes; `name` is for people.
struct CameraDevice {
    QString id;
    QString name;
};

// The capture pipeline: <source> ! videoconvert ! video/x-raw,format=BGRx ! appsink, the appsink
// keeping one buffer and dropping older ones. Lives on the GUI thread; the frame callback runs
// on GStreamer's streaming thread. Bus messages are read as they arrive through the buses'
// file descriptors, so no GLib main loop is needed.
//
// ZERBRAK_CAMERA_SOURCE, when set and not empty, replaces the default camera with a pipeline
// description for the source ("videotestsrc is-live=true pattern=smpte"); the value "none"
// means there is no camera at all: the device list stays empty and startDefault() finds nothing.
class WebcamCapture final : public QObject {
    Q_OBJECT
public:
    // `sample` is borrowed: the callee takes its own reference to keep it.
    using FrameCallback = std::function<void(GstSample* sample)>;

    explicit WebcamCapture(FrameCallback onFrame, QObject* parent = nullptr);
    // Takes the pipeline to NULL, which joins the streaming thread.
    ~WebcamCapture() override;

    // The cameras the device monitor sees (class "Video/Source"), kept current on hot-plug.
    QList<CameraDevice> cameras() const;
    // The source of ZERBRAK_CAMERA_SOURCE, else the first camera. Never blocks: while the
    // cameras are still being looked for, it starts the first one found. Silent without one.
    void startDefault();
    // One of cameras(); ZERBRAK_CAMERA_SOURCE is not consulted. An unknown id changes nothing.
    void start(const QString& deviceId);
    // Releases the camera (its light goes off); no frame arrives after this returns.
    void stop();
    // A pipeline is set up and has not failed, ended or lost its camera.
    bool live() const;
    // The running camera's id; empty for the ZERBRAK_CAMERA_SOURCE source or none.
    QString currentId() const;

signals:
    void camerasChanged();
    void liveChanged(bool live);

private:
    struct Private;
    std::unique_ptr<Private> d_;
};

// The frame as a picture: a deep copy, honouring the buffer's stride. Null for an empty
// reference or a frame that cannot be mapped.
QImage sampleToImage(const SampleRef& frame);

// Where a snapshot went: the path written, or a message for the user and an empty path.
struct SnapshotFile {
    QString path;
    QString error;
};

// Encodes `picture` as TIFF and writes it whole or not at all to "capture.tiff" in the
// scratch folder. Logs nothing, so the window's worker thread may call it.
SnapshotFile writeSnapshot(const QImage& picture);

} // namespace zerbrak
