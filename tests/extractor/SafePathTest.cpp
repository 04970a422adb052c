// Writing below the output folder only: never through a link.

#include <QDir>
#include <QFile>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "extractor/SafePath.h"
#include "support/TestEnvironment.h"

namespace {

TEST(SafePath, NeverWritesThroughLinks) {
    const QString root = testenv::MakeTempDir(QStringLiteral("safe"));
    const QString outside = testenv::MakeTempDir(QStringLiteral("outside"));
    QDir().mkpath(root + "/out");
    ASSERT_EQ(::symlink(outside.toLocal8Bit().constData(), (root + "/out/linked").toLocal8Bit().constData()), 0);
    QFile target(outside + "/victim.txt");
    ASSERT_TRUE(target.open(QIODevice::WriteOnly));
    target.write("keep");
    target.close();
    ASSERT_EQ(::link((outside + "/victim.txt").toLocal8Bit().constData(),
                     (root + "/out/hard.txt").toLocal8Bit().constData()),
              0);
    int rootFd = ::open((root + "/out").toLocal8Bit().constData(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(rootFd, 0);
    std::string error;
    EXPECT_LT(extractor::CreateOutputFile(rootFd, "linked/victim.txt", error), 0);
    EXPECT_LT(extractor::OpenParentFolder(rootFd, "linked/x", true, error), 0);
    // An existing name is replaced, not written through (it may be a hard link).
    int fd = extractor::CreateOutputFile(rootFd, "hard.txt", error);
    ASSERT_GE(fd, 0) << error;
    ASSERT_EQ(::write(fd, "new", 3), 3);
    ::close(fd);
    ::close(rootFd);
    QFile victim(outside + "/victim.txt");
    ASSERT_TRUE(victim.open(QIODevice::ReadOnly));
    EXPECT_EQ(victim.readAll(), QByteArray("keep"));
    EXPECT_FALSE(QFile::exists(outside + "/x"));
}

} // namespace
