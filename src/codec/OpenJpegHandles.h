#pragma once

#include <memory>
#include <openjpeg.h>

namespace zerbrak::openjpeg {

// Owning handles for what libopenjp2 hands out, so every early return frees them.

struct CodecFree {
    void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct StreamFree {
    void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};
struct ImageFree {
    void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};

using Codec = std::unique_ptr<opj_codec_t, CodecFree>;
using Stream = std::unique_ptr<opj_stream_t, StreamFree>;
using Image = std::unique_ptr<opj_image_t, ImageFree>;

} // namespace zerbrak::openjpeg
