#include "server/filehost/AbuseReport.h"
#include "server/filehost/FileHostStore.h"
#include "server/filehost/FormCodec.h"
#include "server/filehost/PasswordHash.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

using namespace filehost;

namespace {

struct DecodeCase {
    const char* encoded;
    const char* decoded; // UTF-8
};

class FormDecoding : public testing::TestWithParam<DecodeCase> {};

TEST_P(FormDecoding, DecodesBytesAsUtf8OrLatin1) {
    EXPECT_EQ(DecodeFormValue(GetParam().encoded), GetParam().decoded);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FormDecoding,
    testing::Values(DecodeCase{"plain.text", "plain.text"}, DecodeCase{"a+b%20c", "a b c"},
                    // The client's encoding of "é": one Latin-1 byte.
                    DecodeCase{"caf%E9", "caf\xC3\xA9"},
                    // "€" is above 255: its UTF-8 bytes.
                    DecodeCase{"%E2%82%AC5", "\xE2\x82\xAC"
                                             "5"},
                    // Both in one value: each sequence is read on its own.
                    DecodeCase{"%E9%E2%82%AC", "\xC3\xA9\xE2\x82\xAC"},
                    DecodeCase{"%E2%82x", "\xC3\xA2\xC2\x82x"}, DecodeCase{"%C3%A9", "\xC3\xA9"},
                    DecodeCase{"100%", "100%"}, DecodeCase{"%4", "%4"}, DecodeCase{"%zz", "%zz"},
                    DecodeCase{"%26%3D", "&="}, DecodeCase{"", ""}));

TEST(FormParsing, KeepsOrderAndSplitsOnlyOnRawSeparators) {
    const auto fields = ParseForm("id0=AB&id1=&x&id2=C%26D&");
    ASSERT_EQ(fields.size(), 4u);
    EXPECT_EQ(fields[0], (FormField{"id0", "AB"}));
    EXPECT_EQ(fields[1], (FormField{"id1", ""}));
    EXPECT_EQ(fields[2], (FormField{"x", ""}));
    EXPECT_EQ(fields[3], (FormField{"id2", "C&D"}));
    EXPECT_EQ(FormValue(fields, "id2"), "C&D");
    EXPECT_EQ(FormValue(fields, "missing"), "");
}

TEST(Utf8Validation, RefusesMalformedSequences) {
    EXPECT_TRUE(IsValidUtf8("\xE2\x82\xAC"));
    EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x98\x80"));
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));         // overlong "/"
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));     // surrogate
    EXPECT_FALSE(IsValidUtf8("\xE2\x82"));         // cut short
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80")); // above U+10FFFF
}

TEST(PathSegments, EncodeEverythingButUnreserved) {
    EXPECT_EQ(EncodePathSegment("my movie.part1.rar"), "my%20movie.part1.rar");
    EXPECT_EQ(EncodePathSegment("a/b?c#"), "a%2Fb%3Fc%23");
}

TEST(PasswordHashing, SaltedAndVerified) {
    const PasswordRecord first = HashPassword("secret", kMinPasswordIterations);
    const PasswordRecord second = HashPassword("secret", kMinPasswordIterations);
    EXPECT_NE(first.salt, second.salt);
    EXPECT_NE(first.hash, second.hash);
    EXPECT_TRUE(VerifyPassword(first, "secret"));
    EXPECT_FALSE(VerifyPassword(first, "Secret"));
    PasswordRecord damaged = first;
    damaged.hash = "zz";
    EXPECT_FALSE(VerifyPassword(damaged, "secret"));
    damaged = first;
    damaged.iterations = 0;
    EXPECT_FALSE(VerifyPassword(damaged, "secret"));
}

