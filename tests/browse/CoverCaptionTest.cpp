#include "browse/CoverCaption.h"

#include <QFont>
#include <QFontMetrics>
#include <gtest/gtest.h>

namespace {

TEST(CoverCaption, DecodesNumericReferencesOfCodesUpTo255) {
    const struct {
        QString title;
        QString shown;
    } cases[] = {
        {"Caf&#xE9;", "Caf\u00e9"},
        {"Caf&#233;", "Caf\u00e9"},
        {"Caf&#xe9;", "Caf&#xe9;"}, // lower-case hexadecimal digits stay
        {"A&#x41;&#66;", "AAB"},
        {"&#x1;x", "&#x1;x"}, // two digits, also for small codes
        {"&#x01;x", QString(QChar(1)) + "x"},
        {"&#01;x", "&#01;x"},               // decimal without leading zeros only
        {"&#256;&#x100;", "&#256;&#x100;"}, // beyond 255: unchanged
        {"&#38;#233;", "\u00e9"},           // "&" made by code 38 starts a later code's reference
        {"&#x26;#x21;", "&#x21;"},          // ... but not one of a lower code, done already
        {"Tom &amp; Jerry", "Tom &amp; Jerry"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeTitle(c.title), c.shown) << c.title.toStdString();
}

TEST(CoverCaption, ShortensToTheStartThatFitsAtMost17CharactersAndDots) {
    QFont font(QStringLiteral("Arial"));
    font.setBold(true);
    font.setPixelSize(21);
    const QFontMetrics metrics(font);
    const QString title = QStringLiteral("An Unusually Long Title That Will Never Fit");
    const int dots = metrics.horizontalAdvance(QStringLiteral("..."));
    const int whole = metrics.horizontalAdvance(title + "...");
    // Wide enough: unchanged, without dots.
    EXPECT_EQ(ShortenTitle(title, metrics, whole), title);
    EXPECT_EQ(ShortenTitle(QStringLiteral("Short"), metrics, 1000), QStringLiteral("Short"));
    // Too narrow by a little: cut to 17 characters and dots.
    EXPECT_EQ(ShortenTitle(title, metrics, whole - 1), title.left(17) + "...");
    // Narrower: the start that fits, when shorter than 17.
    const int sixWide = metrics.horizontalAdvance(title.left(6) + "...");
    EXPECT_EQ(ShortenTitle(title, metrics, sixWide), title.left(6) + "...");
    // Narrower than the dots themselves: only the dots.
    EXPECT_EQ(ShortenTitle(title, metrics, dots - 1), QStringLiteral("..."));
    EXPECT_EQ(ShortenTitle(QStringLiteral("W"), metrics, 0), QStringLiteral("..."));
    EXPECT_EQ(ShortenTitle(QString(), metrics, 0), QString());
}

} // namespace
