#include "api/Ttavilonapi.h"
#include "core/Errors.h"
#include "platform/OptionDefaults.h"
#include "platform/OptionsManager.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <gtest/gtest.h>

namespace {

// Writes raw lines into the store's file, as another program or a hand edit would.
void WriteStoreFile(const QByteArray& content) {
    QDir().mkpath(QFileInfo(testenv::SettingsFile()).absolutePath());
    QFile file(testenv::SettingsFile());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

class SettingsStore : public testing::Test {
protected:
    void SetUp() override {
        testenv::ClearSettingsStore();
        RegisterOptionDefaults(manager);
    }
    void TearDown() override { testenv::ClearSettingsStore(); }

    QString Value(const char* section, const char* name) const {
        return manager.FindSection(QString::fromLatin1(section))->GetString(QString::fromLatin1(name));
    }

    TOptionsManager manager;
};

TEST_F(SettingsStore, CleanAccountHasTheDefaultsAndWritesNothing) {
    manager.LoadAll();
    const QString documents = QDir::homePath() + QStringLiteral("/Documents");
    EXPECT_EQ(Value("Megaupload", "Username"), QString());
    EXPECT_EQ(Value("Megaupload", "Password"), QString());
    EXPECT_EQ(Value("Interface", "Background"), QString());
    EXPECT_EQ(Value("Interface", "Columns"), QStringLiteral("6"));
    EXPECT_EQ(Value("Interface", "Rows"), QStringLiteral("3"));
    EXPECT_EQ(Value("Interface", "CompressedDirectory"), documents + "/tavilon/compressed/");
    EXPECT_EQ(Value("Interface", "UncompressedDirectory"), documents + "/tavilon/uncompressed");
    EXPECT_EQ(Value("Server", "SendInfo"), QStringLiteral("1"));
    EXPECT_EQ(Value("Server", "Servers"), QStringLiteral("http://127.0.0.1:8180/tavilonserver.php"));
    EXPECT_EQ(Value("Server", "DefaultServer"), QStringLiteral("http://127.0.0.1:8180/tavilonserver.php"));
    EXPECT_EQ(Value("Server", "Default"), QStringLiteral("0"));
    EXPECT_FALSE(QFile::exists(testenv::SettingsFile()));
}

TEST_F(SettingsStore, SectionsAndNamesMatchWithoutRegardToCase) {
    ASSERT_NE(manager.FindSection(QStringLiteral("interface")), nullptr);
    EXPECT_EQ(manager.FindSection(QStringLiteral("interface"))->SectionName(), QStringLiteral("Interface"));
    EXPECT_EQ(manager.FindSection(QStringLiteral("nope")), nullptr);
    TOptionValues& section = *manager.FindSection(QStringLiteral("INTERFACE"));
    section.SetString(QStringLiteral("columns"), QStringLiteral("8"));
    EXPECT_EQ(section.GetString(QStringLiteral("Columns")), QStringLiteral("8"));
    EXPECT_EQ(section.Names().size(), 5);

    WriteStoreFile("[1.0]\nINTERFACE\\ROWS=7\n");
    manager.LoadAll();
    EXPECT_EQ(Value("Interface", "Rows"), QStringLiteral("7"));
}

TEST_F(SettingsStore, RoundTripsAllElevenValues) {
    const QString multiLine = QStringLiteral("http://a/tavilonserver.php\r\nhttp://b/x, y\r\n");
    const std::tuple<const char*, const char*, QString> changes[] = {
        {"Megaupload", "Username", QStringLiteral("j\u00f6rg")},
        {"Megaupload", "Password", QStringLiteral("p=a;s s\u20ac")},
        {"Interface", "Background", QStringLiteral("/pics/back.jpg")},
        {"Interface", "Columns", QStringLiteral("4")},
        {"Interface", "Rows", QStringLiteral("2")},
        {"Interface", "CompressedDirectory", QStringLiteral("/data/c/")},
        {"Interface", "UncompressedDirectory", QStringLiteral("/data/u")},
        {"Server", "SendInfo", QStringLiteral("0")},
        {"Server", "Servers", multiLine},
        {"Server", "DefaultServer", QStringLiteral("http://b/x, y")},
        {"Server", "Default", QStringLiteral("1")},
    };
    for (const auto& [section, name, value] : changes)
        manager.FindSection(QString::fromLatin1(section))->SetString(QString::fromLatin1(name), value);
    manager.SaveAll();

    TOptionsManager reloaded;
    RegisterOptionDefaults(reloaded);
    reloaded.LoadAll();
    for (const auto& [section, name, value] : changes)
        EXPECT_EQ(reloaded.FindSection(QString::fromLatin1(section))->GetString(QString::fromLatin1(name)), value)
            << section << "/" << name;
}

TEST_F(SettingsStore, LeavesValuesOfOtherNamesAlone) {
    WriteStoreFile("[1.0]\nInterface\\Extra=keep me\nInterface\\Rows=5\n");
    manager.LoadAll();
    EXPECT_EQ(Value("Interface", "Rows"), QStringLiteral("5"));
    EXPECT_EQ(manager.FindSection(QStringLiteral("Interface"))->Names().size(), 5);
    manager.SaveAll();
    QSettings raw(testenv::SettingsFile(), QSettings::IniFormat);
    EXPECT_EQ(raw.value(QStringLiteral("1.0/Interface/Extra")).toString(), QStringLiteral("keep me"));
    EXPECT_EQ(raw.value(QStringLiteral("1.0/Interface/Rows")).toString(), QStringLiteral("5"));
    EXPECT_EQ(raw.value(QStringLiteral("1.0/Server/Default")).toString(), QStringLiteral("0"));
}

TEST_F(SettingsStore, ReadsOnlyTheTextOneAsTrueAndNonNumbersAsZero) {
    WriteStoreFile("[1.0]\nServer\\SendInfo=true\nInterface\\Columns=abc\nInterface\\Rows=\n");
    manager.LoadAll();
    EXPECT_FALSE(manager.FindSection(QStringLiteral("Server"))->GetBoolean(QStringLiteral("SendInfo")));
    EXPECT_EQ(Value("Interface", "Columns"), QStringLiteral("abc"));
    EXPECT_EQ(Value("Interface", "Rows"), QString());
}

TEST_F(SettingsStore, RejectsAValueThatIsNotText) {
    WriteStoreFile("[1.0]\nInterface\\Columns=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x6)\n");
    try {
        manager.LoadAll();
        FAIL() << "loading a non-text value succeeded";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Invalid data type for 'Columns'"));
    }
}

TEST_F(SettingsStore, KeepsTheStoreReadableByItsOwnerOnly) {
    manager.SaveAll();
    const QFileDevice::Permissions permissions = QFile::permissions(testenv::SettingsFile());
    EXPECT_EQ(permissions & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
              QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_FALSE(permissions & (QFileDevice::ReadGroup | QFileDevice::ReadOther));
}

// The accessors read the process's store, registered as at start.
class OptionAccessors : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!OptionsManager().FindSection(LoginSection))
            RegisterOptionDefaults();
    }
};

