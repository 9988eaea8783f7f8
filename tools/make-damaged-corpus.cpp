// Writes a corpus of damaged files for scripts/corpus to decode: clean files of the six targets
// (see corpus/CleanFiles.h), each damaged by the three corruption modes whatever its format,
// truncated, zeroed over a range, or with a header field set to an extreme value. The same
// arguments give the same files. Each file is named for what it is, so a finding can be read
// back and made again:
//   <target>/<kind>/<picture>-<how>.<target>
//   strike   -s<seed>                  one byte, drawn from the seed
//   scatter  -s<seed>-c<chance>[-r<from>to<to>]
//   rewrite  -plain, or -s..-c..[-r..]: the line-break rewrite after a scatter as above
//   trunc    -t<length>                the first <length> bytes
//   zero     -z<start>+<length>        that range set to zero
//   field    -f<field>-<hex value>     see corpus/HeaderFields.cpp for where each field lies

#include "core/CorruptionModes.h"
#include "corpus/CleanFiles.h"
#include "corpus/HeaderFields.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unordered_set>

namespace {

namespace fs = std::filesystem;
using zerbrak::CorruptionMode;
using zerbrak::GlitchParams;
using zerbrak::RandomSource;

enum class Kind { Strike, Scatter, Rewrite, Trunc, Zero, Field };
constexpr std::array<const char*, 6> kindNames{"strike", "scatter", "rewrite",
                                               "trunc",  "zero",    "field"};

// Twenty files of one clean file in a row take these kinds: mostly the modes, which are what
// the program does, and the rest the damage a file meets elsewhere.
constexpr std::array<Kind, 20> kindCycle{Kind::Strike,  Kind::Scatter, Kind::Trunc,   Kind::Zero,
                                         Kind::Scatter, Kind::Strike,  Kind::Rewrite, Kind::Field,
                                         Kind::Scatter, Kind::Trunc,   Kind::Strike,  Kind::Scatter,
                                         Kind::Rewrite, Kind::Zero,    Kind::Scatter, Kind::Trunc,
                                         Kind::Strike,  Kind::Scatter, Kind::Rewrite, Kind::Field};

constexpr std::array<std::uint32_t, 5> extremes{0, 1, 0x7fff, 0xffff, 0xffffffff};

struct Damaged {
    Kind kind;
    std::string how;
    std::vector<std::uint8_t> bytes;
};

// A scatter with parameters drawn from `seed` alone, named by them.
Damaged scatter(const std::vector<std::uint8_t>& clean, std::uint32_t seed) {
    RandomSource draws(seed * 2654435761U);
    GlitchParams params;
    params.chance = static_cast<std::int32_t>(draws.draw() % 101);
    params.replace = draws.draw() % 2 == 1;
    params.fromByte = static_cast<std::uint8_t>(draws.draw());
    params.toByte = static_cast<std::uint8_t>(draws.draw());
    std::string how = "-s" + std::to_string(seed) + "-c" + std::to_string(params.chance);
    if (params.replace) {
        how += "-r" + std::to_string(params.fromByte) + "to" + std::to_string(params.toByte);
    }
    RandomSource random(seed);
    return {Kind::Scatter, how,
            zerbrak::applyMode(CorruptionMode::ReplaceAndScatter, clean, params, random)};
}

std::string hex(std::uint32_t value) {
    std::array<char, 9> text{};
    const auto end = std::to_chars(text.data(), text.data() + text.size(), value, 16).ptr;
    return {text.data(), end};
}

// The `index`-th damage of `kind` to `clean`; counting from 0 for each kind and clean file.
Damaged damage(Kind kind, std::uint32_t index, const corpus::CleanFile& clean) {
    const std::uint32_t seed = index + 1;
    const std::size_t size = clean.bytes.size();
    RandomSource draws(seed * 40503U + static_cast<std::uint32_t>(kind));
    switch (kind) {
    case Kind::Strike: {
        RandomSource random(seed);
        return {kind, "-s" + std::to_string(seed),
                zerbrak::applyMode(CorruptionMode::SingleByteStrike, clean.bytes, {}, random)};
    }
    case Kind::Scatter:
        return scatter(clean.bytes, seed);
    case Kind::Rewrite: {
        RandomSource unused;
        Damaged base =
            index == 0 ? Damaged{kind, "-plain", clean.bytes} : scatter(clean.bytes, seed);
        return {kind, base.how,
                zerbrak::applyMode(CorruptionMode::LineBreakRewrite, std::move(base.bytes), {},
                                   unused)};
    }
    case Kind::Trunc: {
        // One in four within the first 200 bytes, where the headers are.
        const std::size_t reach = index % 4 == 0 ? std::min<std::size_t>(size, 200) : size;
        const std::size_t length = draws.draw() % reach;
        return {kind,
                "-t" + std::to_string(length),
                {clean.bytes.begin(), clean.bytes.begin() + static_cast<std::ptrdiff_t>(length)}};
    }
    case Kind::Zero: {
        const std::size_t start = draws.draw() % size;
        const std::size_t length =
            std::min<std::size_t>(std::size_t{1} << (draws.draw() % 11), size - start);
        std::vector<std::uint8_t> bytes = clean.bytes;
        std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(start), length, std::uint8_t{0});
        return {kind, "-z" + std::to_string(start) + "+" + std::to_string(length),
                std::move(bytes)};
    }
    case Kind::Field: {
        const auto fields = corpus::headerFields(clean.target, clean.bytes);
        if (index >= fields.size() * extremes.size()) {
            return {kind, {}, {}}; // every field has had every value
        }
        const corpus::HeaderField& field = fields[index / extremes.size()];
        const std::uint32_t value = extremes[index % extremes.size()];
        std::vector<std::uint8_t> bytes = clean.bytes;
        corpus::setField(bytes, field, value);
        return {kind, "-f" + field.name + "-" + hex(value), std::move(bytes)};
    }
    }
    return {kind, {}, {}};
}

