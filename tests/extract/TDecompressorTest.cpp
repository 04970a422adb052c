// TDecompressor: the progress file, the extractor's parameters, the snapshot listing through
// TRAR and our libunrar.so, the password prompts, the dropped notifications and the deferred
// release. A shell script stands in for the extractor where only its start matters; the last
// test runs the real one.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>
#include <zlib.h>

#include "extract/CommandLine.h"
#include "extract/RARLibrary.h"
#include "extract/TDecompressor.h"
#include "rar/ArchiveWriter.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnvironment.h"

namespace {

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& data) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

QByteArray Zeros(int n) { return QByteArray(n, '\0'); }

// Waits up to `ms` for `condition`.
bool WaitFor(const std::function<bool()>& condition, int ms = 10000) {
    QElapsedTimer t;
    t.start();
    while (!condition()) {
        if (t.elapsed() > ms)
            return false;
        QThread::msleep(20);
    }
    return true;
}

class TDecompressorTest : public ::testing::Test {
protected:
    void SetUp() override {
        UnloadRARLibrary();
        SetRARLibraryFolder(testenv::BinDir());
        root_ = testenv::MakeTempDir(QStringLiteral("decompressor"));
        unrarDir_ = root_ + "/unrar/";
        out_ = root_ + "/out";
        volumes_ = root_ + "/volumes";
        QDir().mkpath(unrarDir_);
        QDir().mkpath(out_);
        QDir().mkpath(volumes_);
        // The stand-in extractor notes every start with its arguments, one per line.
        WriteFile(unrarDir_ + "unrar", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done"
                                       " >> \"$(dirname \"$0\")/args.txt\"\necho --- >> "
                                       "\"$(dirname \"$0\")/args.txt\"\n");
        QFile::setPermissions(unrarDir_ + "unrar", QFile::ReadOwner | QFile::WriteOwner |
                                                       QFile::ExeOwner);
    }
    void TearDown() override {
        UnloadRARLibrary();
        SetRARLibraryFolder(QString());
    }

    TDecompressor* Make(const QString& password = QString()) {
        auto* d = new TDecompressor();
        d->SetOutputDirectory(out_);
        d->SetUnrarDirectory(unrarDir_);
        d->SetArchivePassword(password);
        return d;
    }
    // Packs files of the given sizes under the given names; returns the first volume.
    QString Pack(const std::vector<std::pair<std::string, int>>& files, const QString& base,
                 rar::PackOptions options = {}) {
        std::vector<rar::PackInput> inputs;
        int n = 0;
        for (const auto& [name, size] : files) {
            const QString path = root_ + "/data/" + QString::number(n++);
            WriteFile(path, QByteArray(size, 'a' + static_cast<char>(n)));
            inputs.push_back({path.toStdString(), name});
        }
        return QString::fromStdString(
            rar::PackArchive(inputs, volumes_.toStdString(), base.toStdString(), options).front());
    }
    QString Progress() const { return unrarDir_ + "unrar.txt"; }
    QStringList Starts() const {
        const QString text = QString::fromUtf8(ReadFile(unrarDir_ + "args.txt"));
        QStringList starts = text.split(QStringLiteral("---\n"), Qt::SkipEmptyParts);
        return starts;
    }

    QString root_, unrarDir_, out_, volumes_;
    TScriptedInteraction ui_;
};

