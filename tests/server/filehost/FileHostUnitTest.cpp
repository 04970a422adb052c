#include "server/filehost/FileHostStore.h"
#include "server/filehost/FormCodec.h"
#include "server/filehost/PasswordHash.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <fstream>
#include <gtest/gtest.h>

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

} // namespace
