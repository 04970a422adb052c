#include "core/Utils.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocale>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace {

struct SizeCase {
    int64_t size;
    const char* text;
};

void PrintTo(const SizeCase& sizeCase, std::ostream* out) { *out << sizeCase.size; }

class FormatSizeTest : public testing::TestWithParam<SizeCase> {};

TEST_P(FormatSizeTest, MatchesTheTable) {
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(FormatSize(GetParam().size).toStdString(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    BoundariesAndRounding, FormatSizeTest,
    testing::Values(SizeCase{-1, "error"}, SizeCase{0, "0 Byte"}, SizeCase{1, "1 Byte"},
                    SizeCase{1023, "1023 Byte"}, SizeCase{1024, "1 KB"}, SizeCase{1536, "1.5 KB"},
                    SizeCase{1500, "1.46 KB"},
                    // 112.5 and 137.5 hundredths: ties go to the even neighbour
                    SizeCase{1152, "1.12 KB"}, SizeCase{1408, "1.38 KB"},
                    SizeCase{1048575, "1024 KB"}, SizeCase{1048576, "1 MB"},
                    SizeCase{1073741823, "1024 MB"}, SizeCase{1073741824, "1 GB"},
                    SizeCase{5368709120LL, "5 GB"}, SizeCase{INT64_MAX, "8589934592 GB"}),
    [](const testing::TestParamInfo<SizeCase>& info) {
        const int64_t size = info.param.size;
        return size < 0 ? std::string("minus") + std::to_string(-size) : std::to_string(size);
    });

TEST(FormatSize, UsesTheLocaleDecimalSeparator) {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FormatSize(1536), QStringLiteral("1,5 KB"));
    QLocale::setDefault(QLocale::c());
}

TEST(UrlEncode, EncodesEverythingButLettersDigitsAndDots) {
    const std::pair<QString, QString> cases[] = {
        {QString(), QString()},
        {QStringLiteral("a.b"), QStringLiteral("a.b")},
        {QStringLiteral("Az09"), QStringLiteral("Az09")},
        {QStringLiteral("a b-c_d"), QStringLiteral("a%20b%2Dc%5Fd")},
        {QStringLiteral("x=1&y"), QStringLiteral("x%3D1%26y")},
        {QStringLiteral("\x01"), QStringLiteral("%01")},
        {QStringLiteral("\u00e9"), QStringLiteral("%E9")},
        {QStringLiteral("\u00ff"), QStringLiteral("%FF")},
        // above 255: the UTF-8 bytes, not the ambiguous %20AC
        {QStringLiteral("\u20ac"), QStringLiteral("%E2%82%AC")},
        {QString::fromUcs4(U"\U0001F600"), QStringLiteral("%F0%9F%98%80")},
    };
    for (const auto& [text, encoded] : cases)
        EXPECT_EQ(UrlEncode(text), encoded) << text.toStdString();
}

TEST(GetFileExtension, TakesTheTextFromTheLastDot) {
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("movie.part1.rar"), QStringLiteral(".rar")},
        {QStringLiteral("movie."), QStringLiteral(".")},
        {QStringLiteral("movie"), QString()},
        {QStringLiteral("/videos.new/movie"), QStringLiteral(".new/movie")},
        {QStringLiteral("A.AVI"), QStringLiteral(".AVI")},
    };
    for (const auto& [name, extension] : cases)
        EXPECT_EQ(GetFileExtension(name), extension) << name.toStdString();
}

TEST(LastPos, FindsTheLastOccurrenceOneBased) {
    EXPECT_EQ(LastPos(QStringLiteral("ab"), QStringLiteral("abxab")), 4);
    EXPECT_EQ(LastPos(QStringLiteral("ab"), QStringLiteral("abx")), 1);
    EXPECT_EQ(LastPos(QStringLiteral("AB"), QStringLiteral("abx")), 0);
    EXPECT_EQ(LastPos(QStringLiteral("ab"), QString()), 0);
}

TEST(ExtractLink, TakesTheLastPlainHttpAddress) {
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("  http://host/?d=1  "), QStringLiteral("http://host/?d=1")},
        {QStringLiteral("see HTTP://a/1 and http://b/2\t"), QStringLiteral("http://b/2")},
        {QStringLiteral("HTTP://A/1"), QStringLiteral("HTTP://A/1")},
        {QStringLiteral("https://secure/1"), QString()},
        {QStringLiteral("no link here"), QString()},
        {QStringLiteral("\x02http://x/\x03"), QStringLiteral("http://x/")},
    };
    for (const auto& [line, link] : cases)
        EXPECT_EQ(ExtractLink(line), link) << line.toStdString();
}

TEST(ExtractLinks, KeepsOneLinkPerLineInOrder) {
    const QString text = QStringLiteral("first http://a/1\r\nnothing\rhttp://b/2\n\nhttps://c/3\n");
    EXPECT_EQ(ExtractLinks(text), (QStringList{QStringLiteral("http://a/1"), QStringLiteral("http://b/2")}));
    EXPECT_TRUE(ExtractLinks(QString()).isEmpty());
}

TEST(StreamToText, ReadsWindows1252) {
    const QByteArray bytes("caf\xe9 \x80 \x93x\x94 \x81", 12);
    EXPECT_EQ(StreamToText(bytes), QString::fromUtf8("caf\u00e9 \u20ac \u201cx\u201d \u0081"));
    EXPECT_EQ(StreamToText(QByteArray("a\0b", 3)).size(), 3);
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TEST(WaitProcessingMessages, ServesTimersWhileWaitingWithoutSpinning) {
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = CpuSeconds();
    WaitProcessingMessages(300);
    const double cpuUsed = CpuSeconds() - cpuBefore;
    EXPECT_GE(clock.elapsed(), 300);
    EXPECT_GE(ticks, 5);
    // A busy loop would burn the whole wait; waiting in the event loop burns almost nothing.
    EXPECT_LT(cpuUsed, 0.15);
}

TEST(GetMyDocumentsPath, HasNoTrailingSeparator) {
    const QString path = GetMyDocumentsPath();
    EXPECT_FALSE(path.isEmpty());
    EXPECT_FALSE(path.endsWith(QLatin1Char('/')));
}

} // namespace
