// libunrar.so through its exported C interface, loaded from the build's bin folder.

#include "libunrar/UnrarInterface.h"
#include "rar/ArchiveWriter.h"
#include "rar/RarTestUtil.h"
#include "rar/RarText.h"

#include <QFile>
#include <QLibrary>
#include <cstring>
#include <gtest/gtest.h>

namespace {

// No listing of ours has more entries than this; a library that goes on is looping.
constexpr int kMaxEntries = 100000;

struct Dll {
    QLibrary lib{testenv::BinDir() + "/libunrar.so"};
    RAROpenArchiveEx_t open = nullptr;
    RARCloseArchive_t close = nullptr;
    RARReadHeader_t readOld = nullptr;
    RARReadHeaderEx_t read = nullptr;
    RARProcessFile_t process = nullptr;
    RARSetCallback_t setCallback = nullptr;
    RARSetPassword_t setPassword = nullptr;
    RARGetDllVersion_t version = nullptr;
    Dll() {
        if (!lib.load())
            return;
        open = reinterpret_cast<RAROpenArchiveEx_t>(lib.resolve("RAROpenArchiveEx"));
        close = reinterpret_cast<RARCloseArchive_t>(lib.resolve("RARCloseArchive"));
        readOld = reinterpret_cast<RARReadHeader_t>(lib.resolve("RARReadHeader"));
        read = reinterpret_cast<RARReadHeaderEx_t>(lib.resolve("RARReadHeaderEx"));
        process = reinterpret_cast<RARProcessFile_t>(lib.resolve("RARProcessFile"));
        setCallback = reinterpret_cast<RARSetCallback_t>(lib.resolve("RARSetCallback"));
        setPassword = reinterpret_cast<RARSetPassword_t>(lib.resolve("RARSetPassword"));
        version = reinterpret_cast<RARGetDllVersion_t>(lib.resolve("RARGetDllVersion"));
    }
};

Dll& Library() {
    static Dll dll;
    return dll;
}

// Records the callbacks and answers them from a small script.
struct Script {
    std::vector<std::pair<unsigned int, long>> calls; // message, P2
    std::string password;   // answer to UCM_NEEDPASSWORD; empty: -1 (Cancel)
    int volumeAnswer = 0;   // answer to RAR_VOL_ASK
    std::string volumeName; // written into the request when set
    std::uint64_t processed = 0;
};

int ScriptCallback(unsigned int msg, RAR_LPARAM userData, RAR_LPARAM p1, RAR_LPARAM p2) {
    auto* s = reinterpret_cast<Script*>(userData);
    s->calls.emplace_back(msg, p2);
    switch (msg) {
    case UCM_NEEDPASSWORD:
        if (s->password.empty())
            return -1;
        std::strncpy(reinterpret_cast<char*>(p1), s->password.c_str(), static_cast<size_t>(p2) - 1);
        return 0;
    case UCM_CHANGEVOLUME:
        if (p2 == RAR_VOL_ASK) {
            if (!s->volumeName.empty())
                std::strcpy(reinterpret_cast<char*>(p1), s->volumeName.c_str());
            return s->volumeAnswer;
        }
        return 0;
    case UCM_PROCESSDATA:
        s->processed += static_cast<std::uint64_t>(p2);
        return 0;
    default:
        return 0;
    }
}

struct Item {
    std::string name;
    unsigned int flags = 0;
    std::uint64_t packed = 0, unpacked = 0;
    unsigned int host = 0, crc = 0, version = 0, method = 0;
};

struct Result {
    bool opened = false;
    unsigned int openResult = 0, archiveFlags = 0, cmtState = 0, cmtSize = 0;
    std::string comment;
    std::vector<Item> items;
    int end = 0;       // the code that ended the walk
    int processed = 0; // result of the last RARProcessFile
};

std::string Utf8(const wchar_t* w) {
    std::u32string s;
    for (; *w != L'\0'; ++w)
        s.push_back(static_cast<char32_t>(*w));
    return rar::Utf32ToUtf8(s);
}

Result Walk(const std::string& path, unsigned int mode, Script* script, int operation = RAR_SKIP,
            const std::string& dest = {}, unsigned int cmtBufSize = 4096) {
    Dll& d = Library();
    Result r;
    std::vector<char> cmt(cmtBufSize + 1, '\0');
    RAROpenArchiveDataEx open;
    std::memset(&open, 0, sizeof open);
    std::u32string w = rar::Utf8ToUtf32(path);
    std::vector<wchar_t> name(w.begin(), w.end());
    name.push_back(L'\0');
    open.ArcNameW = name.data();
    open.OpenMode = mode;
    open.CmtBuf = cmtBufSize > 0 ? cmt.data() : nullptr;
    open.CmtBufSize = cmtBufSize;
    if (script != nullptr) {
        open.Callback = &ScriptCallback;
        open.UserData = reinterpret_cast<RAR_LPARAM>(script);
    }
    void* h = d.open(&open);
    r.openResult = open.OpenResult;
    r.archiveFlags = open.Flags;
    r.cmtState = open.CmtState;
    r.cmtSize = open.CmtSize;
    if (open.CmtState == 1 || open.CmtState == ERAR_SMALL_BUF)
        r.comment = cmt.data();
    if (h == nullptr)
        return r;
    r.opened = true;
    auto header = std::make_unique<RARHeaderDataEx>();
    std::memset(header.get(), 0, sizeof *header);
    for (int i = 0; i < kMaxEntries; ++i) {
        int code = d.read(h, header.get());
        if (code != 0) {
            r.end = code;
            break;
        }
        Item it;
        it.name = Utf8(header->FileNameW);
        EXPECT_EQ(it.name, header->FileName);
        it.flags = header->Flags;
        it.packed = (static_cast<std::uint64_t>(header->PackSizeHigh) << 32) | header->PackSize;
        it.unpacked = (static_cast<std::uint64_t>(header->UnpSizeHigh) << 32) | header->UnpSize;
        it.host = header->HostOS;
        it.crc = header->FileCRC;
        it.version = header->UnpVer;
        it.method = header->Method;
        r.items.push_back(it);
        const std::string target = dest.empty() ? std::string() : dest;
        r.processed = d.process(
            h, operation, target.empty() ? nullptr : const_cast<char*>(target.c_str()), nullptr);
        if (r.processed != 0) {
            r.end = r.processed;
            break;
        }
    }
    EXPECT_EQ(d.close(h), 0);
    return r;
}

TEST(Libunrar, ExportsTheInterface) {
    Dll& d = Library();
    ASSERT_TRUE(d.lib.isLoaded()) << d.lib.errorString().toStdString();
    for (const char* name :
         {"RAROpenArchive", "RAROpenArchiveEx", "RARCloseArchive", "RARReadHeader",
          "RARReadHeaderEx", "RARProcessFile", "RARSetCallback", "RARSetChangeVolProc",
          "RARSetProcessDataProc", "RARSetPassword", "RARGetDllVersion"})
        EXPECT_NE(d.lib.resolve(name), nullptr) << name;
    EXPECT_GE(d.version(), 4);
    // Nothing of the reading code leaks out as exports.
    EXPECT_EQ(d.lib.resolve("_ZN3rar12VolumeReader8ReadNextERNS_5EntryE"), nullptr);
}

TEST(Libunrar, ListsEntriesWithTheirFields) {
    const Result r = Walk(rartest::CorpusPath("rar.rar"), RAR_OM_LIST, nullptr);
    ASSERT_TRUE(r.opened);
    EXPECT_EQ(r.end, ERAR_END_ARCHIVE);
    ASSERT_EQ(r.items.size(), 5u);
    EXPECT_EQ(r.items[0].name, "test.txt");
    EXPECT_EQ(r.items[0].unpacked, 20u);
    EXPECT_EQ(r.items[0].host, 3u);
    EXPECT_EQ(r.items[0].crc, 0xbec8a242u);
    EXPECT_EQ(r.items[0].version, 20u);
    EXPECT_EQ(r.items[0].method, 0x30u);
    EXPECT_EQ(r.items[0].flags & 0xE0, 0x20u); // 128 KiB window
    EXPECT_EQ(r.items[3].name, "testdir");
    EXPECT_EQ(r.items[3].flags & 0xE0, 0xE0u); // a directory

    const Result r5 = Walk(rartest::CorpusPath("rar5_unicode.rar"), RAR_OM_LIST, nullptr);
    ASSERT_EQ(r5.items.size(), 3u);
    EXPECT_EQ(r5.items[0].name, "👋🌎.txt");
    EXPECT_EQ(r5.items[0].version, 50u);
    EXPECT_EQ(r5.items[0].host, 2u);
}

TEST(Libunrar, OldHeaderRecordToo) {
    Dll& d = Library();
    RAROpenArchiveDataEx open;
    std::memset(&open, 0, sizeof open);
    std::string path = rartest::CorpusPath("rar5_stored.rar");
    open.ArcName = path.data();
    void* h = d.open(&open);
    ASSERT_NE(h, nullptr);
    RARHeaderData old;
    std::memset(&old, 0, sizeof old);
    EXPECT_EQ(d.readOld(h, &old), 0);
    EXPECT_STREQ(old.FileName, "helloworld.txt");
    EXPECT_EQ(old.UnpSize, 29u);
    EXPECT_EQ(d.process(h, RAR_SKIP, nullptr, nullptr), 0);
    EXPECT_EQ(d.readOld(h, &old), ERAR_END_ARCHIVE);
    EXPECT_EQ(d.close(h), 0);
}

TEST(Libunrar, FailsCleanlyOnMissingAndForeignFiles) {
    Result r = Walk(rartest::CorpusPath("no-such-file.rar"), RAR_OM_LIST, nullptr);
    EXPECT_FALSE(r.opened);
    EXPECT_EQ(r.openResult, static_cast<unsigned>(ERAR_EOPEN));
    r = Walk(rartest::CorpusPath("README.md"), RAR_OM_LIST, nullptr);
    EXPECT_FALSE(r.opened);
    EXPECT_EQ(r.openResult, static_cast<unsigned>(ERAR_BAD_ARCHIVE));
}

TEST(Libunrar, MultiVolumeListingWalksTheSet) {
    Script s;
    const Result r = Walk(rartest::CorpusPath("rar_multivolume.part0001.rar"), RAR_OM_LIST, &s);
    ASSERT_TRUE(r.opened);
    EXPECT_EQ(r.archiveFlags & (ROADF_VOLUME | ROADF_FIRSTVOLUME | ROADF_NEWNUMBERING),
              static_cast<unsigned>(ROADF_VOLUME | ROADF_FIRSTVOLUME | ROADF_NEWNUMBERING));
    EXPECT_EQ(r.end, ERAR_END_ARCHIVE);
    ASSERT_EQ(r.items.size(), 7u);
    EXPECT_EQ(r.items[0].name, "ppmd_lzss_conversion_test.txt");
    EXPECT_EQ(r.items[0].flags & 0x03, static_cast<unsigned>(RHDF_SPLITAFTER));
    EXPECT_EQ(r.items[0].unpacked, 241647978u);
    EXPECT_EQ(r.items[1].name, "LibarchiveAddingTest.html");
    int notices = 0;
    for (const auto& [msg, p2] : s.calls)
        if (msg == UCM_CHANGEVOLUME && p2 == RAR_VOL_NOTIFY)
            ++notices;
    EXPECT_EQ(notices, 3);

    // Every piece separately.
    const Result pieces =
        Walk(rartest::CorpusPath("rar_multivolume.part0001.rar"), RAR_OM_LIST_INCSPLIT, nullptr);
    ASSERT_EQ(pieces.items.size(), 10u); // 3 + 2 pieces and 5 whole entries
    EXPECT_EQ(pieces.items[0].flags & 0x03, static_cast<unsigned>(RHDF_SPLITAFTER));
    EXPECT_EQ(pieces.items[1].flags & 0x03,
              static_cast<unsigned>(RHDF_SPLITBEFORE | RHDF_SPLITAFTER));
    EXPECT_EQ(pieces.items[2].flags & 0x03, static_cast<unsigned>(RHDF_SPLITBEFORE));
    // The first piece is the whole data area of the first volume.
    EXPECT_EQ(pieces.items[0].packed, 59889u);
}

TEST(Libunrar, MissingVolumeIsAskedFor) {
    const std::string dir = testenv::MakeTempDir("vol").toStdString();
    const std::string first = dir + "/set.part0001.rar";
    ASSERT_TRUE(
        QFile::copy(QString::fromStdString(rartest::CorpusPath("rar_multivolume.part0001.rar")),
                    QString::fromStdString(first)));
    Script refuse;
    refuse.volumeAnswer = -1;
    Result r = Walk(first, RAR_OM_LIST, &refuse);
    ASSERT_EQ(r.items.size(), 1u);
    EXPECT_EQ(r.end, ERAR_EOPEN);
    ASSERT_FALSE(refuse.calls.empty());
    EXPECT_EQ(refuse.calls.back(), std::make_pair(static_cast<unsigned>(UCM_CHANGEVOLUME),
                                                  static_cast<long>(RAR_VOL_ASK)));

    // The caller may point at the volume elsewhere.
    Script redirect;
    redirect.volumeName = rartest::CorpusPath("rar_multivolume.part0002.rar");
    r = Walk(first, RAR_OM_LIST, &redirect);
    EXPECT_EQ(r.end, ERAR_END_ARCHIVE);
    EXPECT_EQ(r.items.size(), 7u);
}

// RAR 1.5-4.x sets of the old naming: name.rar, name.r00, name.r01, ...
TEST(Libunrar, FollowsOldVolumeNaming) {
    const std::string dir = testenv::MakeTempDir("old").toStdString();
    rartest::Bytes video(100000);
    for (std::size_t i = 0; i < video.size(); ++i)
        video[i] = static_cast<std::uint8_t>(i % 253);
    ASSERT_TRUE(rartest::WriteFile(dir + "/film.avi", video));
    rar::PackOptions o;
    o.format = rar::Format::Rar4;
    o.volumeSize = 40000;
    const auto volumes = rar::PackArchive({{dir + "/film.avi", "film.avi"}}, dir, "film", o);
    ASSERT_EQ(volumes.size(), 3u);
    const char* oldNames[] = {"/film.rar", "/film.r00", "/film.r01"};
    for (std::size_t v = 0; v < volumes.size(); ++v) {
        rartest::Bytes b = rartest::ReadFile(volumes[v]);
        // The main header follows the 7-byte marker: clear its new-naming flag (0x10) and
        // mend its CRC.
        b[7 + 3] &= static_cast<std::uint8_t>(~0x10);
        const std::uint32_t crc = rar::Crc32(0, b.data() + 7 + 2, 13 - 2);
        b[7] = static_cast<std::uint8_t>(crc);
        b[8] = static_cast<std::uint8_t>(crc >> 8);
        ASSERT_TRUE(rartest::WriteFile(dir + oldNames[v], b));
        QFile::remove(QString::fromStdString(volumes[v]));
    }
    Script s;
    const Result r = Walk(dir + "/film.rar", RAR_OM_EXTRACT, &s, RAR_EXTRACT, dir + "/x");
    EXPECT_FALSE(r.archiveFlags & ROADF_NEWNUMBERING);
    EXPECT_EQ(r.end, ERAR_END_ARCHIVE);
    ASSERT_EQ(r.items.size(), 1u);
    EXPECT_EQ(rartest::ReadFile(dir + "/x/film.avi"), video);
}

TEST(Libunrar, EncryptedHeadersAskForThePassword) {
    for (const auto& [name, password] : rartest::HeaderEncryptedArchives()) {
        SCOPED_TRACE(name);
        Script right;
        right.password = password;
        Result r = Walk(rartest::CorpusPath(name), RAR_OM_LIST, &right);
        ASSERT_TRUE(r.opened);
        EXPECT_TRUE(r.archiveFlags & ROADF_ENCHEADERS);
        EXPECT_EQ(r.end, ERAR_END_ARCHIVE);
        EXPECT_GE(r.items.size(), 2u);
        for (const Item& i : r.items)
            EXPECT_TRUE(i.flags & RHDF_ENCRYPTED);

        Script wrong;
        wrong.password = "not it";
        r = Walk(rartest::CorpusPath(name), RAR_OM_LIST, &wrong);
        EXPECT_FALSE(r.opened);
        EXPECT_EQ(r.openResult, static_cast<unsigned>(ERAR_BAD_PASSWORD));

        Script cancel; // empty password: the callback answers -1
        r = Walk(rartest::CorpusPath(name), RAR_OM_LIST, &cancel);
        EXPECT_FALSE(r.opened);
        EXPECT_EQ(r.openResult, static_cast<unsigned>(ERAR_MISSING_PASSWORD));
        // Without a callback at open, the archive opens and the password is asked for at the
        // first header, through the callback registered after the open.
        r = Walk(rartest::CorpusPath(name), RAR_OM_LIST, nullptr);
        EXPECT_TRUE(r.opened);
        EXPECT_TRUE(r.archiveFlags & ROADF_ENCHEADERS);
        EXPECT_EQ(r.end, ERAR_MISSING_PASSWORD);
        Dll& d = Library();
        RAROpenArchiveDataEx open;
        std::memset(&open, 0, sizeof open);
        std::string path = rartest::CorpusPath(name);
        open.ArcName = path.data();
        void* h = d.open(&open);
        ASSERT_NE(h, nullptr);
        Script late;
        late.password = password;
        d.setCallback(h, &ScriptCallback, reinterpret_cast<RAR_LPARAM>(&late));
        auto header = std::make_unique<RARHeaderDataEx>();
        std::memset(header.get(), 0, sizeof *header);
        EXPECT_EQ(d.read(h, header.get()), 0);
        EXPECT_TRUE(header->Flags & RHDF_ENCRYPTED);
        ASSERT_FALSE(late.calls.empty());
        EXPECT_EQ(late.calls.back().first, static_cast<unsigned>(UCM_NEEDPASSWORD));
        EXPECT_EQ(d.close(h), 0);
        // RARSetPassword before the first header works the same way.
        h = d.open(&open);
        std::string pw = password;
        d.setPassword(h, pw.data());
        EXPECT_EQ(d.read(h, header.get()), 0);
        EXPECT_EQ(d.close(h), 0);
    }
}

TEST(Libunrar, TestsAndExtractsStoredEntries) {
    const std::string dir = testenv::MakeTempDir("x").toStdString();
    Script s;
    Result r = Walk(rartest::CorpusPath("rar5_stored.rar"), RAR_OM_EXTRACT, &s, RAR_EXTRACT, dir);
    EXPECT_EQ(r.end, ERAR_END_ARCHIVE);
    const auto data = rartest::ReadFile(dir + "/helloworld.txt");
    EXPECT_EQ(data.size(), 29u);
    EXPECT_EQ(rar::Crc32(0, data.data(), data.size()), 0x95a043b4u);
    EXPECT_EQ(s.processed, 29u);

    r = Walk(rartest::CorpusPath("rar.rar"), RAR_OM_EXTRACT, nullptr, RAR_TEST);
    EXPECT_EQ(r.end, ERAR_END_ARCHIVE);
    // Packed entries are not unpacked here.
    r = Walk(rartest::CorpusPath("rar5_compressed.rar"), RAR_OM_EXTRACT, nullptr, RAR_TEST);
    EXPECT_EQ(r.end, ERAR_UNKNOWN_FORMAT);
}

TEST(Libunrar, ExtractsOurEncryptedMultiVolumeSets) {
    const std::string dir = testenv::MakeTempDir("enc").toStdString();
    rartest::Bytes video(200000);
    for (std::size_t i = 0; i < video.size(); ++i)
        video[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    ASSERT_TRUE(rartest::WriteFile(dir + "/movie.mkv", video));
    for (rar::Format format : {rar::Format::Rar4, rar::Format::Rar5}) {
        SCOPED_TRACE(format == rar::Format::Rar4 ? "RAR 4" : "RAR 5");
        const std::string out = dir + (format == rar::Format::Rar4 ? "/v4" : "/v5");
        QDir().mkpath(QString::fromStdString(out + "/x"));
        rar::PackOptions o;
        o.format = format;
        o.volumeSize = 30000;
        o.password = "pass word";
        o.encryptHeaders = format == rar::Format::Rar5;
        o.kdfCount = 10;
        const auto volumes = rar::PackArchive({{dir + "/movie.mkv", "movie.mkv"}}, out, "movie", o);
        ASSERT_GE(volumes.size(), 7u);
        Script right;
        right.password = "pass word";
        Result r = Walk(volumes[0], RAR_OM_EXTRACT, &right, RAR_EXTRACT, out + "/x");
        EXPECT_EQ(r.end, ERAR_END_ARCHIVE);
        EXPECT_EQ(rartest::ReadFile(out + "/x/movie.mkv"), video);

        if (format == rar::Format::Rar4) {
            // Plain headers, wrong password: the data fails its checksum.
            Script wrong;
            wrong.password = "wrong";
            r = Walk(volumes[0], RAR_OM_EXTRACT, &wrong, RAR_TEST);
            EXPECT_EQ(r.end, ERAR_BAD_DATA);
        }
    }
}

TEST(Libunrar, RefusesNamesThatLeaveTheFolder) {
    const std::string dir = testenv::MakeTempDir("evil").toStdString();
    ASSERT_TRUE(rartest::WriteFile(dir + "/evil.txt", {'x'}));
    QDir().mkpath(QString::fromStdString(dir + "/out/inside"));
    for (const char* name : {"../evil.txt", "a/../../evil.txt", "/tmp/evil.txt"}) {
        SCOPED_TRACE(name);
        const auto volumes = rar::PackArchive({{dir + "/evil.txt", name}}, dir + "/out", "e", {});
        const Result r =
            Walk(volumes[0], RAR_OM_EXTRACT, nullptr, RAR_EXTRACT, dir + "/out/inside");
        EXPECT_EQ(r.end, ERAR_ECREATE);
    }
    EXPECT_FALSE(QFile::exists(QString::fromStdString(dir + "/out/evil.txt")));
}

TEST(Libunrar, ArchiveComments) {
    const std::string dir = testenv::MakeTempDir("cmt").toStdString();
    ASSERT_TRUE(rartest::WriteFile(dir + "/c.rar", rartest::CommentedRar5("Watch this")));
    Result r = Walk(dir + "/c.rar", RAR_OM_LIST, nullptr);
    EXPECT_EQ(r.cmtState, 1u);
    EXPECT_EQ(r.comment, "Watch this");
    EXPECT_EQ(r.cmtSize, 11u);
    EXPECT_TRUE(r.archiveFlags & ROADF_COMMENT);
    ASSERT_EQ(r.items.size(), 1u); // the comment is no entry

    r = Walk(dir + "/c.rar", RAR_OM_LIST, nullptr, RAR_SKIP, {}, 6);
    EXPECT_EQ(r.cmtState, static_cast<unsigned>(ERAR_SMALL_BUF));
    EXPECT_EQ(r.comment, "Watch");

    // A packed comment is not unpacked: reported as none.
    r = Walk(rartest::CorpusPath("rar_subblock.rar"), RAR_OM_LIST, nullptr);
    EXPECT_EQ(r.cmtState, 0u);
    EXPECT_TRUE(r.archiveFlags & ROADF_COMMENT);
}

TEST(Libunrar, SizesBeyondFourGigabytes) {
    const std::string dir = testenv::MakeTempDir("huge").toStdString();
    const std::uint64_t size = 4ull * 1024 * 1024 * 1024 + 77;
    for (const auto& data : {rartest::HugeRar5(size), rartest::HugeRar4(size)}) {
        ASSERT_TRUE(rartest::WriteFile(dir + "/h.rar", data));
        const Result r = Walk(dir + "/h.rar", RAR_OM_LIST, nullptr);
        ASSERT_EQ(r.items.size(), 1u);
        EXPECT_EQ(r.items[0].unpacked, size);
        EXPECT_EQ(r.items[0].packed, size);
        EXPECT_EQ(r.end, ERAR_BAD_DATA); // the data is not there
    }
}

TEST(Libunrar, DamagedArchivesEndInAnError) {
    for (const std::string& name : rartest::DamagedArchives()) {
        SCOPED_TRACE(name);
        for (unsigned mode : {RAR_OM_LIST, RAR_OM_LIST_INCSPLIT, RAR_OM_EXTRACT}) {
            Script s;
            s.password = "password";
            const Result r = Walk(rartest::CorpusPath(name), mode, &s,
                                  mode == RAR_OM_EXTRACT ? RAR_TEST : RAR_SKIP);
            if (r.opened) {
                EXPECT_NE(r.end, 0);
            }
        }
    }
}

} // namespace