// Clean files in turns, each as often as its weight says, spread over the turn.
std::vector<std::size_t> schedule(const std::vector<corpus::CleanFile>& files) {
    std::vector<std::size_t> order;
    const int most = std::ranges::max(files, {}, &corpus::CleanFile::weight).weight;
    for (int round = 0; round < most; ++round) {
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (files[i].weight > round) {
                order.push_back(i);
            }
        }
    }
    return order;
}

bool writeFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char* argv[]) {
    const QCoreApplication application(argc, argv);
    std::uint64_t count = 0;
    if (argc != 3 ||
        std::from_chars(argv[2], argv[2] + std::strlen(argv[2]), count).ec != std::errc{}) {
        std::fprintf(stderr, "Usage: %s OUT_DIR COUNT\n", argv[0]);
        return 2;
    }
    const fs::path out = argv[1];
    const QTemporaryDir scratch;
    const std::vector<corpus::CleanFile> files = corpus::cleanFiles(scratch.path());
    const std::vector<std::size_t> order = schedule(files);
    // Per clean file: how many of each kind it has had, and the names it has given.
    std::vector<std::array<std::uint32_t, kindNames.size()>> made(files.size());
    std::vector<std::unordered_set<std::string>> names(files.size());
    std::unordered_set<std::string> folders;
    std::uint64_t bytes = 0;
    for (std::uint64_t n = 0; n < count; ++n) {
        const std::size_t source = order[n % order.size()];
        const corpus::CleanFile& clean = files[source];
        auto& counts = made[source];
        Kind kind =
            kindCycle[(counts[0] + counts[1] + counts[2] + counts[3] + counts[4] + counts[5]) %
                      kindCycle.size()];
        Damaged damaged = damage(kind, counts[static_cast<std::size_t>(kind)]++, clean);
        // A damage already made (a truncation length drawn twice, every field done) gives way
        // to the next scatter, whose names never repeat.
        while (damaged.how.empty() ||
               names[source].contains(damaged.how +
                                      kindNames[static_cast<std::size_t>(damaged.kind)])) {
            damaged = damage(Kind::Scatter, counts[1]++, clean);
        }
        const char* kindName = kindNames[static_cast<std::size_t>(damaged.kind)];
        names[source].insert(damaged.how + kindName);
        const fs::path folder = out / clean.target / kindName;
        if (folders.insert(folder.string()).second) {
            fs::create_directories(folder);
        }
        const fs::path path = folder / (clean.picture + damaged.how + "." + clean.target);
        if (!writeFile(path, damaged.bytes)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        bytes += damaged.bytes.size();
    }
    std::printf("%llu damaged files, %.0f MiB, from %zu clean files\n",
                static_cast<unsigned long long>(count), static_cast<double>(bytes) / (1 << 20),
                files.size());
    return 0;
}
