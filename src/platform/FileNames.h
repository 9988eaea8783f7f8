#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

namespace zerbrak {

// Paths travel through the engine as QString, which holds only valid UTF-8 faithfully: a name
// with other bytes comes back from QFile::decodeName with U+FFFD in their place, and encoded
// again it names another file. Such a name is refused where it enters, never used.

// `native` decodes to text that encodes back to the same bytes.
bool nameSurvivesAsText(const QByteArray& native);

// `native` as text for a message: valid UTF-8 as it stands, every other byte (and control
// characters) as \xNN, so the user can tell which name is meant.
QString escapedName(const QByteArray& native);

// One entry of a folder, as the system names it.
struct FolderEntry {
    QByteArray native;   // the name's bytes
    QString name;        // as text; only meaningful when usable
    bool usable = false; // the name survives as text

    // Hidden in the file manager: the name begins with a dot.
    bool hidden() const { return native.startsWith('.'); }
};

// Every entry of `folder` (hidden ones, folders, pipes, dangling links; not . and ..), in the
// order QDir::Name gives the text of the names, ties (names that differ only in bytes that are
// not UTF-8) broken by their bytes. Nothing when the folder cannot be listed.
std::vector<FolderEntry> listFolder(const QString& folder);

} // namespace zerbrak
