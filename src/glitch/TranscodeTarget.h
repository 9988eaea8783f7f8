#pragma once

#include <QString>
#include <variant>

namespace zerbrak {

// The six formats a pass can re-encode into before damaging.
enum class FixedTarget { Png, Bmp, Jpg, Tiff, Gif, Jp2 };

// Any other pop-up choice: kept as text, and never transcodes whatever it spells
// (a free text "png" is not the fixed target Png).
struct FreeText {
    QString text;
    friend bool operator==(const FreeText&, const FreeText&) = default;
};

using TranscodeTarget = std::variant<FreeText, FixedTarget>;

} // namespace zerbrak