TEST_F(OptionAccessors, ConvertTheText) {
    TOptionValues& server = *OptionsManager().FindSection(ServerSection);
    TOptionValues& interface = *OptionsManager().FindSection(InterfaceSection);
    const std::pair<QString, bool> flags[] = {{"1", true}, {"0", false}, {"true", false},
                                              {" 1", false}, {"yes", false}, {"", false}};
    for (const auto& [text, flag] : flags) {
        server.SetString(QStringLiteral("SendInfo"), text);
        EXPECT_EQ(GetOptionBoolean(QStringLiteral("server"), QStringLiteral("sendinfo")), flag) << text.toStdString();
    }
    const std::pair<QString, qint64> numbers[] = {{"6", 6}, {"abc", 0}, {"", 0}, {"-2", -2}, {"3x", 0}};
    for (const auto& [text, number] : numbers) {
        interface.SetString(QStringLiteral("Columns"), text);
        EXPECT_EQ(GetOptionInteger(InterfaceSection, QStringLiteral("Columns")), number) << text.toStdString();
    }
    EXPECT_EQ(GetOptionString(InterfaceSection, QStringLiteral("NoSuchName")), QString());
    server.SetBoolean(QStringLiteral("SendInfo"), true);
    interface.SetInteger(QStringLiteral("Columns"), 6);
}

TEST_F(OptionAccessors, StartUpCreatesTheConfiguredDirectories) {
    const QString root = testenv::MakeTempDir(QStringLiteral("startup"));
    TOptionValues& interface = *OptionsManager().FindSection(InterfaceSection);
    interface.SetString(QStringLiteral("CompressedDirectory"), root + "/vol/c/");
    interface.SetString(QStringLiteral("UncompressedDirectory"), root + "/vol/u");
    Ttavilonapi dataModule;
    dataModule.CreateWorkingDirectories();
    EXPECT_EQ(tavilonapi, &dataModule);
    EXPECT_EQ(dataModule.Folders.CompressedDir, root + "/vol/c/");
    EXPECT_TRUE(QFileInfo(root + "/vol/c").isDir());
    EXPECT_TRUE(QFileInfo(root + "/vol/u").isDir());
    EXPECT_TRUE(QFileInfo(dataModule.Folders.ImagesDir).isDir());
    EXPECT_TRUE(dataModule.Folders.ImagesDir.endsWith(QStringLiteral("/images/")));
    EXPECT_TRUE(dataModule.Folders.UnrarDir.endsWith(QStringLiteral("/unrar/")));
    EXPECT_FALSE(dataModule.IsLoggedIn());

    interface.SetString(QStringLiteral("UncompressedDirectory"), QString());
    Ttavilonapi broken;
    EXPECT_THROW(
        {
            try {
                broken.CreateWorkingDirectories();
            } catch (const Exception& e) {
                EXPECT_EQ(e.Message(), QStringLiteral("Unable to create directory"));
                throw;
            }
        },
        Exception);
}

} // namespace
