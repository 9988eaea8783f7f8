#include "HeaderFields.h"

#include <algorithm>
#include <cstring>

namespace corpus {

namespace {

using Bytes = std::span<const std::uint8_t>;

std::uint32_t bigEndian(Bytes bytes, std::size_t at, int width) {
    std::uint32_t value = 0;
    for (int i = 0; i < width; ++i) {
        value = (value << 8U) | bytes[at + static_cast<std::size_t>(i)];
    }
    return value;
}

std::uint32_t littleEndian(Bytes bytes, std::size_t at, int width) {
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value = (value << 8U) | bytes[at + static_cast<std::size_t>(i)];
    }
    return value;
}

std::uint32_t crc32(Bytes bytes) {
    std::uint32_t crc = 0xffffffffU;
    for (const std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1U) ^ (0xedb88320U & (0U - (crc & 1U)));
        }
    }
    return ~crc;
}

std::vector<HeaderField> pngFields(Bytes bytes) {
    if (bytes.size() < 33) {
        return {};
    }
    // IHDR is the first chunk; its CRC covers type and data, bytes 12..28.
    const auto field = [](const char* name, std::size_t offset, int width) {
        return HeaderField{name, offset, width, true, 12, 17};
    };
    return {field("width", 16, 4),     field("height", 20, 4),    field("depth", 24, 1),
            field("colortype", 25, 1), field("interlace", 28, 1), {"ihdrlength", 8, 4, true}};
}

std::vector<HeaderField> bmpFields(Bytes bytes) {
    if (bytes.size() < 54) {
        return {};
    }
    return {{"filesize", 2, 4},   {"dataoffset", 10, 4},  {"infosize", 14, 4},
            {"width", 18, 4},     {"height", 22, 4},      {"planes", 26, 2},
            {"bitcount", 28, 2},  {"compression", 30, 4}, {"imagesize", 34, 4},
            {"colorsused", 46, 4}};
}

std::vector<HeaderField> gifFields(Bytes bytes) {
    if (bytes.size() < 13) {
        return {};
    }
    std::vector<HeaderField> fields{
        {"screenwidth", 6, 2}, {"screenheight", 8, 2}, {"flags", 10, 1}};
    std::size_t at = 13;
    if ((bytes[10] & 0x80U) != 0) {
        at += 3U * (std::size_t{2} << (bytes[10] & 7U));
    }
    // Past the extensions to the first image descriptor.
    while (at < bytes.size() && bytes[at] == 0x21) {
        at += 2;
        while (at < bytes.size() && bytes[at] != 0) {
            at += bytes[at] + 1U;
        }
        ++at;
    }
    if (at + 11 <= bytes.size() && bytes[at] == 0x2c) {
        fields.insert(fields.end(), {{"left", at + 1, 2},
                                     {"top", at + 3, 2},
                                     {"width", at + 5, 2},
                                     {"height", at + 7, 2},
                                     {"imageflags", at + 9, 1}});
        std::size_t code = at + 10;
        if ((bytes[at + 9] & 0x80U) != 0) {
            code += 3U * (std::size_t{2} << (bytes[at + 9] & 7U));
        }
        if (code < bytes.size()) {
            fields.push_back({"lzwcodesize", code, 1});
        }
    }
    return fields;
}

std::vector<HeaderField> jpegFields(Bytes bytes) {
    std::vector<HeaderField> fields;
    // Marker segments from SOI up to the first scan.
    std::size_t at = 2;
    while (at + 4 <= bytes.size() && bytes[at] == 0xff) {
        const std::uint8_t marker = bytes[at + 1];
        const std::uint32_t length = bigEndian(bytes, at + 2, 2);
        const bool frame =
            marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
        if (frame && at + 10 <= bytes.size()) {
            fields.insert(fields.end(), {{"precision", at + 4, 1, true},
                                         {"height", at + 5, 2, true},
                                         {"width", at + 7, 2, true},
                                         {"components", at + 9, 1, true},
                                         {"sampling", at + 11, 1, true}});
        } else if (marker == 0xda && at + 5 <= bytes.size()) {
            fields.insert(fields.end(),
                          {{"scancomponents", at + 4, 1, true}, {"scanlength", at + 2, 2, true}});
            break;
        } else if (marker == 0xdb || marker == 0xc4) {
            fields.push_back({marker == 0xdb ? "dqtlength" : "dhtlength", at + 2, 2, true});
        }
        at += 2 + length;
    }
    return fields;
}

