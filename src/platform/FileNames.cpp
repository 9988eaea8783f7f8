#include "FileNames.h"

#include <QFile>
#include <algorithm>
#include <dirent.h>
#include <memory>

namespace zerbrak {
namespace {

bool continuation(const QByteArray& bytes, qsizetype at, unsigned char low = 0x80,
                  unsigned char high = 0xbf) {
    if (at >= bytes.size()) {
        return false;
    }
    const auto byte = static_cast<unsigned char>(bytes[at]);
    return byte >= low && byte <= high;
}

// The length of the well-formed UTF-8 sequence at `at` (no overlong forms, no surrogates,
// nothing past U+10FFFF), or 0 when the byte there starts none.
qsizetype sequenceLength(const QByteArray& bytes, qsizetype at) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xc2 && lead <= 0xdf) {
        return continuation(bytes, at + 1) ? 2 : 0;
    }
    if (lead >= 0xe0 && lead <= 0xef) {
        const unsigned char low = lead == 0xe0 ? 0xa0 : 0x80;
        const unsigned char high = lead == 0xed ? 0x9f : 0xbf;
        return continuation(bytes, at + 1, low, high) && continuation(bytes, at + 2) ? 3 : 0;
    }
    if (lead >= 0xf0 && lead <= 0xf4) {
        const unsigned char low = lead == 0xf0 ? 0x90 : 0x80;
        const unsigned char high = lead == 0xf4 ? 0x8f : 0xbf;
        return continuation(bytes, at + 1, low, high) && continuation(bytes, at + 2) &&
                       continuation(bytes, at + 3)
                   ? 4
                   : 0;
    }
    return 0;
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

} // namespace

bool nameSurvivesAsText(const QByteArray& native) {
    return QFile::encodeName(QFile::decodeName(native)) == native;
}

QString escapedName(const QByteArray& native) {
    QString text;
    for (qsizetype at = 0; at < native.size();) {
        const auto byte = static_cast<unsigned char>(native[at]);
        const qsizetype length = sequenceLength(native, at);
        if (length == 0 || byte < 0x20 || byte == 0x7f) {
            text += QStringLiteral("\\x") +
                    QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
            ++at;
        } else {
            text += QString::fromUtf8(native.constData() + at, length);
            at += length;
        }
    }
    return text;
}

std::vector<FolderEntry> listFolder(const QString& folder) {
    std::vector<FolderEntry> entries;
    const std::unique_ptr<DIR, DirCloser> dir(::opendir(QFile::encodeName(folder).constData()));
    if (!dir) {
        return entries;
    }
    while (const dirent* found = ::readdir(dir.get())) {
        const QByteArray native(found->d_name);
        if (native == "." || native == "..") {
            continue;
        }
        FolderEntry entry{native, QFile::decodeName(native), false};
        entry.usable = nameSurvivesAsText(native);
        entries.push_back(std::move(entry));
    }
    // QDir::Name's order, which the batch always had: the entries share one random sequence,
    // so a seed gives the same damage again only in the same order.
    std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) {
        if (const int order = a.name.compare(b.name, Qt::CaseSensitive); order != 0) {
            return order < 0;
        }
        return a.native < b.native;
    });
    return entries;
}

} // namespace zerbrak
