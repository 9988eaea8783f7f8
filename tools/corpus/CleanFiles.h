#pragma once

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

namespace corpus {

// One undamaged file the corpus starts from: the target it belongs to (its extension), what
// kind of picture it holds, its bytes, and how often it is damaged beside the others.
struct CleanFile {
    std::string target;
    std::string picture;
    std::vector<std::uint8_t> bytes;
    int weight = 8;
};

// Every clean file, in a fixed order: each picture through our encoders for each target, and
// the kinds our encoders never write (16 bits, grey, palette, progressive, interlaced GIF,
// several pages or frames) through Qt's writers or the format libraries. `scratch` is a folder
// for the libraries that only write to files.
std::vector<CleanFile> cleanFiles(const QString& scratch);

} // namespace corpus
