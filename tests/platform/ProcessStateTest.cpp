// Whether a process still runs: the test's own does, an ended child does not, nor do ids <= 0.

#include "platform/ProcessState.h"

#include <QCoreApplication>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

TEST(ProcessStateTest, TellsRunningFromEnded) {
    EXPECT_TRUE(ProcessRunning(QCoreApplication::applicationPid()));
    EXPECT_FALSE(ProcessRunning(0));
    EXPECT_FALSE(ProcessRunning(-1));

    QProcess child;
    child.start(QStringLiteral("sleep"), {QStringLiteral("30")});
    ASSERT_TRUE(child.waitForStarted());
    const qint64 id = child.processId();
    EXPECT_TRUE(ProcessRunning(id));
    child.kill();
    ASSERT_TRUE(child.waitForFinished());
    EXPECT_FALSE(ProcessRunning(id));
}

} // namespace
