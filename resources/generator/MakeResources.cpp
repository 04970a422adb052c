// Draws the demo's pictures into the resources folder given as the only argument:
//   titles/tt<ID>/poster.jpg    one poster per sample title (titles/tt<ID>/info.txt says which)
//   images/noimage.png          the placeholder cover
//   backgrounds/*.jpg, *.png    window backgrounds
// Every picture is drawn here from shapes and text, so the demo carries nothing of anybody else.
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <QTextStream>
#include <cstdio>

namespace {

constexpr int PosterWidth = 300;
constexpr int PosterHeight = 450;
constexpr int PosterQuality = 88;

struct Info {
    QString title;
    QString year;
};

Info ReadInfo(const QString& path) {
    Info info;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return info;
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line.startsWith(QLatin1String("title:")))
            info.title = line.mid(6).trimmed();
        else if (line.startsWith(QLatin1String("year:")))
            info.year = line.mid(5).trimmed();
    }
    return info;
}

QColor Hue(QRandomGenerator& random, int saturation, int value) {
    return QColor::fromHsv(random.bounded(360), saturation, value);
}

void DrawScene(QPainter& p, QRandomGenerator& random, const QRectF& area) {
    const int kind = random.bounded(4);
    p.setPen(Qt::NoPen);
    if (kind == 0) { // a low sun over layered hills
        QRadialGradient sun(area.width() * 0.6, area.height() * 0.42, area.width() * 0.28);
        sun.setColorAt(0, QColor(255, 240, 200, 230));
        sun.setColorAt(1, QColor(255, 200, 120, 0));
        p.setBrush(sun);
        p.drawEllipse(QPointF(area.width() * 0.6, area.height() * 0.42), area.width() * 0.3,
                      area.width() * 0.3);
        for (int layer = 0; layer < 3; ++layer) {
            QPainterPath hill;
            const double base = area.height() * (0.55 + 0.1 * layer);
            hill.moveTo(0, base);
            for (int x = 0; x <= 6; ++x)
                hill.lineTo(area.width() * x / 6.0, base - random.bounded(60));
            hill.lineTo(area.width(), area.height());
            hill.lineTo(0, area.height());
            p.setBrush(QColor(10 + 20 * layer, 15 + 15 * layer, 40 + 10 * layer, 200));
            p.drawPath(hill);
        }
    } else if (kind == 1) { // rings
        for (int ring = 0; ring < 7; ++ring) {
            p.setBrush(Qt::NoBrush);
            p.setPen(QPen(Hue(random, 120, 255), 3 + random.bounded(10)));
            const double r = 30 + ring * 22;
            p.drawEllipse(QPointF(area.width() / 2, area.height() * 0.4), r, r);
        }
        p.setPen(Qt::NoPen);
    } else if (kind == 2) { // a city of towers
        for (int tower = 0; tower < 14; ++tower) {
            const double w = 15 + random.bounded(35);
            const double h = 80 + random.bounded(220);
            const double x = random.bounded(static_cast<int>(area.width()));
            p.setBrush(QColor(0, 0, 0, 90 + random.bounded(100)));
            p.drawRect(QRectF(x, area.height() * 0.78 - h, w, h));
            p.setBrush(QColor(255, 230, 150, 160));
            for (int window = 0; window < h / 18; ++window) {
                if (random.bounded(3) == 0)
                    p.drawRect(QRectF(x + 4, area.height() * 0.78 - h + 8 + window * 18, 5, 7));
            }
        }
    } else { // diagonal bands and a figure
        p.save();
        p.translate(area.center());
        p.rotate(-25 + random.bounded(50));
        for (int band = -6; band <= 6; ++band) {
            p.setBrush(QColor(255, 255, 255, 12 + random.bounded(40)));
            p.drawRect(QRectF(-400, band * 40, 800, 18));
        }
        p.restore();
        p.setBrush(QColor(0, 0, 0, 170));
        const QPointF foot(area.width() * 0.5, area.height() * 0.78);
        p.drawEllipse(QPointF(foot.x(), foot.y() - 150), 18, 18);
        QPainterPath body;
        body.moveTo(foot.x() - 30, foot.y());
        body.lineTo(foot.x() - 14, foot.y() - 130);
        body.lineTo(foot.x() + 14, foot.y() - 130);
        body.lineTo(foot.x() + 30, foot.y());
        p.drawPath(body);
    }
}

