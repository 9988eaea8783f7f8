#pragma once

#include "TranscodeTarget.h"
#include "codec/Encode.h"

#include <QString>
#include <array>
#include <optional>

namespace zerbrak {

// Everything the program says and does about one transcode target, in one row.
struct FormatRow {
    FixedTarget target;
    const char* title;        // the pop-up item
    const char* extension;    // what endFormat becomes; picks the mode and the output suffix
    const char* changeLog;    // logged when the pop-up picks it
    const char* transcodeLog; // logged by every transcode into it
    ImageFileType fileType;   // the encoder to use
    EncodeOptions options;    // only PNG sets one: interlaced
    const char* scratchName;  // file name in the scratch folder
};

// In pop-up order.
inline constexpr std::array<FormatRow, 6> formatTable{{
    {FixedTarget::Png,
     "PNG",
     "png",
     "I'm changing to PNG",
     "Transcoding to png",
     ImageFileType::Png,
     {.interlaced = true},
     "TEMP.png"},
    {FixedTarget::Bmp,
     "BMP",
     "bmp",
     "I'm changing to BMP",
     "Transcoding to bmp",
     ImageFileType::Bmp,
     {},
     "TEMP.bmp"},
    {FixedTarget::Jpg,
     "JPG",
     "jpg",
     "I'm changing to jpg",
     "Transcoding to jpg",
     ImageFileType::Jpeg,
     {},
     "TEMP.jpg"},
    {FixedTarget::Tiff,
     "TIFF",
     "tiff",
     "I'm changing to tiff",
     "Transcoding to tiff",
     ImageFileType::Tiff,
     {},
     "TEMP.tiff"},
    {FixedTarget::Gif,
     "GIF",
     "gif",
     "I'm changing to gif",
     "Transcoding to gif",
     ImageFileType::Gif,
     {},
     "TEMP.gif"},
    {FixedTarget::Jp2,
     "JPG 2000",
     "jp2",
     "I'm changing to jp2",
     "Transcoding to jp2",
     ImageFileType::Jpeg2000,
     {},
     "TEMP.jp2"},
}};

const FormatRow& formatRow(FixedTarget target);

// The row whose title is exactly `title` (case-sensitive), if any.
const FormatRow* rowForTitle(const QString& title);

// The row whose extension is exactly `extension`, if any.
const FormatRow* rowForExtension(const QString& extension);

} // namespace zerbrak
