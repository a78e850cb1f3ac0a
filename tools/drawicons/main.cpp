// veltrane-drawicons: draws PN.ICO (a truck on a weighbridge), SCALE.ICO (a platform scale) and
// h_point.cur (a pointing hand) into the application folder, and the desktop's application icon (the
// truck) as PNG images and an SVG in the icon-theme layout. Drawn here so that no image comes from
// elsewhere.

#include <QColor>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QSvgGenerator>
#include <QtEndian>

#include <cstdio>
#include <functional>
#include <vector>

namespace {

using Drawing = std::function<void(QPainter&)>;  // draws on a 256 by 256 canvas

QImage render(const Drawing& draw, int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 256.0, size / 256.0);
    draw(painter);
    return image;
}

void put16(QByteArray& out, quint16 v) {
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}
void put32(QByteArray& out, quint32 v) {
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

// One directory entry's image: BITMAPINFOHEADER, 32-bit BGRA rows bottom-up, then the AND mask.
QByteArray dib(const QImage& image) {
    QByteArray out;
    const int n = image.width();
    put32(out, 40);
    put32(out, static_cast<quint32>(n));
    put32(out, static_cast<quint32>(2 * n));  // colour rows and mask rows
    put16(out, 1);
    put16(out, 32);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    for (int y = n - 1; y >= 0; --y) {
        for (int x = 0; x < n; ++x) {
            const QRgb p = image.pixel(x, y);
            out.append(static_cast<char>(qBlue(p)));
            out.append(static_cast<char>(qGreen(p)));
            out.append(static_cast<char>(qRed(p)));
            out.append(static_cast<char>(qAlpha(p)));
        }
    }
    const int maskStride = ((n + 31) / 32) * 4;
    for (int y = n - 1; y >= 0; --y) {
        QByteArray row(maskStride, '\0');
        for (int x = 0; x < n; ++x) {
            if (qAlpha(image.pixel(x, y)) < 128)
                row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
        }
        out.append(row);
    }
    return out;
}

// type 1: icon; type 2: cursor, whose entries carry the hot spot (given for the 256 canvas).
bool writeIconFile(const QString& path, const Drawing& draw, const std::vector<int>& sizes, quint16 type,
                   QPoint hotSpot = {}) {
    std::vector<QByteArray> images;
    images.reserve(sizes.size());
    for (int size : sizes) images.push_back(dib(render(draw, size)));
    QByteArray out;
    put16(out, 0);
    put16(out, type);
    put16(out, static_cast<quint16>(sizes.size()));
    quint32 offset = 6 + 16 * static_cast<quint32>(sizes.size());
    for (size_t i = 0; i < sizes.size(); ++i) {
        const int size = sizes[i];
        out.append(static_cast<char>(size >= 256 ? 0 : size));
        out.append(static_cast<char>(size >= 256 ? 0 : size));
        out.append('\0');
        out.append('\0');
        if (type == 2) {
            put16(out, static_cast<quint16>(hotSpot.x() * size / 256));
            put16(out, static_cast<quint16>(hotSpot.y() * size / 256));
        } else {
            put16(out, 1);
            put16(out, 32);
        }
        put32(out, static_cast<quint32>(images[i].size()));
        put32(out, offset);
        offset += static_cast<quint32>(images[i].size());
    }
    for (const QByteArray& image : images) out.append(image);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return file.write(out) == out.size();
}

void wheel(QPainter& p, QPointF centre, qreal r) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 30, 30));
    p.drawEllipse(centre, r, r);
    p.setBrush(QColor(170, 170, 170));
    p.drawEllipse(centre, r * 0.45, r * 0.45);
}

void truckOnWeighbridge(QPainter& p) {
    const QPen outline(QColor(20, 20, 20), 6);
    // Pit and deck of the weighbridge, with the load cells under it.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(110, 110, 110));
    p.drawRect(QRectF(4, 212, 248, 36));
    p.setBrush(QColor(240, 180, 20));
    p.setPen(outline);
    p.drawRect(QRectF(10, 194, 236, 22));
    p.setBrush(QColor(60, 60, 60));
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(30, 216, 16, 18));
    p.drawRect(QRectF(210, 216, 16, 18));
    // Load box and cab.
    p.setPen(outline);
    p.setBrush(QColor(30, 110, 200));
    p.drawRoundedRect(QRectF(20, 70, 150, 100), 8, 8);
    p.setBrush(QColor(210, 40, 40));
    QPainterPath cab;
    cab.moveTo(176, 170);
    cab.lineTo(176, 96);
    cab.lineTo(214, 96);
    cab.lineTo(240, 132);
    cab.lineTo(240, 170);
    cab.closeSubpath();
    p.drawPath(cab);
    p.setBrush(QColor(190, 230, 255));
    p.drawRect(QRectF(188, 106, 26, 26));
    p.setBrush(QColor(60, 60, 60));
    p.drawRect(QRectF(20, 164, 220, 10));
    wheel(p, {58, 178}, 18);
    wheel(p, {102, 178}, 18);
    wheel(p, {208, 178}, 18);
}

