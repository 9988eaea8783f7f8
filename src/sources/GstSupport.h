#pragma once

#include <bit>
#include <glib.h>
#include <gst/gst.h>
#include <gst/video/video-format.h>
#include <memory>

namespace zerbrak::gstsupport {

// The format the pipeline asks for: its bytes are QImage::Format_RGB32 in memory.
constexpr bool littleEndian = std::endian::native == std::endian::little;
constexpr GstVideoFormat rgb32Format = littleEndian ? GST_VIDEO_FORMAT_BGRx : GST_VIDEO_FORMAT_xRGB;
constexpr const char* rgb32Caps =
    littleEndian ? "video/x-raw,format=BGRx" : "video/x-raw,format=xRGB";

// Every reference GStreamer hands us is held by one of these, so no path forgets a release.
template <auto Release> struct Releaser {
    template <typename T> void operator()(T* object) const noexcept { Release(object); }
};

using ElementPtr = std::unique_ptr<GstElement, Releaser<gst_object_unref>>;
using BusPtr = std::unique_ptr<GstBus, Releaser<gst_object_unref>>;
using DevicePtr = std::unique_ptr<GstDevice, Releaser<gst_object_unref>>;
using MonitorPtr = std::unique_ptr<GstDeviceMonitor, Releaser<gst_object_unref>>;
using MessagePtr = std::unique_ptr<GstMessage, Releaser<gst_message_unref>>;
using CapsPtr = std::unique_ptr<GstCaps, Releaser<gst_caps_unref>>;
using StructurePtr = std::unique_ptr<GstStructure, Releaser<gst_structure_free>>;
using ErrorPtr = std::unique_ptr<GError, Releaser<g_error_free>>;
using TextPtr = std::unique_ptr<gchar, Releaser<g_free>>;

// Elements are created with a floating reference that the first bin they join would take
// over; sinking it makes the reference ours, and gst_bin_add then takes one of its own.
inline ElementPtr owned(GstElement* floating) {
    return ElementPtr(floating ? static_cast<GstElement*>(gst_object_ref_sink(floating)) : nullptr);
}

} // namespace zerbrak::gstsupport
