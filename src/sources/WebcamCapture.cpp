#include "WebcamCapture.h"

#include "GstSupport.h"
#include "platform/Log.h"
#include "platform/QueuedCall.h"

#include <QSocketNotifier>
#include <algorithm>
#include <atomic>
#include <gst/app/gstappsink.h>
#include <thread>
#include <utility>
#include <vector>

namespace zerbrak {

using namespace gstsupport;

namespace {

constexpr const char* sourceVariable = "ZERBRAK_CAMERA_SOURCE";

void ensureGStreamer() {
    static const bool initialised = [] {
        gst_init(nullptr, nullptr);
        return true;
    }();
    static_cast<void>(initialised);
}

// A bus is read from its own handler, which may drop the bus with its notifier: deleting the
// notifier inside its own signal would pull it from under Qt, so it is only switched off there.
struct NotifierRelease {
    void operator()(QSocketNotifier* notifier) const {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
};
using NotifierPtr = std::unique_ptr<QSocketNotifier, NotifierRelease>;

// The bus's descriptor is readable while messages wait, so the GUI thread's own event loop
// reads them as they come: no GLib main loop and no polling.
template <typename Handler> NotifierPtr watchBus(GstBus* bus, QObject* owner, Handler onMessages) {
    GPollFD pollFd{};
    gst_bus_get_pollfd(bus, &pollFd);
    NotifierPtr notifier(new QSocketNotifier(pollFd.fd, QSocketNotifier::Read, owner));
    QObject::connect(notifier.get(), &QSocketNotifier::activated, owner, std::move(onMessages));
    return notifier;
}

struct DeviceListRelease {
    void operator()(GList* devices) const { g_list_free_full(devices, gst_object_unref); }
};
using DeviceListPtr = std::unique_ptr<GList, DeviceListRelease>;

QString takeText(gchar* text) {
    const TextPtr owned(text);
    return owned ? QString::fromUtf8(owned.get()) : QString();
}

// Stable across a session for the same camera, so a choice survives other cameras coming and
// going: the node's path where a provider gives one, else the device object's name.
QString deviceId(GstDevice* device) {
    const StructurePtr properties(gst_device_get_properties(device));
    if (properties) {
        for (const char* key : {"device.path", "object.path", "node.name"}) {
            if (const gchar* value = gst_structure_get_string(properties.get(), key)) {
                return QString::fromUtf8(value);
            }
        }
    }
    return takeText(gst_object_get_name(&device->parent));
}

// An element's message is for users and often names no file or device; the last line of its
// debug text (the lines before it say where in GStreamer) usually does.
QString errorLine(const GError* error, const gchar* debug) {
    QString line = QStringLiteral("Camera error: %1")
                       .arg(error ? QString::fromUtf8(error->message) : QStringLiteral("unknown"));
    const QString detail = QString::fromUtf8(debug).section(QLatin1Char('\n'), -1).trimmed();
    if (!detail.isEmpty()) {
        line += QStringLiteral(" (%1)").arg(detail);
    }
    return line;
}

struct Camera {
    CameraDevice info;
    DevicePtr device;
};

bool sameCameras(const std::vector<Camera>& a, const std::vector<Camera>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
        return x.info.id == y.info.id && x.info.name == y.info.name;
    });
}

} // namespace

struct WebcamCapture::Private {
    Private(WebcamCapture& owner, FrameCallback callback)
        : q(owner), onFrame(std::move(callback)) {}
    Private(const Private&) = delete;
    Private& operator=(const Private&) = delete;

    ~Private() {
        if (probe.joinable()) {
            probe.join();
        }
        dropPipeline();
        monitorWatch.reset();
        if (monitorStarted) {
            gst_device_monitor_stop(monitor.get());
        }
    }

    WebcamCapture& q;
    const FrameCallback onFrame;

    // Cameras. The monitor is started on a thread of its own: a provider may take its time.
    MonitorPtr monitor;
    BusPtr monitorBus;
    NotifierPtr monitorWatch;
    std::thread probe;
    std::atomic<bool> monitorStarted = false;
    bool probed = false;
    bool defaultPending = false;
    std::vector<Camera> cameras;

