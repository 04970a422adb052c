#include "browse/TCoverPanel.h"
#include "browse/TPictureContainer.h"

#include <QImage>
#include <QPixmap>
#include <gtest/gtest.h>

namespace {

QImage Drawn(TCoverPanel& panel) {
    return panel.grab().toImage();
}

bool Near(const QColor& a, const QColor& b, int tolerance = 12) {
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

// A panel of 160 x 210: its body is 150 x 200, its shadow the same shape 10 pixels down and right.
TEST(CoverPanel, DrawsTheRoundedShadowedGradientAndTheFocusedBorder) {
    TPictureContainer images;
    TCoverPanel panel(nullptr, &images);
    panel.resize(160, 210);
    panel.SetCaption(QString());

    const QImage normal = Drawn(panel);
    EXPECT_EQ(qAlpha(normal.pixel(0, 0)), 0) << "rounded corner";
    EXPECT_TRUE(Near(normal.pixelColor(75, 3), QColor(238, 241, 246))) << "gradient top";
    for (const QPoint shadow : {QPoint(155, 100), QPoint(75, 205)}) {
        EXPECT_GT(qAlpha(normal.pixel(shadow)), 0) << "shadow";
        EXPECT_LT(normal.pixelColor(shadow).value(), 60);
    }
    EXPECT_FALSE(Near(normal.pixelColor(2, 100), QColor(255, 0, 0), 60)) << "no border";

    panel.SetFill(TPanelFill::Focused());
    const QImage focused = Drawn(panel);
    EXPECT_TRUE(Near(focused.pixelColor(2, 100), QColor(255, 0, 0), 30)) << "red border, 5 wide";
    EXPECT_TRUE(Near(focused.pixelColor(4, 100), QColor(255, 0, 0), 30));
    EXPECT_TRUE(Near(focused.pixelColor(75, 8), QColor(255, 255, 0), 20)) << "yellow gradient top";
    EXPECT_FALSE(Near(focused.pixelColor(8, 100), QColor(255, 0, 0), 60));
}

TEST(CoverPanel, DrawsThePictureItsCaptionNamesAtTheSizeItGives) {
    TPictureContainer images;
    QImage green(10, 10, QImage::Format_RGB32);
    green.fill(Qt::green);
    images.Add(QStringLiteral("0000042"), green);
    TCoverPanel panel(nullptr, &images);
    panel.resize(160, 210);
    const struct {
        const char* markup;
        bool shown;
    } cases[] = {
        {R"(<IMG src="0000042" width="100" height="120">)", true},
        {R"(<img SRC="0000042" width="100" height="120">)", true},
        {R"(<IMG src="0000043" width="100" height="120">)", false}, // not in the container
        {"", false},
    };
    for (const auto& c : cases) {
        panel.SetPictureCaption(QLatin1String(c.markup));
        const QImage drawn = Drawn(panel);
        // Centred in the body (150 wide): x 25 to 124, y 12 to 131.
        EXPECT_EQ(Near(drawn.pixelColor(26, 13), QColor(Qt::green)), c.shown) << c.markup;
        EXPECT_EQ(Near(drawn.pixelColor(123, 130), QColor(Qt::green)), c.shown) << c.markup;
        EXPECT_FALSE(Near(drawn.pixelColor(22, 60), QColor(Qt::green))) << c.markup;
        EXPECT_FALSE(Near(drawn.pixelColor(75, 134), QColor(Qt::green))) << c.markup;
    }
    EXPECT_EQ(panel.PictureName(), QString());
    panel.SetPictureCaption(
        QStringLiteral("<IMG src=\"noimage.png\" width=\"148\" height=\"256\">"));
    EXPECT_EQ(panel.PictureName(), QStringLiteral("noimage.png"));
    EXPECT_EQ(panel.PictureSize(), QSize(148, 256));
}

} // namespace