QImage Poster(const QString& id, const Info& info) {
    QRandomGenerator random(qHash(id));
    QImage image(PosterWidth, PosterHeight, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, PosterHeight);
    sky.setColorAt(0, Hue(random, 160, 120));
    sky.setColorAt(0.6, Hue(random, 140, 220));
    sky.setColorAt(1, QColor(15, 15, 25));
    p.fillRect(image.rect(), sky);
    DrawScene(p, random, image.rect());
    // Title block at the bottom, year at the top.
    p.fillRect(QRect(0, PosterHeight - 120, PosterWidth, 120), QColor(0, 0, 0, 150));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(30);
    p.setFont(font);
    p.setPen(QColor(250, 245, 230));
    p.drawText(QRect(12, PosterHeight - 116, PosterWidth - 24, 100),
               Qt::AlignCenter | Qt::TextWordWrap, info.title.toUpper());
    font.setPixelSize(16);
    font.setBold(false);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 4);
    p.setFont(font);
    p.drawText(QRect(0, 14, PosterWidth, 24), Qt::AlignCenter, info.year);
    p.setPen(QPen(QColor(255, 255, 255, 60), 2));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRect(6, 6, PosterWidth - 12, PosterHeight - 12));
    return image;
}

QImage Placeholder() {
    QImage image(PosterWidth, PosterHeight, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, PosterHeight);
    fill.setColorAt(0, QColor(160, 172, 190));
    fill.setColorAt(1, QColor(110, 122, 142));
    QPainterPath frame;
    frame.addRoundedRect(QRectF(4, 4, PosterWidth - 8, PosterHeight - 8), 18, 18);
    p.fillPath(frame, fill);
    // A strip of film with an empty frame.
    const QRectF strip(50, 130, 200, 150);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 66, 80));
    p.drawRoundedRect(strip, 10, 10);
    p.setBrush(QColor(200, 208, 220));
    for (int hole = 0; hole < 7; ++hole) {
        p.drawRect(QRectF(strip.left() + 12 + hole * 27, strip.top() + 8, 14, 12));
        p.drawRect(QRectF(strip.left() + 12 + hole * 27, strip.bottom() - 20, 14, 12));
    }
    p.setBrush(QColor(140, 150, 168));
    p.drawRect(
        QRectF(strip.left() + 20, strip.top() + 30, strip.width() - 40, strip.height() - 60));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(30);
    p.setFont(font);
    p.setPen(QColor(245, 248, 252));
    p.drawText(QRect(0, 300, PosterWidth, 50), Qt::AlignCenter, QStringLiteral("No image"));
    return image;
}

QImage Background(int width, int height, int variant) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, height);
    fill.setColorAt(0, variant == 0 ? QColor(119, 170, 255) : QColor(40, 60, 110));
    fill.setColorAt(1, variant == 0 ? QColor(40, 80, 160) : QColor(10, 15, 35));
    p.fillRect(image.rect(), fill);
    QRandomGenerator random(static_cast<quint32>(variant + 7));
    p.setPen(Qt::NoPen);
    for (int glow = 0; glow < 18; ++glow) {
        const QPointF centre(random.bounded(width), random.bounded(height));
        const double radius = 80 + random.bounded(260);
        QRadialGradient light(centre, radius);
        light.setColorAt(0, QColor(255, 255, 255, 38));
        light.setColorAt(1, QColor(255, 255, 255, 0));
        p.setBrush(light);
        p.drawEllipse(centre, radius, radius);
    }
    return image;
}

bool Save(const QImage& image, const QString& path, int quality = -1) {
    QDir().mkpath(QFileInfo(path).path());
    if (!image.save(path, nullptr, quality)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-resources RESOURCES_DIR\n");
        return 2;
    }
    const QDir resources(QString::fromLocal8Bit(argv[1]));
    bool ok = true;
    const QDir titles(resources.filePath(QStringLiteral("titles")));
    for (const QString& folder : titles.entryList({QStringLiteral("tt*")}, QDir::Dirs)) {
        const Info info = ReadInfo(titles.filePath(folder + QStringLiteral("/info.txt")));
        if (info.title.isEmpty())
            continue;
        ok &= Save(Poster(folder, info), titles.filePath(folder + QStringLiteral("/poster.jpg")),
                   PosterQuality);
    }
    ok &= Save(Placeholder(), resources.filePath(QStringLiteral("images/noimage.png")));
    ok &= Save(Background(1280, 1024, 0), resources.filePath(QStringLiteral("backgrounds/sky.jpg")),
               85);
    ok &= Save(Background(1280, 1024, 1),
               resources.filePath(QStringLiteral("backgrounds/night.png")));
    return ok ? 0 : 1;
}