    // The running pipeline.
    ElementPtr pipeline;
    BusPtr bus;
    NotifierPtr busWatch;
    QString runningId;
    QString runningName;
    bool live = false;

    static GstFlowReturn newSample(GstAppSink* sink, gpointer self) noexcept {
        const SampleRef sample = SampleRef::adopt(gst_app_sink_pull_sample(sink));
        const auto& onFrame = static_cast<Private*>(self)->onFrame;
        if (sample && onFrame) {
            onFrame(sample.get());
        }
        return GST_FLOW_OK;
    }

    void setLive(bool now) {
        if (live != now) {
            live = now;
            emit q.liveChanged(now);
        }
    }

    // Joins the streaming thread: no frame arrives once this returns.
    void dropPipeline() {
        busWatch.reset();
        if (pipeline) {
            gst_element_set_state(pipeline.get(), GST_STATE_NULL);
        }
        bus.reset();
        pipeline.reset();
        runningId.clear();
        runningName.clear();
    }

    void fail(const QString& line) {
        if (!line.isEmpty()) {
            logLine(line);
        }
        dropPipeline();
        setLive(false);
    }

    void run(ElementPtr source, const QString& id, const QString& name) {
        dropPipeline();
        ElementPtr built = owned(gst_pipeline_new("zerbrak-camera"));
        ElementPtr convert = owned(gst_element_factory_make("videoconvert", nullptr));
        ElementPtr sink = owned(gst_element_factory_make("appsink", nullptr));
        if (!built || !convert || !sink) {
            fail(QStringLiteral("Camera error: GStreamer has no videoconvert or appsink"));
            return;
        }
        auto* bin = reinterpret_cast<GstBin*>(built.get());
        gst_bin_add(bin, source.get());
        gst_bin_add(bin, convert.get());
        gst_bin_add(bin, sink.get());
        if (!gst_element_link(source.get(), convert.get()) ||
            !gst_element_link(convert.get(), sink.get())) {
            fail(QStringLiteral("Camera error: the camera's pictures cannot be converted"));
            return;
        }

        auto* appSink = reinterpret_cast<GstAppSink*>(sink.get());
        const CapsPtr caps(gst_caps_from_string(rgb32Caps));
        gst_app_sink_set_caps(appSink, caps.get());
        // Only the newest frame matters; an older one waiting in the sink is dropped.
        gst_app_sink_set_max_buffers(appSink, 1);
        gst_app_sink_set_drop(appSink, TRUE);
        gst_app_sink_set_emit_signals(appSink, FALSE);
        // The sink would otherwise keep one more frame of its own alive.
        gst_base_sink_set_last_sample_enabled(&appSink->basesink, FALSE);
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = &Private::newSample;
        gst_app_sink_set_callbacks(appSink, &callbacks, this, nullptr);

        pipeline = std::move(built);
        bus.reset(gst_element_get_bus(pipeline.get()));
        busWatch = watchBus(bus.get(), &q, [this] { readBus(); });
        runningId = id;
        runningName = name;
        // Live sources change state asynchronously; a failure here was posted on the bus.
        if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
            readBus();
            if (pipeline) {
                fail(QStringLiteral("Camera error: the camera cannot start"));
            }
            return;
        }
        setLive(true);
    }

    void readBus() {
        while (bus) {
            const MessagePtr message(gst_bus_pop(bus.get()));
            if (!message) {
                return;
            }
            if (message->type == GST_MESSAGE_ERROR) {
                GError* error = nullptr;
                gchar* debug = nullptr;
                gst_message_parse_error(message.get(), &error, &debug);
                const ErrorPtr ownedError(error);
                const TextPtr ownedDebug(debug);
                fail(errorLine(error, debug));
            } else if (message->type == GST_MESSAGE_EOS) {
                fail(QString());
            }
        }
    }

    void startCamera(const Camera& camera) {
        ElementPtr source = owned(gst_device_create_element(camera.device.get(), nullptr));
        if (!source) {
            fail(QStringLiteral("Camera error: %1 cannot be opened").arg(camera.info.name));
            return;
        }
        run(std::move(source), camera.info.id, camera.info.name);
    }

    void startMonitor() {
        monitor.reset(gst_device_monitor_new());
        gst_device_monitor_add_filter(monitor.get(), "Video/Source", nullptr);
        monitorBus.reset(gst_device_monitor_get_bus(monitor.get()));
        monitorWatch = watchBus(monitorBus.get(), &q, [this] { readMonitorBus(); });
        probe = std::thread([this, started = monitor.get()] {
            monitorStarted = gst_device_monitor_start(started) != FALSE;
            postQueued(&q, [this] { probeFinished(); });
        });
    }

    void probeFinished() {
        probe.join();
        probed = true;
        refreshCameras();
        if (std::exchange(defaultPending, false) && !cameras.empty()) {
            startCamera(cameras.front());
        }
    }

    void readMonitorBus() {
        bool devicesChanged = false;
        while (const MessagePtr message{gst_bus_pop(monitorBus.get())}) {
            const GstMessageType type = message->type;
            devicesChanged = devicesChanged || type == GST_MESSAGE_DEVICE_ADDED ||
                             type == GST_MESSAGE_DEVICE_REMOVED ||
                             type == GST_MESSAGE_DEVICE_CHANGED;
        }
        if (devicesChanged) {
            refreshCameras();
        }
    }

    void refreshCameras() {
        if (!probed || !monitorStarted) {
            return;
        }
        const DeviceListPtr devices(gst_device_monitor_get_devices(monitor.get()));
        std::vector<Camera> found;
        for (GList* item = devices.get(); item != nullptr; item = item->next) {
            auto* device = static_cast<GstDevice*>(item->data);
            found.push_back({{deviceId(device), takeText(gst_device_get_display_name(device))},
                             DevicePtr(static_cast<GstDevice*>(gst_object_ref(device)))});
        }
        if (!sameCameras(found, cameras)) {
            cameras = std::move(found);
            emit q.camerasChanged();
        }
        const bool runningGone =
            !runningId.isEmpty() && std::none_of(cameras.begin(), cameras.end(),
                                                 [&](auto& c) { return c.info.id == runningId; });
        if (runningGone) {
            fail(QStringLiteral("Camera removed: %1").arg(runningName));
        }
    }
};

