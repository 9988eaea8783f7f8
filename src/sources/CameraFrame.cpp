#include "GstSupport.h"
#include "WebcamCapture.h"

#include <cstdint>
#include <cstring>
#include <gst/video/video.h>
#include <utility>

namespace zerbrak {

SampleRef SampleRef::adopt(GstSample* sample) {
    SampleRef ref;
    ref.sample_ = sample;
    return ref;
}

SampleRef SampleRef::share(GstSample* sample) {
    return adopt(sample ? gst_sample_ref(sample) : nullptr);
}

SampleRef::SampleRef(const SampleRef& other)
    : sample_(other.sample_ ? gst_sample_ref(other.sample_) : nullptr) {}

SampleRef::SampleRef(SampleRef&& other) noexcept : sample_(std::exchange(other.sample_, nullptr)) {}

SampleRef& SampleRef::operator=(const SampleRef& other) {
    SampleRef(other).swap(*this);
    return *this;
}

SampleRef& SampleRef::operator=(SampleRef&& other) noexcept {
    SampleRef(std::move(other)).swap(*this);
    return *this;
}

SampleRef::~SampleRef() {
    if (sample_) {
        gst_sample_unref(sample_);
    }
}

void SampleRef::swap(SampleRef& other) noexcept {
    std::swap(sample_, other.sample_);
}

void NewestFrame::store(GstSample* delivered) {
    SampleRef frame = SampleRef::share(delivered);
    {
        const std::lock_guard lock(mutex_);
        current_.swap(frame);
        ++stored_;
    }
    // `frame` now holds the replaced one and drops it here, outside the lock.
}

SampleRef NewestFrame::newest() const {
    const std::lock_guard lock(mutex_);
    return current_;
}

SampleRef NewestFrame::newerThan(std::uint64_t& seen) const {
    const std::lock_guard lock(mutex_);
    if (stored_ == seen) {
        return {};
    }
    seen = stored_;
    return current_;
}

void NewestFrame::clear() {
    SampleRef dropped;
    const std::lock_guard lock(mutex_);
    current_.swap(dropped);
}

namespace {

class MappedFrame {
public:
    MappedFrame(const GstVideoInfo& info, GstBuffer* buffer)
        : mapped_(gst_video_frame_map(&frame_, &info, buffer, GST_MAP_READ) != FALSE) {}
    ~MappedFrame() {
        if (mapped_) {
            gst_video_frame_unmap(&frame_);
        }
    }
    MappedFrame(const MappedFrame&) = delete;
    MappedFrame& operator=(const MappedFrame&) = delete;

    bool mapped() const { return mapped_; }
    const std::uint8_t* row(int y) const {
        return static_cast<const std::uint8_t*>(frame_.data[0]) +
               static_cast<std::ptrdiff_t>(y) * frame_.info.stride[0];
    }

private:
    GstVideoFrame frame_{};
    bool mapped_;
};

} // namespace

QImage sampleToImage(const SampleRef& frame) {
    if (!frame) {
        return {};
    }
    GstCaps* caps = gst_sample_get_caps(frame.get());
    GstBuffer* buffer = gst_sample_get_buffer(frame.get());
    GstVideoInfo info;
    gst_video_info_init(&info);
    if (!caps || !buffer || !gst_video_info_from_caps(&info, caps) ||
        info.finfo->format != gstsupport::rgb32Format || info.width <= 0 || info.height <= 0) {
        return {};
    }
    const MappedFrame mapped(info, buffer);
    if (!mapped.mapped()) {
        return {};
    }
    QImage image(info.width, info.height, QImage::Format_RGB32);
    if (image.isNull()) {
        return {};
    }
    const auto rowBytes = static_cast<std::size_t>(info.width) * 4;
    for (int y = 0; y < info.height; ++y) {
        auto* line = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
        std::memcpy(line, mapped.row(y), rowBytes);
        // The padding byte is whatever the converter left; Format_RGB32 wants it opaque.
        for (int x = 0; x < info.width; ++x) {
            line[x] |= 0xFF000000U;
        }
    }
    return image;
}

} // namespace zerbrak