std::vector<HeaderField> tiffFields(Bytes bytes) {
    if (bytes.size() < 8 || (bytes[0] != 'I' && bytes[0] != 'M')) {
        return {};
    }
    const bool big = bytes[0] == 'M';
    const auto read = [&](std::size_t at, int width) {
        return big ? bigEndian(bytes, at, width) : littleEndian(bytes, at, width);
    };
    std::vector<HeaderField> fields{{"ifdoffset", 4, 4, big}};
    const std::size_t ifd = read(4, 4);
    if (ifd + 2 > bytes.size()) {
        return fields;
    }
    fields.push_back({"entrycount", ifd, 2, big});
    const std::size_t count = read(ifd, 2);
    for (std::size_t i = 0; i < count && ifd + 2 + 12 * (i + 1) <= bytes.size(); ++i) {
        const std::size_t entry = ifd + 2 + 12 * i;
        const std::uint32_t tag = read(entry, 2);
        const int width = read(entry + 2, 2) == 3 ? 2 : 4; // SHORT, else LONG
        const char* name = nullptr;
        switch (tag) {
        case 256:
            name = "width";
            break;
        case 257:
            name = "height";
            break;
        case 258:
            name = "bitspersample";
            break;
        case 259:
            name = "compression";
            break;
        case 262:
            name = "photometric";
            break;
        case 273:
            name = "stripoffsets";
            break;
        case 277:
            name = "samplesperpixel";
            break;
        case 278:
            name = "rowsperstrip";
            break;
        case 279:
            name = "stripbytecounts";
            break;
        default:
            break;
        }
        if (name != nullptr) {
            fields.push_back({name, entry + 8, width, big});
            fields.push_back({std::string(name) + "count", entry + 4, 4, big});
        }
    }
    return fields;
}

// Finds `pattern` in `bytes`; npos when it is not there.
std::size_t find(Bytes bytes, std::initializer_list<std::uint8_t> pattern) {
    const auto at = std::search(bytes.begin(), bytes.end(), pattern.begin(), pattern.end());
    return at == bytes.end() ? std::string_view::npos
                             : static_cast<std::size_t>(at - bytes.begin());
}

std::vector<HeaderField> jp2Fields(Bytes bytes) {
    std::vector<HeaderField> fields;
    if (const std::size_t ihdr = find(bytes, {'i', 'h', 'd', 'r'}); ihdr + 15 <= bytes.size()) {
        fields.insert(fields.end(), {{"boxheight", ihdr + 4, 4, true},
                                     {"boxwidth", ihdr + 8, 4, true},
                                     {"boxcomponents", ihdr + 12, 2, true},
                                     {"boxdepth", ihdr + 14, 1, true}});
    }
    if (const std::size_t siz = find(bytes, {0xff, 0x4f, 0xff, 0x51}); siz + 44 <= bytes.size()) {
        const std::size_t s = siz + 2; // the SIZ marker
        fields.insert(fields.end(), {{"xsiz", s + 6, 4, true},
                                     {"ysiz", s + 10, 4, true},
                                     {"xosiz", s + 14, 4, true},
                                     {"tilewidth", s + 22, 4, true},
                                     {"tileheight", s + 26, 4, true},
                                     {"csiz", s + 38, 2, true},
                                     {"ssiz", s + 40, 1, true},
                                     {"xrsiz", s + 41, 1, true}});
    }
    if (const std::size_t cod = find(bytes, {0xff, 0x52}); cod + 14 <= bytes.size()) {
        fields.insert(fields.end(), {{"progression", cod + 5, 1, true},
                                     {"layers", cod + 6, 2, true},
                                     {"levels", cod + 9, 1, true},
                                     {"blockwidth", cod + 10, 1, true},
                                     {"blockheight", cod + 11, 1, true}});
    }
    if (const std::size_t sot = find(bytes, {0xff, 0x90}); sot + 12 <= bytes.size()) {
        fields.insert(fields.end(),
                      {{"tileindex", sot + 4, 2, true}, {"tilepartlength", sot + 6, 4, true}});
    }
    return fields;
}

} // namespace

std::vector<HeaderField> headerFields(std::string_view target, Bytes bytes) {
    if (target == "png") {
        return pngFields(bytes);
    }
    if (target == "bmp") {
        return bmpFields(bytes);
    }
    if (target == "gif") {
        return gifFields(bytes);
    }
    if (target == "jpg") {
        return jpegFields(bytes);
    }
    if (target == "tiff") {
        return tiffFields(bytes);
    }
    return jp2Fields(bytes);
}

void setField(std::span<std::uint8_t> bytes, const HeaderField& field, std::uint32_t value) {
    if (field.offset + static_cast<std::size_t>(field.width) > bytes.size()) {
        return;
    }
    for (int i = 0; i < field.width; ++i) {
        const int shift = 8 * (field.bigEndian ? field.width - 1 - i : i);
        bytes[field.offset + static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(value >> static_cast<unsigned>(shift));
    }
    if (field.crcLength > 0 && field.crcStart + field.crcLength + 4 <= bytes.size()) {
        const std::uint32_t crc = crc32(bytes.subspan(field.crcStart, field.crcLength));
        for (int i = 0; i < 4; ++i) {
            bytes[field.crcStart + field.crcLength + static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(crc >> static_cast<unsigned>(24 - 8 * i));
        }
    }
}

} // namespace corpus