TEST_F(TDecompressorTest, ProgressFileForms) {
    struct Case {
        const char* name;
        std::optional<QByteArray> before;
        std::int64_t value;
        QByteArray after;
    };
    const Case cases[] = {
        {"created", std::nullopt, 1234, "1234\r\n"},
        {"created by the final write", std::nullopt, -1, "-1\r\n"},
        {"over OK", QByteArray("OK") + Zeros(15), 1234567, QByteArray("1234567") + Zeros(15)},
        {"not shortened", QByteArray("123456789012345678901234"), 5,
         QByteArray("5") + Zeros(15) + "78901234"},
        {"final write", QByteArray("1234\r\n"), -1, QByteArray("OK") + Zeros(15)},
        {"large", QByteArray("0\r\n"), 5368709120LL, QByteArray("5368709120") + Zeros(15)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(Progress());
        if (c.before)
            WriteFile(Progress(), *c.before);
        TDecompressor* d = Make();
        d->WriteProgressFile(c.value);
        EXPECT_EQ(ReadFile(Progress()), c.after);
        d->SetUnrarDirectory(root_ + "/nowhere/");
        d->Release();
    }
    // Destroyed: -1, written as "OK" over an existing file.
    WriteFile(Progress(), "77\r\n");
    Make()->Release();
    EXPECT_EQ(ReadFile(Progress()), QByteArray("OK") + Zeros(15) + "");
    QFile::remove(Progress());
    Make()->Release();
    EXPECT_EQ(ReadFile(Progress()), QByteArray("-1\r\n"));
}

TEST_F(TDecompressorTest, ParametersAndTheirArguments) {
    struct Case {
        const char* name;
        QString password;
        QString volume;
        QString output;
        QString text;
        QStringList arguments;
    };
    const Case cases[] = {
        {"no password", "", "/v/movie.part1.rar", "/out",
         "x -y -dh -kb  -idp -ss100 \"/v/movie.part1.rar\" \"/out\"",
         {"x", "-y", "-dh", "-kb", "-idp", "-ss100", "/v/movie.part1.rar", "/out"}},
        {"password trimmed", "  pw  ", "/v/a.rar", "/out",
         "x -y -dh -kb  -ppw -idp -ss100 \"/v/a.rar\" \"/out\"",
         {"x", "-y", "-dh", "-kb", "-ppw", "-idp", "-ss100", "/v/a.rar", "/out"}},
        {"blanks only", "   ", "/v/a.rar", "/out",
         "x -y -dh -kb  -p -idp -ss100 \"/v/a.rar\" \"/out\"",
         {"x", "-y", "-dh", "-kb", "-p", "-idp", "-ss100", "/v/a.rar", "/out"}},
        {"blank inside the password", "my pass", "/my videos/a.rar", "/my out",
         "x -y -dh -kb  -p\"my pass\" -idp -ss100 \"/my videos/a.rar\" \"/my out\"",
         {"x", "-y", "-dh", "-kb", "-pmy pass", "-idp", "-ss100", "/my videos/a.rar", "/my out"}},
        {"quote in a path", "", "/v/say \"hi\".rar", "/out",
         "x -y -dh -kb  -idp -ss100 \"/v/say \"\"hi\"\".rar\" \"/out\"",
         {"x", "-y", "-dh", "-kb", "-idp", "-ss100", "/v/say \"hi\".rar", "/out"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TDecompressor* d = Make(c.password);
        d->SetOutputDirectory(c.output);
        EXPECT_EQ(d->ArchivePassword(), c.password); // stored as given
        EXPECT_EQ(d->ExtractorParameters(c.volume, 100), c.text);
        EXPECT_EQ(SplitCommandLine(d->ExtractorParameters(c.volume, 100)), c.arguments);
        d->Release();
    }
    EXPECT_EQ(SplitCommandLine("  a  \"\" b\"c d\"e \"\"\"\" "),
              (QStringList{"a", "bc de", "\""}));
}

TEST_F(TDecompressorTest, FirstNotificationListsTheSnapshotAndStartsTheExtractorOnce) {
    const QString first = Pack({{"small.txt", 100}, {"Movies/film.avi", 50000},
                                {"other.avi", 50000}},
                               "MOVIE");
    // In capitals: the ".rar" filter ignores the letter case.
    const QString upper = volumes_ + "/MOVIE.PART1.RAR";
    ASSERT_TRUE(QFile::rename(first, upper));
    WriteFile(out_ + "/Movies/film.avi", "leftover of an earlier playback");
    WriteFile(out_ + "/other.avi", "not touched");
    TDecompressor* d = Make();
    d->DataAvailable(upper, 60000);
    EXPECT_FALSE(d->Busy());
    EXPECT_EQ(d->ExtractedFileName(), "Movies/film.avi"); // equal sizes: the first listed wins
    EXPECT_EQ(d->LargestSize(), 50000);
    EXPECT_EQ(d->ExtractedFilePath(), out_ + "/Movies/film.avi");
    EXPECT_FALSE(QFile::exists(out_ + "/Movies/film.avi"));
    EXPECT_TRUE(QFile::exists(out_ + "/other.avi"));
    EXPECT_FALSE(QFile::exists(volumes_ + "/temp.rar"));
    EXPECT_EQ(ReadFile(Progress()), "60000\r\n");
    EXPECT_TRUE(d->ExtractorStarted());
    ASSERT_TRUE(WaitFor([&] { return Starts().size() == 1; }));
    EXPECT_EQ(Starts().front().split('\n', Qt::SkipEmptyParts),
              (QStringList{"x", "-y", "-dh", "-kb", "-idp", "-ss60000", upper, out_}));

    d->DataAvailable(upper, 70000);
    EXPECT_EQ(ReadFile(Progress()), QByteArray("70000") + Zeros(15));
    d->DataAvailable(volumes_ + "/MOVIE.r00", 0); // old naming is followed too
    EXPECT_EQ(ReadFile(Progress()), QByteArray("0") + Zeros(19)); // not shortened
    d->DataAvailable(volumes_ + "/movie.avi", 5); // a playable volume: nothing to do
    EXPECT_EQ(ReadFile(Progress()), QByteArray("0") + Zeros(19));
    EXPECT_FALSE(d->Busy());
    d->Release();
    EXPECT_EQ(ReadFile(Progress()).left(2), "OK");
    QThread::msleep(200);
    EXPECT_EQ(Starts().size(), 1);
}

TEST_F(TDecompressorTest, NothingStartsWithoutTheFirstVolume) {
    const QString first = Pack({{"film.avi", 5000}}, "movie");
    QFile::rename(first, volumes_ + "/movie.part2.rar");
    TDecompressor* d = Make();
    d->DataAvailable(volumes_ + "/movie.part2.rar", 3000);
    d->DataAvailable(volumes_ + "/movie.part3.rar", 3000);
    d->DataAvailable(volumes_ + "/movie.r01", 3000);
    EXPECT_TRUE(d->ExtractedFileName().isEmpty());
    EXPECT_FALSE(d->ExtractorStarted());
    EXPECT_FALSE(QFile::exists(Progress()));
    EXPECT_EQ(ui_.messages.size(), 1); // reported once
    d->SetUnrarDirectory(root_ + "/nowhere/");
    d->Release();
}

TEST_F(TDecompressorTest, NamesOutsideTheOutputFolderAreRefused) {
    WriteFile(root_ + "/evil.avi", "outside");
    const QString first = Pack({{"../evil.avi", 90000}, {"/abs.avi", 80000}, {"good.avi", 1000}},
                               "movie");
    TDecompressor* d = Make();
    d->DataAvailable(first, 50000);
    EXPECT_EQ(d->ExtractedFileName(), "good.avi");
    EXPECT_EQ(ReadFile(root_ + "/evil.avi"), "outside");
    for (const char* bad : {"../x.avi", "/etc/x.avi", "C:/x.avi", "a/../../x.avi", "nul.avi"}) {
        d->SetExtractedFileName(bad);
        EXPECT_EQ(d->ExtractedFileName(), "good.avi") << bad;
    }
    d->SetExtractedFileName("movie.avi");
    EXPECT_EQ(d->ExtractedFileName(), "movie.avi");
    d->Release();
}

TEST_F(TDecompressorTest, PasswordPrompts) {
    rar::PackOptions options;
    options.password = "secret";
    {
        SCOPED_TRACE("encrypted entry, no password known");
        const QString first = Pack({{"film.avi", 5000}}, "enc", options);
        ui_.textAnswers = {QString("typed")};
        TDecompressor* d = Make();
        d->DataAvailable(first, 4000);
        EXPECT_EQ(ui_.prompts, QStringList{"Password"});
        EXPECT_EQ(d->ArchivePassword(), "typed");
        ASSERT_TRUE(WaitFor([&] { return Starts().size() == 1; }));
        EXPECT_TRUE(Starts().front().contains("\n-ptyped\n"));
        d->Release();
    }
    QFile::remove(unrarDir_ + "args.txt");
    ui_.prompts.clear();
    {
        SCOPED_TRACE("encrypted headers: cancelled, then answered");
        options.encryptHeaders = true;
        const QString first = Pack({{"film.avi", 5000}}, "hdr", options);
        ui_.textAnswers = {std::nullopt, QString("secret")};
        TDecompressor* d = Make();
        d->DataAvailable(first, 4000);
        EXPECT_TRUE(d->ExtractedFileName().isEmpty());
        EXPECT_FALSE(d->ExtractorStarted());
        d->DataAvailable(first, 4000);
        EXPECT_EQ(d->ExtractedFileName(), "film.avi");
        EXPECT_EQ(d->ArchivePassword(), "secret");
        EXPECT_EQ(ui_.prompts.size(), 2);
        EXPECT_TRUE(d->ExtractorStarted());
        d->Release();
    }
}

// An interaction whose password answer runs other code first, as the modal dialog's event loop
// does: a second notification, and the owner releasing the decompressor.
class ReentrantInteraction final : public IUserInteraction {
public:
    ReentrantInteraction() { SetUserInteraction(this); }
    ~ReentrantInteraction() override { SetUserInteraction(nullptr); }
    std::function<void()> whileAsking;
    int asked = 0;
    void ShowMessage(const QString&) override {}
    void ShowError(const QString&) override {}
    bool AskYesNo(const QString&) override { return false; }
    bool AskText(const QString&, const QString&, QString& value) override {
        ++asked;
        if (whileAsking)
            whileAsking();
        value = QStringLiteral("secret");
        return true;
    }
    void ShowStatus(const QString&) override {}
    void HideStatus() override {}
};

TEST_F(TDecompressorTest, BusyDropsNotificationsAndReleaseWaitsForThePrompt) {
    rar::PackOptions options;
    options.password = "secret";
    const QString first = Pack({{"film.avi", 5000}}, "enc", options);
    ReentrantInteraction ui;
    QPointer<TDecompressor> d = Make();
    bool busyInside = false;
    ui.whileAsking = [&] {
        busyInside = d->Busy();
        d->DataAvailable(first, 4500); // dropped
        d->Release();                  // the window closes meanwhile
        EXPECT_FALSE(d.isNull());
    };
    d->DataAvailable(first, 4000);
    EXPECT_TRUE(busyInside);
    EXPECT_EQ(ui.asked, 1);
    EXPECT_TRUE(d.isNull()); // released as soon as the notification returned
    EXPECT_EQ(ReadFile(Progress()).left(2), "OK");
}

// A RAR 5.0 volume head written by hand: sizes of 4 GiB and more need no real data to list.
QByteArray Vint(std::uint64_t v) {
    QByteArray out;
    do {
        char b = static_cast<char>(v & 0x7f);
        v >>= 7;
        if (v != 0)
            b = static_cast<char>(b | 0x80);
        out.append(b);
    } while (v != 0);
    return out;
}

QByteArray Rar5Block(const QByteArray& body) {
    const QByteArray sized = Vint(static_cast<std::uint64_t>(body.size())) + body;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(sized.constData()),
                            static_cast<uInt>(sized.size()));
    QByteArray out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>((crc >> (8 * i)) & 0xff);
    return out + sized;
}

QByteArray Rar5FileHeader(const QByteArray& name, std::uint64_t unpacked, std::uint64_t packed) {
    QByteArray body = Vint(2) + Vint(0x02) + Vint(packed); // file, with a data area
    body += Vint(0) + Vint(unpacked) + Vint(0x20);          // flags, size, attributes
    body += Vint(0) + Vint(0) + Vint(static_cast<std::uint64_t>(name.size())) + name;
    return Rar5Block(body);
}

TEST_F(TDecompressorTest, LargestEntryByItsFullSize) {
    const std::uint64_t big = (1ull << 32) + 1; // its low 32 bits would say 1
    QByteArray head = QByteArray("Rar!\x1a\x07\x01\x00", 8);
    head += Rar5Block(Vint(1) + Vint(0) + Vint(0));
    head += Rar5FileHeader("big.mkv", big, 16) + QByteArray(16, 'x');
    head += Rar5FileHeader("small.avi", 100, 100) + QByteArray(100, 'y');
    head += Rar5Block(Vint(5) + Vint(0) + Vint(0));
    const QString first = volumes_ + "/big.part1.rar";
    WriteFile(first, head);
    TDecompressor* d = Make();
    d->DataAvailable(first, head.size());
    EXPECT_EQ(d->ExtractedFileName(), "big.mkv");
    EXPECT_EQ(d->LargestSize(), static_cast<std::int64_t>(big));
    d->Release();
}

// The decompressor and the real extractor, with the volume growing on disk.
TEST_F(TDecompressorTest, RealExtractorFollowsTheNotifications) {
    QFile::remove(unrarDir_ + "unrar");
    ASSERT_TRUE(QFile::copy(testenv::BinDir() + "/unrar/unrar", unrarDir_ + "unrar"));
    rar::PackOptions options;
    options.volumeSize = 40000;
    const QString packed = Pack({{"film.avi", 100000}}, "movie", options);
    const QStringList sources = QDir(volumes_).entryList({"movie.part*.rar"}, QDir::Files,
                                                         QDir::Name);
    ASSERT_EQ(sources.size(), 3);
    const QString downloads = root_ + "/downloads";
    QDir().mkpath(downloads);
    TDecompressor* d = Make();
    for (int v = 0; v < sources.size(); ++v) {
        const QByteArray data = ReadFile(volumes_ + "/" + sources[v]);
        const QString target = downloads + "/" + sources[v];
        WriteFile(target, data.left(data.size() / 2)); // the head first
        if (v > 0)
            d->DataAvailable(target, 0);
        d->DataAvailable(target, data.size() / 2 - 1000);
        QFile rest(target);
        ASSERT_TRUE(rest.open(QIODevice::Append));
        rest.write(data.mid(data.size() / 2));
        rest.close();
        d->DataAvailable(target, data.size());
    }
    d->DataAvailable(downloads + "/" + sources.last(), 0);
    const QString output = out_ + "/film.avi";
    EXPECT_TRUE(WaitFor([&] { return QFileInfo(output).size() == 100000; }));
    EXPECT_EQ(ReadFile(output), ReadFile(root_ + "/data/0"));
    d->Release();
}

} // namespace
