#include "platform/OptionDefaults.h"
#include "platform/OptionsManager.h"
#include "support/TestEnvironment.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

namespace {

bool WaitFor(const std::function<bool()>& condition, int ms) {
    const QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    return true;
}

// The real program on the real display: it starts, creates its folders, and ends cleanly when
// its window is closed by the window system's request to stop.
TEST(Client, StartsCreatesItsFoldersAndQuitsCleanly) {
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "e2e tests run under xvfb-run";
    testenv::ClearSettingsStore();
    const QString root = testenv::MakeTempDir(QStringLiteral("client"));
    TOptionsManager writer;
    RegisterOptionDefaults(writer);
    writer.FindSection(InterfaceSection)->SetString(QStringLiteral("CompressedDirectory"), root + "/c/");
    writer.FindSection(InterfaceSection)->SetString(QStringLiteral("UncompressedDirectory"), root + "/u");
    writer.SaveAll();

    QProcess client;
    client.setProcessChannelMode(QProcess::ForwardedChannels);
    client.start(testenv::BinDir() + QStringLiteral("/tavilon"), {});
    ASSERT_TRUE(client.waitForStarted(10000));
    EXPECT_TRUE(WaitFor([&] { return QFileInfo(root + "/u").isDir(); }, 20000));
    EXPECT_TRUE(QFileInfo(root + "/c").isDir());
    EXPECT_EQ(client.state(), QProcess::Running);

    client.terminate();
    ASSERT_TRUE(client.waitForFinished(10000));
    EXPECT_EQ(client.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(client.exitCode(), 0);
    testenv::ClearSettingsStore();
}

} // namespace
