#pragma once

// Shared by the RAR tests: the corpus and its bsdtar reference listing, and small archives
// made byte by byte for cases no real archive shows (4 GiB sizes, stored comments).

#include "rar/RarHash.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace rartest {

// The archives of the corpus that are well-formed (the README's table).
inline const std::vector<std::string>& WellFormedArchives() {
    static const std::vector<std::string> names = {"rar.rar",
                                                   "rar_noeof.rar",
                                                   "rar_subblock.rar",
                                                   "rar_windows.rar",
                                                   "rar_sfx.exe",
                                                   "rar_unicode.rar",
                                                   "rar_binary_data.rar",
                                                   "rar_compress_normal.rar",
                                                   "rar_compress_best.rar",
                                                   "rar_multi_lzss_blocks.rar",
                                                   "rar_filter.rar",
                                                   "rar_multivolume.part0001.rar",
                                                   "rar_multivolume.part0002.rar",
                                                   "rar_multivolume.part0003.rar",
                                                   "rar_multivolume.part0004.rar",
                                                   "rar_encryption_data.rar",
                                                   "rar_encryption_partially.rar",
                                                   "rar4_encrypted.rar",
                                                   "rar4_solid_encrypted.rar",
                                                   "rar5_encrypted.rar",
                                                   "rar5_solid_encrypted.rar",
                                                   "rar5_stored.rar",
                                                   "rar5_stored_manyfiles.rar",
                                                   "rar5_multiple_files.rar",
                                                   "rar5_multiple_files_solid.rar",
                                                   "rar5_solid.rar",
                                                   "rar5_compressed.rar",
                                                   "rar5_blake2.rar",
                                                   "rar5_multiarchive.part01.rar",
                                                   "rar5_multiarchive.part02.rar",
                                                   "rar5_multiarchive.part03.rar",
                                                   "rar5_multiarchive.part04.rar",
                                                   "rar5_multiarchive.part05.rar",
                                                   "rar5_multiarchive.part06.rar",
                                                   "rar5_multiarchive.part07.rar",
                                                   "rar5_multiarchive.part08.rar",
                                                   "rar5_multiarchive_solid.part01.rar",
                                                   "rar5_multiarchive_solid.part02.rar",
                                                   "rar5_multiarchive_solid.part03.rar",
                                                   "rar5_multiarchive_solid.part04.rar",
                                                   "rar5_unicode.rar",
                                                   "rar5_win32.rar",
                                                   "rar5_fileattr.rar",
                                                   "rar5_owner.rar",
                                                   "rar5_symlink.rar",
                                                   "rar5_hardlink.rar",
                                                   "rar5_extra_field_version.rar",
                                                   "rar5_sfx.exe"};
    return names;
}

// Archives with encrypted headers, and their password.
inline const std::vector<std::pair<std::string, std::string>>& HeaderEncryptedArchives() {
    static const std::vector<std::pair<std::string, std::string>> list = {
        {"rar_encryption_header.rar", "12345678"},
        {"rar4_encrypted_filenames.rar", "password"},
        {"rar4_solid_encrypted_filenames.rar", "password"},
        {"rar5_encrypted_filenames.rar", "password"},
        {"rar5_solid_encrypted_filenames.rar", "password"}};
    return list;
}

// Every corpus file that is neither well-formed nor header-encrypted: the damaged ones.
inline std::vector<std::string> DamagedArchives() {
    std::vector<std::string> out;
    const QStringList all = QDir(testenv::CorpusDir()).entryList(QDir::Files, QDir::Name);
    for (const QString& f : all) {
        const std::string name = f.toStdString();
        if (f == "README.md" || f == "bsdtar-listing.txt")
            continue;
        bool known = false;
        for (const auto& w : WellFormedArchives())
            known = known || w == name;
        for (const auto& h : HeaderEncryptedArchives())
            known = known || h.first == name;
        if (!known)
            out.push_back(name);
    }
    return out;
}

inline std::string CorpusPath(const std::string& name) {
    return (testenv::CorpusDir() + "/" + QString::fromStdString(name)).toStdString();
}

struct ListedEntry {
    std::string name;
    std::uint64_t size = 0;
    bool link = false; // symlink or hard link: bsdtar shows size 0
};

struct ListingSection {
    std::vector<ListedEntry> entries;
    bool error = false; // bsdtar gave up somewhere
};

// bsdtar-listing.txt, by archive name.
inline std::map<std::string, ListingSection> BsdtarListing() {
    std::map<std::string, ListingSection> out;
    QFile file(testenv::CorpusDir() + "/bsdtar-listing.txt");
    if (!file.open(QIODevice::ReadOnly))
        return out;
    static const QRegularExpression entry(QStringLiteral(
        "^\\s+(\\S+)\\s+\\d+\\s+\\S+\\s+\\S+\\s+(\\d+)\\s+\\w{3}\\s+\\d+\\s+\\S+\\s(.*)$"));
    ListingSection* current = nullptr;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw);
        if (line.startsWith("## ")) {
            current = &out[line.mid(3).trimmed().toStdString()];
            continue;
        }
        if (current == nullptr)
            continue;
        QString text = line;
        const qsizetype err = text.indexOf("bsdtar:");
        if (err >= 0) {
            current->error = true;
            text = text.left(err);
        }
        const QRegularExpressionMatch m = entry.match(text);
        if (!m.hasMatch())
            continue;
        ListedEntry e;
        QString name = m.captured(3);
        const bool symlink = m.captured(1).startsWith('l');
        qsizetype cut = name.indexOf(" -> ");
        if (cut < 0)
            cut = name.indexOf(" link to ");
        e.link = symlink || cut >= 0;
        if (cut >= 0)
            name = name.left(cut);
        e.name = name.toStdString();
        e.size = m.captured(2).toULongLong();
        current->entries.push_back(e);
    }
    return out;
}