std::filesystem::path WriteFile(const QString& dir, const std::string& name,
                                const std::string& content) {
    const std::filesystem::path path = std::filesystem::path(dir.toStdString()) / name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

TEST(Store, AccountsTokensAndPasswordChange) {
    FileHostStore store(testenv::MakeTempDir().toStdString());
    store.AddUser("ann", "pw1", kMinPasswordIterations);
    EXPECT_FALSE(store.Login("ann", "wrong"));
    EXPECT_FALSE(store.Login("bob", "pw1"));
    const auto token = store.Login("ann", "pw1");
    ASSERT_TRUE(token);
    EXPECT_TRUE(store.IsToken(*token));
    EXPECT_FALSE(store.IsToken(""));
    EXPECT_FALSE(store.IsToken("nonsense"));
    // The token is the account's: the next login hands out the same one.
    EXPECT_EQ(store.Login("ann", "pw1"), token);
    store.AddUser("ann", "pw2", kMinPasswordIterations);
    EXPECT_FALSE(store.Login("ann", "pw1"));
    EXPECT_EQ(store.Login("ann", "pw2"), token);
    EXPECT_THROW(store.AddUser("", "x", kMinPasswordIterations), StoreError);
    EXPECT_THROW(store.AddUser("a\tb", "x", kMinPasswordIterations), StoreError);
    EXPECT_THROW(store.AddUser("c", "", kMinPasswordIterations), StoreError);
}

TEST(Store, FilesAreStoredUnderUniqueIdsAndSeenByOtherInstances) {
    const QString dir = testenv::MakeTempDir();
    const QString source = testenv::MakeTempDir();
    FileHostStore writer(dir.toStdString());
    FileHostStore reader(dir.toStdString()); // a running server, in effect
    const std::string first = writer.AddFile(WriteFile(source, "a.rar", "AAAA"));
    const std::string second = writer.AddFile(WriteFile(source, "a.rar", "BBBB"));
    EXPECT_EQ(first.size(), 8u);
    EXPECT_NE(first, second);
    const auto found = reader.Find(first);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->name, "a.rar");
    EXPECT_TRUE(found->available);
    std::ifstream in(found->path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "AAAA");
    writer.Disable(second);
    EXPECT_FALSE(reader.Find(second)->available);
    EXPECT_TRUE(reader.Find(first)->available);
    EXPECT_FALSE(reader.Find("NOSUCHID"));
    EXPECT_THROW(writer.Disable("NOSUCHID"), StoreError);
    EXPECT_THROW(writer.AddFile(std::filesystem::path(source.toStdString()) / "missing"),
                 StoreError);
}

TEST(Store, IgnoresDamagedLines) {
    const QString dir = testenv::MakeTempDir();
    { FileHostStore store(dir.toStdString()); }
    QFile links(dir + QStringLiteral("/links.tsv"));
    ASSERT_TRUE(links.open(QIODevice::WriteOnly));
    links.write("ABCD1234\t1\t../../etc/passwd\nshort\t1\tx\nEFGH5678\t1\tok.rar\ngarbage\n");
    links.close();
    FileHostStore store(dir.toStdString());
    EXPECT_FALSE(store.Find("ABCD1234"));
    EXPECT_FALSE(store.Find("short"));
    ASSERT_TRUE(store.Find("EFGH5678"));
}

