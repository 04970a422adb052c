#include "BrowseFixture.h"
#include "support/TestEnvironment.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

namespace {

// The real program on the real display asks the real catalogue for its first page at start,
// and ends cleanly when asked to stop.
TEST(ClientGrid, TheProgramLoadsTheFirstPageFromTheCatalogueAtStart) {
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "e2e tests run under xvfb-run";
    TBrowseServers servers;
    ASSERT_TRUE(servers.Started()) << servers.Problem().toStdString();
    QProcess client;
    client.setProcessChannelMode(QProcess::ForwardedChannels);
    client.start(testenv::BinDir() + QStringLiteral("/tavilon"), {});
    ASSERT_TRUE(client.waitForStarted(10000));
    const QDeadlineTimer deadline(20000);
    while (servers.PageRequests().empty() && !deadline.hasExpired())
        QThread::msleep(50);
    ASSERT_EQ(servers.PageRequests().size(), 1u);
    EXPECT_EQ(servers.PageRequests()[0].start, 0);
    EXPECT_EQ(servers.PageRequests()[0].limit, 18);
    EXPECT_EQ(servers.PageRequests()[0].type, 0);
    EXPECT_EQ(client.state(), QProcess::Running);
    client.terminate();
    ASSERT_TRUE(client.waitForFinished(10000));
    EXPECT_EQ(client.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(client.exitCode(), 0);
}

} // namespace