inline std::vector<std::uint8_t> ReadFile(const std::string& path) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray b = f.readAll();
    return std::vector<std::uint8_t>(b.begin(), b.end());
}

inline bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& data) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(reinterpret_cast<const char*>(data.data()), static_cast<qint64>(data.size())) ==
           static_cast<qint64>(data.size());
}

// ---- archives made byte by byte ----

using Bytes = std::vector<std::uint8_t>;

inline void PutLe(Bytes& b, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline void PutVInt(Bytes& b, std::uint64_t v) {
    do {
        std::uint8_t byte = v & 0x7F;
        v >>= 7;
        if (v != 0)
            byte |= 0x80;
        b.push_back(byte);
    } while (v != 0);
}

inline Bytes Rar5Block(const Bytes& body) {
    Bytes size;
    PutVInt(size, body.size());
    Bytes h;
    h.reserve(4 + size.size() + body.size());
    for (int i = 0; i < 4; ++i)
        h.push_back(0);
    for (std::uint8_t b : size)
        h.push_back(b);
    for (std::uint8_t b : body)
        h.push_back(b);
    const std::uint32_t crc = rar::Crc32(0, h.data() + 4, h.size() - 4);
    for (int i = 0; i < 4; ++i)
        h[i] = static_cast<std::uint8_t>(crc >> (8 * i));
    return h;
}

inline Bytes Rar5Marker() {
    return {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x01, 0x00};
}

inline Bytes Rar5Main(std::uint64_t flags = 0) {
    Bytes body;
    PutVInt(body, 1);
    PutVInt(body, 0);
    PutVInt(body, flags);
    return Rar5Block(body);
}

inline Bytes Rar5End(bool more = false) {
    Bytes body;
    PutVInt(body, 5);
    PutVInt(body, 0);
    PutVInt(body, more ? 1 : 0);
    return Rar5Block(body);
}

// A stored file or service header (type 2 or 3) announcing `dataSize` bytes of data.
inline Bytes Rar5File(const std::string& name, std::uint64_t unpacked, std::uint64_t dataSize,
                      std::uint32_t crc, std::uint64_t headerFlags = 0, int type = 2) {
    Bytes body;
    PutVInt(body, type);
    PutVInt(body, 0x0002 | headerFlags);
    PutVInt(body, dataSize);
    PutVInt(body, 0x0004); // CRC present
    PutVInt(body, unpacked);
    PutVInt(body, 0x20);
    PutLe(body, crc, 4);
    PutVInt(body, 0); // stored
    PutVInt(body, 0); // Windows
    PutVInt(body, name.size());
    body.insert(body.end(), name.begin(), name.end());
    return Rar5Block(body);
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A RAR 5.0 archive whose one entry claims `size` bytes (beyond 4 GiB) but whose data is
// cut after the header: enough for a listing.
inline Bytes HugeRar5(std::uint64_t size) {
    return Concat({Rar5Marker(), Rar5Main(), Rar5File("huge.mkv", size, size, 0)});
}

// The same in RAR 1.5-4.x form, with the high words of the sizes.
inline Bytes HugeRar4(std::uint64_t size) {
    Bytes out = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
    auto block = [&](std::uint8_t type, std::uint16_t flags, const Bytes& fields) {
        Bytes h;
        PutLe(h, 0, 2);
        h.push_back(type);
        PutLe(h, flags, 2);
        PutLe(h, 7 + fields.size(), 2);
        h.insert(h.end(), fields.begin(), fields.end());
        const std::uint32_t crc = rar::Crc32(0, h.data() + 2, h.size() - 2);
        h[0] = static_cast<std::uint8_t>(crc);
        h[1] = static_cast<std::uint8_t>(crc >> 8);
        out.insert(out.end(), h.begin(), h.end());
    };
    block(0x73, 0, Bytes(6, 0));
    Bytes f;
    const std::string name = "huge.mkv";
    PutLe(f, size & 0xFFFFFFFFu, 4);
    PutLe(f, size & 0xFFFFFFFFu, 4);
    f.push_back(2);
    PutLe(f, 0x12345678, 4);
    PutLe(f, (30u << 25) | (6u << 21) | (15u << 16) | (12u << 11) | (30u << 5) | 10u, 4);
    f.push_back(20);
    f.push_back(0x30);
    PutLe(f, name.size(), 2);
    PutLe(f, 0x20, 4);
    PutLe(f, size >> 32, 4);
    PutLe(f, size >> 32, 4);
    f.insert(f.end(), name.begin(), name.end());
    block(0x74, 0x8000 | 0x0100, f);
    return out;
}

// A RAR 5.0 archive with a stored archive comment and one small file.
inline Bytes CommentedRar5(const std::string& comment) {
    const std::string data = "hello";
    Bytes cmt(comment.begin(), comment.end());
    Bytes file(data.begin(), data.end());
    return Concat(
        {Rar5Marker(), Rar5Main(),
         Rar5File("CMT", cmt.size(), cmt.size(), rar::Crc32(0, cmt.data(), cmt.size()), 0, 3), cmt,
         Rar5File("hello.txt", file.size(), file.size(), rar::Crc32(0, file.data(), file.size())),
         file, Rar5End()});
}

} // namespace rartest