WebcamCapture::WebcamCapture(FrameCallback onFrame, QObject* parent)
    : QObject(parent), d_(std::make_unique<Private>(*this, std::move(onFrame))) {
    ensureGStreamer();
    if (qgetenv(sourceVariable) != "none") {
        d_->startMonitor();
    }
}

WebcamCapture::~WebcamCapture() = default;

QList<CameraDevice> WebcamCapture::cameras() const {
    QList<CameraDevice> list;
    list.reserve(static_cast<qsizetype>(d_->cameras.size()));
    for (const Camera& camera : d_->cameras) {
        list.append(camera.info);
    }
    return list;
}

void WebcamCapture::startDefault() {
    const QByteArray source = qgetenv(sourceVariable);
    if (source == "none") {
        stop();
        return;
    }
    if (!source.isEmpty()) {
        d_->defaultPending = false;
        GError* error = nullptr;
        ElementPtr bin = owned(gst_parse_bin_from_description(source.constData(), TRUE, &error));
        const ErrorPtr ownedError(error);
        if (error || !bin) {
            d_->fail(QStringLiteral("Camera error: %1 (%2)")
                         .arg(error ? QString::fromUtf8(error->message) : QString(),
                              QString::fromLocal8Bit(source)));
            return;
        }
        d_->run(std::move(bin), QString(), QString());
        return;
    }
    if (!d_->probed) {
        d_->defaultPending = true;
        return;
    }
    if (!d_->cameras.empty()) {
        d_->startCamera(d_->cameras.front());
    }
}

void WebcamCapture::start(const QString& deviceId) {
    const auto camera = std::find_if(d_->cameras.begin(), d_->cameras.end(),
                                     [&](const Camera& c) { return c.info.id == deviceId; });
    if (camera == d_->cameras.end()) {
        return;
    }
    d_->defaultPending = false;
    d_->startCamera(*camera);
}

void WebcamCapture::stop() {
    d_->defaultPending = false;
    d_->dropPipeline();
    d_->setLive(false);
}

bool WebcamCapture::live() const {
    return d_->live;
}

QString WebcamCapture::currentId() const {
    return d_->runningId;
}

} // namespace zerbrak