TEST(AbuseReports, FieldsAreEscapedToOneLineOfPrintableBytes) {
    const struct {
        const char* text;
        const char* escaped;
    } cases[] = {
        {"plain text", "plain text"},
        {"a\tb", "a\\tb"},
        {"line 1\nline 2\r\n", "line 1\\nline 2\\r\\n"},
        {"C:\\dir\\n", "C:\\\\dir\\\\n"}, // a backslash never reads as an escape
        {"\x01\x1B[31m\x7F", "\\x01\\x1b[31m\\x7f"},
        {"caf\xC3\xA9 \xE2\x82\xAC", "caf\xC3\xA9 \xE2\x82\xAC"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EscapeReportField(c.text), c.escaped) << c.text;
    EXPECT_EQ(EscapeReportField(std::string("a\0b", 3)), "a\\x00b");
}

TEST(AbuseReports, FieldsOverTheirBoundAreCutOnACharacterAndTheCutIsNamed) {
    const std::string links(20000, 'L');
    // Two-byte characters from the second byte on: the bound of 8192 falls inside one.
    std::string reasonForm = "x";
    for (int i = 0; i < 5000; ++i)
        reasonForm += "%C3%A9";
    std::vector<FieldCut> cuts;
    const AbuseReport report = ReadAbuseForm(
        "links=" + links + "&reason=" + reasonForm + "&contact=%00%FFme&other=ignored", cuts);
    ASSERT_EQ(cuts.size(), 2u);
    EXPECT_STREQ(cuts[0].label, "Links");
    EXPECT_EQ(cuts[0].received, 20000u);
    EXPECT_EQ(cuts[0].kept, 16384u);
    EXPECT_EQ(report.links, links.substr(0, 16384));
    EXPECT_STREQ(cuts[1].label, "Reason");
    EXPECT_EQ(cuts[1].received, 10001u);
    EXPECT_EQ(cuts[1].kept, 8191u);
    EXPECT_EQ(report.reason.size(), 8191u);
    EXPECT_TRUE(IsValidUtf8(report.reason));
    // Bytes that are not UTF-8 become Latin-1 characters; nothing within its bound is cut.
    EXPECT_EQ(report.contact, std::string("\0\xC3\xBFme", 5));

    cuts.clear();
    const AbuseReport joined = ReadAbuseForm("links=a&links=b&reason=", cuts);
    EXPECT_TRUE(cuts.empty());
    EXPECT_EQ(joined.links, "a\nb");
    EXPECT_FALSE(IsEmptyReport(joined));
    EXPECT_TRUE(IsEmptyReport(ReadAbuseForm("links=+%0A&reason=%09&contact=me", cuts)));
}

TEST(AbuseReports, TheLongestReportMakesOneLineWithinTheListingsBound) {
    AbuseReport report;
    report.time = "2024-05-01T12:00:00Z";
    report.address = "::ffff:127.0.0.1";
    for (const ReportField& field : kReportFields)
        report.*field.member = std::string(field.maxBytes, '\x01'); // four bytes each, escaped
    const std::string line = ReportLine(report);
    ASSERT_EQ(line.back(), '\n');
    const std::string_view text(line.data(), line.size() - 1);
    EXPECT_EQ(text.find('\n'), std::string_view::npos);
    EXPECT_LE(text.size(), MaxReportLine());
    EXPECT_TRUE(IsReportLine(text));

    for (const char* damaged : {"a\tb\tc\td", "a\tb\tc\td\te\tf", "a\tb\tc\td\te\x1B", ""})
        EXPECT_FALSE(IsReportLine(damaged)) << damaged;
    EXPECT_FALSE(IsReportLine(std::string(MaxReportLine(), 'x') + "\t\t\t\t"));
}

TEST(Store, ReportsAppendedAtOnceStayWholeLinesAndDamagedLinesAreSkipped) {
    const QString dir = testenv::MakeTempDir();
    FileHostStore store(dir.toStdString());
    size_t skipped = 99;
    EXPECT_TRUE(store.ReportLines(skipped).empty());
    EXPECT_EQ(skipped, 0u);

    // Lines far longer than a pipe's atomic write, from several threads and store instances.
    constexpr int kWriters = 6;
    constexpr int kReportsEach = 20;
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w)
        writers.emplace_back([&dir, w] {
            FileHostStore own(dir.toStdString());
            AbuseReport report;
            report.time = "2024-05-01T12:00:00Z";
            report.address = "127.0.0.1";
            report.links = std::string(16 * 1024, static_cast<char>('a' + w));
            report.reason = std::string(8 * 1024, '\n');
            for (int i = 0; i < kReportsEach; ++i)
                own.AppendReport(ReportLine(report));
        });
    for (std::thread& writer : writers)
        writer.join();
    const std::vector<std::string> lines = store.ReportLines(skipped);
    EXPECT_EQ(skipped, 0u);
    ASSERT_EQ(lines.size(), static_cast<size_t>(kWriters * kReportsEach));
    for (const std::string& line : lines) {
        const size_t links = line.find('\t', line.find('\t') + 1) + 1;
        const char writer = line[links];
        EXPECT_EQ(line.substr(links, 16 * 1024), std::string(16 * 1024, writer));
        EXPECT_EQ(line.size(), links + 16 * 1024 + 1 + 8 * 1024 * 2 + 1);
    }

    QFile reports(dir + QStringLiteral("/reports.tsv"));
    ASSERT_TRUE(reports.open(QIODevice::Append));
    reports.write("not a report\n");
    reports.write(QByteArray(static_cast<qsizetype>(MaxReportLine()) + 10, 'x') + "\t\t\t\t\n");
    reports.write("t\ta\tl\tr\tc\n");
    reports.write("t\ta\tl\tr\tcut short");
    reports.close();
    const std::vector<std::string> after = store.ReportLines(skipped);
    EXPECT_EQ(skipped, 3u);
    ASSERT_EQ(after.size(), lines.size() + 1);
    EXPECT_EQ(after.back(), "t\ta\tl\tr\tc");
}

} // namespace