void platformScale(QPainter& p) {
    const QPen outline(QColor(20, 20, 20), 6);
    p.setPen(outline);
    // Column and indicator head.
    p.setBrush(QColor(150, 150, 160));
    p.drawRect(QRectF(186, 60, 18, 140));
    p.setBrush(QColor(40, 40, 50));
    p.drawRoundedRect(QRectF(140, 18, 110, 60), 10, 10);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(80, 230, 110));
    p.drawRect(QRectF(152, 32, 86, 24));
    p.setBrush(QColor(30, 80, 40));
    for (int i = 0; i < 4; ++i) p.drawRect(QRectF(158 + i * 20, 36, 12, 16));
    // Platform on its base, with a sack on it.
    p.setPen(outline);
    p.setBrush(QColor(200, 200, 210));
    p.drawRoundedRect(QRectF(14, 196, 232, 26), 6, 6);
    p.setBrush(QColor(90, 90, 100));
    p.drawRect(QRectF(30, 222, 200, 20));
    p.setBrush(QColor(190, 140, 70));
    QPainterPath sack;
    sack.moveTo(40, 196);
    sack.cubicTo(28, 150, 52, 110, 96, 104);
    sack.cubicTo(140, 110, 166, 150, 152, 196);
    sack.closeSubpath();
    p.drawPath(sack);
    p.drawLine(QPointF(80, 112), QPointF(112, 112));
}

void pointingHand(QPainter& p) {
    QPainterPath hand;
    // Index finger up from the palm, the tip at the hot spot (104, 8).
    hand.addRoundedRect(QRectF(82, 6, 44, 124), 22, 22);
    hand.addRoundedRect(QRectF(120, 92, 30, 60), 15, 15);
    hand.addRoundedRect(QRectF(150, 100, 30, 56), 15, 15);
    hand.addRoundedRect(QRectF(180, 108, 28, 52), 14, 14);
    hand.addRoundedRect(QRectF(88, 110, 120, 110), 30, 30);
    QPainterPath thumb;
    thumb.addRoundedRect(QRectF(44, 126, 70, 30), 15, 15);
    QTransform tilt;
    tilt.translate(80, 140);
    tilt.rotate(35);
    tilt.translate(-80, -140);
    hand = hand.united(tilt.map(thumb)).simplified();
    p.setPen(QPen(Qt::black, 8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::white);
    p.drawPath(hand);
    p.setPen(QPen(Qt::black, 6));
    p.drawLine(QPointF(120, 124), QPointF(120, 150));
    p.drawLine(QPointF(150, 126), QPointF(150, 154));
    p.drawLine(QPointF(180, 132), QPointF(180, 158));
}

// The menu and the software centre show the truck: <theme>/hicolor/<n>x<n>/apps/veltrane.png at the
// sizes desktops ask for, and hicolor/scalable/apps/veltrane.svg for every other size.
bool writeThemeIcons(const QString& theme, const Drawing& draw) {
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QStringLiteral("%1/hicolor/%2x%2/apps").arg(theme).arg(size);
        if (!QDir().mkpath(folder) ||
            !render(draw, size).save(folder + QStringLiteral("/veltrane.png"), "PNG"))
            return false;
    }
    const QString folder = theme + QStringLiteral("/hicolor/scalable/apps");
    if (!QDir().mkpath(folder)) return false;
    QSvgGenerator svg;
    svg.setFileName(folder + QStringLiteral("/veltrane.svg"));
    svg.setSize(QSize(256, 256));
    svg.setViewBox(QRect(0, 0, 256, 256));
    svg.setTitle(QStringLiteral("Veltrane"));
    svg.setDescription(QStringLiteral("A truck on a weighbridge"));
    QPainter painter;
    if (!painter.begin(&svg)) return false;
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter);
    return painter.end();
}

bool writeApplicationFolderIcons(const QString& folder) {
    return writeIconFile(folder + QStringLiteral("/PN.ICO"), truckOnWeighbridge, {16, 32, 48}, 1) &&
           writeIconFile(folder + QStringLiteral("/SCALE.ICO"), platformScale, {16, 32, 48}, 1) &&
           writeIconFile(folder + QStringLiteral("/h_point.cur"), pointingHand, {32}, 2, {104, 8});
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Draws Veltrane's icons and pointer."));
    parser.addHelpOption();
    const QCommandLineOption theme(QStringLiteral("theme"),
                                   QStringLiteral("Also write the application icon into <folder> in the "
                                                  "icon-theme layout (hicolor/<n>x<n>/apps/veltrane.png, "
                                                  "hicolor/scalable/apps/veltrane.svg)."),
                                   QStringLiteral("folder"));
    parser.addOption(theme);
    parser.addPositionalArgument(QStringLiteral("folder"),
                                 QStringLiteral("The application folder: PN.ICO, SCALE.ICO and h_point.cur."),
                                 QStringLiteral("[folder]"));
    const auto usage = [](const QString& why) {
        std::fprintf(stderr, "veltrane-drawicons: %s\nTry 'veltrane-drawicons --help'.\n", qPrintable(why));
        return 2;
    };
    if (!parser.parse(QCoreApplication::arguments())) return usage(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) parser.showHelp(0);
    const QStringList folders = parser.positionalArguments();
    if (folders.size() > 1) return usage(QStringLiteral("only one folder may be given"));
    if (folders.isEmpty() && !parser.isSet(theme))
        return usage(QStringLiteral("nothing to draw: give a folder or --theme"));

    if (!folders.isEmpty() && !writeApplicationFolderIcons(folders.front())) {
        std::fprintf(stderr, "veltrane-drawicons: cannot write into %s\n", qPrintable(folders.front()));
        return 1;
    }
    if (parser.isSet(theme) && !writeThemeIcons(parser.value(theme), truckOnWeighbridge)) {
        std::fprintf(stderr, "veltrane-drawicons: cannot write the theme icons into %s\n",
                     qPrintable(parser.value(theme)));
        return 1;
    }
    return 0;
}
