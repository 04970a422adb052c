// Volumes of an earlier playback are moved aside before the next one starts; other files stay.

#include "playback/EarlierVolumes.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

void Write(const QString& path, const QByteArray& content) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(EarlierVolumesTest, MovesEveryVolumeAsideAndLeavesTheRest) {
    const QString dir = testenv::MakeTempDir(QStringLiteral("compressed")) + QLatin1Char('/');
    Write(dir + "movie.part1.rar", "one");
    Write(dir + "movie.part2.rar", "two");
    Write(dir + "old.R07", "old");
    Write(dir + "movie.part2.rar.earlier", "from a run before");
    Write(dir + "movie.avi", "video");
    Write(dir + "notes.rart", "not a volume");

    EXPECT_EQ(MoveEarlierVolumesAside(dir),
              (QStringList{"movie.part1.rar", "movie.part2.rar", "old.R07"}));
    const QStringList left = QDir(dir).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(left, (QStringList{"movie.avi", "movie.part1.rar.earlier", "movie.part2.rar.earlier",
                                 "notes.rart", "old.R07.earlier"}));
    EXPECT_EQ(Read(dir + "movie.part2.rar.earlier"), QByteArray("two"));
    EXPECT_TRUE(MoveEarlierVolumesAside(dir).isEmpty());
}

TEST(EarlierVolumesTest, AMissingFolderMovesNothing) {
    EXPECT_TRUE(MoveEarlierVolumesAside(testenv::HomeDir() + "/no such folder/").isEmpty());
}

} // namespace
