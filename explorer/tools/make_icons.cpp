// Draws the explorer's pictures: the window icon (Icon_1.ico with 48, 32 and
// 16 pixel images), the 16 x 16 tool bar and tree icons, the About logo and
// the desktop icons (16, 32, 48, 64, 128 and 256 pixels, and scalable). Everything is drawn from
// shapes, in one palette, so the set can be redrawn and changed here.
//
//   make_icons OUT_ICONS_DIR OUT_DESKTOP_DIR
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QSvgGenerator>
#include <QtEndian>

#include <cstdio>

namespace {

// One palette for all pictures.
const QColor kOutline(0x2b, 0x3a, 0x4a);
const QColor kPaper(0xfd, 0xfd, 0xfd);
const QColor kLines(0x8f, 0xa3, 0xb8);
const QColor kFolderBack(0xe0, 0x9a, 0x24);
const QColor kFolderFront(0xf6, 0xc1, 0x4f);
const QColor kBlueDark(0x1d, 0x5c, 0xa6);
const QColor kBlueLight(0x3a, 0x8d, 0xe0);
const QColor kGreen(0x2f, 0x9e, 0x4f);

// A transparent square of side `size` with what `draw` paints on it.
template <typename Draw>
QImage painted(int size, Draw draw)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    draw(p);
    p.end();
    return img;
}

// The lines through `points`, closed into a shape unless `closed` is false.
QPainterPath outline(std::initializer_list<QPointF> points, bool closed = true)
{
    QPainterPath path;
    path.addPolygon(QPolygonF(points));
    if (closed)
        path.closeSubpath();
    return path;
}

QPen outlinePen()
{
    QPen pen(kOutline, 1.0);
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::RoundCap);
    return pen;
}

// A sheet of paper with a folded corner, in a 16 x 16 box.
void drawDocument(QPainter &p)
{
    const QPainterPath sheet =
        outline({{3.5, 1.5}, {9.5, 1.5}, {13.5, 5.5}, {13.5, 14.5}, {3.5, 14.5}});
    p.setPen(outlinePen());
    p.setBrush(kPaper);
    p.drawPath(sheet);

    const QPainterPath fold = outline({{9.5, 1.5}, {9.5, 5.5}, {13.5, 5.5}}, false);
    p.setBrush(QColor(0xdd, 0xe4, 0xec));
    p.drawPath(fold);

    p.setPen(QPen(kLines, 1.0));
    for (double y : {7.5, 9.5, 11.5})
        p.drawLine(QPointF(5.5, y), QPointF(11.5, y));
}

void drawFolderBack(QPainter &p)
{
    const QPainterPath back =
        outline({{1.5, 3.5}, {6.0, 3.5}, {7.5, 5.0}, {14.5, 5.0}, {14.5, 13.5}, {1.5, 13.5}});
    p.setPen(outlinePen());
    p.setBrush(kFolderBack);
    p.drawPath(back);
}

QImage folder()
{
    return painted(16, [](QPainter &p) {
        drawFolderBack(p);
        QLinearGradient g(0, 6, 0, 14);
        g.setColorAt(0, kFolderFront.lighter(112));
        g.setColorAt(1, kFolderFront);
        p.setPen(outlinePen());
        p.setBrush(g);
        p.drawRect(QRectF(1.5, 6.5, 13.0, 7.0));
    });
}

QImage openFolder()
{
    return painted(16, [](QPainter &p) {
        drawFolderBack(p);
        // A sheet sticking out, then the front flap tilted open.
        p.setPen(outlinePen());
        p.setBrush(kPaper);
        p.drawRect(QRectF(3.5, 3.5, 9.0, 5.0));
        const QPainterPath flap = outline({{3.5, 7.5}, {15.5, 7.5}, {13.0, 13.5}, {1.5, 13.5}});
        QLinearGradient g(0, 7, 0, 14);
        g.setColorAt(0, kFolderFront.lighter(112));
        g.setColorAt(1, kFolderFront);
        p.setBrush(g);
        p.drawPath(flap);
    });
}

QImage document()
{
    return painted(16, [](QPainter &p) {
        drawDocument(p);
    });
}

QImage newDocument()
{
    return painted(16, [](QPainter &p) {
        drawDocument(p);
        // A green plus badge at the lower right.
        p.setPen(outlinePen());
        p.setBrush(kGreen);
        p.drawEllipse(QPointF(11.5, 11.5), 4.0, 4.0);
        p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(QPointF(11.5, 9.3), QPointF(11.5, 13.7));
        p.drawLine(QPointF(9.3, 11.5), QPointF(13.7, 11.5));
    });
}

QImage exportIcon()
{
    return painted(16, [](QPainter &p) {
        // An open tray with a blue arrow leaving it upwards to the right.
        p.setPen(outlinePen());
        p.setBrush(kPaper);
        const QPainterPath tray =
            outline({{1.5, 8.5}, {1.5, 14.5}, {12.5, 14.5}, {12.5, 8.5}}, false);
        p.setBrush(Qt::NoBrush);
        p.drawPath(tray);
        const QPainterPath arrow =
            outline({{4.0, 12.0}, {10.0, 6.0}, {7.5, 6.0}, {7.5, 2.5}, {14.5, 2.5},
                     {14.5, 9.5}, {11.0, 9.5}, {11.0, 7.0}, {5.0, 13.0}});
        QLinearGradient g(0, 2, 0, 13);
        g.setColorAt(0, kBlueLight);
        g.setColorAt(1, kBlueDark);
        p.setBrush(g);
        p.setPen(QPen(kOutline, 0.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(arrow);
    });
}

// The program's emblem: a blue tile with a white "Z" and an amber corner
// tab, drawn in a square of side `size`.
void drawEmblem(QPainter &p, const QRectF &box)
{
    const double s = box.width() / 48.0;
    p.save();
    p.translate(box.topLeft());
    p.scale(s, s);

    QLinearGradient g(0, 0, 0, 48);
    g.setColorAt(0, kBlueLight);
    g.setColorAt(1, kBlueDark);
    p.setPen(QPen(kOutline, s >= 1.0 ? 1.5 : 2.0));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(2, 2, 44, 44), 9, 9);

    // Amber tab: a pack is a folder of resources.
    QPainterPath tab = outline({{30, 2.75}, {37, 2.75}}, false);
    tab.arcTo(QRectF(27.25, 2.75, 18, 18), 90, -90);
    tab.lineTo(45.25, 14);
    tab.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kFolderFront);
    p.drawPath(tab);

    const QPainterPath z =
        outline({{12, 11}, {36, 11}, {36, 17}, {21, 31}, {36, 31}, {36, 37}, {12, 37}, {12, 31},
                 {27, 17}, {12, 17}});
    p.setPen(QPen(kOutline, 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::white);
    p.drawPath(z);
    p.restore();
}

QImage emblem(int size)
{
    return painted(size, [size](QPainter &p) {
        drawEmblem(p, QRectF(0, 0, size, size));
    });
}

// The emblem as SVG, for icon themes' scalable size.
bool saveEmblemSvg(const QString &path)
{
    QSvgGenerator svg;
    svg.setFileName(path);
    svg.setSize(QSize(48, 48));
    svg.setViewBox(QRectF(0, 0, 48, 48));
    svg.setTitle(QStringLiteral("Zarnik Explorer"));
    QPainter p;
    if (!p.begin(&svg))
        return false;
    p.setRenderHint(QPainter::Antialiasing, true);
    drawEmblem(p, QRectF(0, 0, 48, 48));
    return p.end();
}

QImage logo()
{
    // JPEG has no transparency: a light backdrop, the emblem and the name.
    QImage img(256, 255, QImage::Format_RGB32);
    QPainter p;
    p.begin(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    QLinearGradient bg(0, 0, 0, 255);
    bg.setColorAt(0, QColor(0xf4, 0xf7, 0xfb));
    bg.setColorAt(1, QColor(0xd9, 0xe3, 0xef));
    p.fillRect(img.rect(), bg);
    drawEmblem(p, QRectF(58, 22, 140, 140));

    // The name, and below it what the program is, centred in `box`.
    const auto caption = [&p](const QString &text, const QRectF &box, bool bold, int pixels,
                              int spacing, const QColor &color) {
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setBold(bold);
        font.setPixelSize(pixels);
        font.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
        p.setFont(font);
        p.setPen(color);
        p.drawText(box, Qt::AlignCenter, text);
    };
    caption(QStringLiteral("ZARNIK"), QRectF(0, 172, 256, 40), true, 34, 3, kOutline);
    caption(QStringLiteral("RESOURCES EXPLORER"), QRectF(0, 210, 256, 24), false, 15, 2, kBlueDark);
    p.end();
    return img;
}

void append16(QByteArray &out, quint16 v)
{
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}

void append32(QByteArray &out, quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

// One icon image in the classic form every reader knows: a 32-bit DIB,
// bottom-up, with the AND mask after it (its height counts both).
QByteArray dibEntry(const QImage &source)
{
    const QImage img = source.convertToFormat(QImage::Format_ARGB32);
    const int w = img.width();
    const int h = img.height();
    const int maskStride = ((w + 31) / 32) * 4;
    QByteArray out;
    append32(out, 40);
    append32(out, quint32(w));
    append32(out, quint32(h * 2));
    append16(out, 1);
    append16(out, 32);
    append32(out, 0);
    append32(out, quint32(w * h * 4 + maskStride * h));
    append32(out, 0);
    append32(out, 0);
    append32(out, 0);
    append32(out, 0);
    for (int y = h - 1; y >= 0; --y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(img.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            out.append(char(qBlue(line[x])));
            out.append(char(qGreen(line[x])));
            out.append(char(qRed(line[x])));
            out.append(char(qAlpha(line[x])));
        }
    }
    for (int y = h - 1; y >= 0; --y) {
        QByteArray row(maskStride, '\0');
        const QRgb *line = reinterpret_cast<const QRgb *>(img.constScanLine(y));
        for (int x = 0; x < w; ++x)
            if (qAlpha(line[x]) == 0)
                row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
        out.append(row);
    }
    return out;
}

QByteArray icoFile(const QList<QImage> &images)
{
    QByteArray head;
    append16(head, 0);
    append16(head, 1); // icon
    append16(head, quint16(images.size()));
    QList<QByteArray> bodies;
    for (const QImage &img : images)
        bodies.append(dibEntry(img));
    quint32 offset = quint32(6 + 16 * images.size());
    for (int i = 0; i < images.size(); ++i) {
        head.append(char(images[i].width() >= 256 ? 0 : images[i].width()));
        head.append(char(images[i].height() >= 256 ? 0 : images[i].height()));
        head.append('\0'); // colour count: not a palette image
        head.append('\0');
        append16(head, 1);
        append16(head, 32);
        append32(head, quint32(bodies[i].size()));
        append32(head, offset);
        offset += quint32(bodies[i].size());
    }
    for (const QByteArray &b : bodies)
        head.append(b);
    return head;
}

bool save(const QImage &img, const QString &path, const char *format, int quality = -1)
{
    if (!img.save(path, format, quality)) {
        std::fprintf(stderr, "make_icons: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_icons OUT_ICONS_DIR OUT_DESKTOP_DIR\n");
        return 2;
    }
    const QDir icons(QString::fromLocal8Bit(argv[1]));
    const QDir desktop(QString::fromLocal8Bit(argv[2]));

    bool ok = save(openFolder(), icons.filePath("openHS.png"), "PNG")
        && save(exportIcon(), icons.filePath("export.png"), "PNG")
        && save(newDocument(), icons.filePath("NewDocumentHS.png"), "PNG")
        && save(folder(), icons.filePath("folder.png"), "PNG")
        && save(document(), icons.filePath("document.png"), "PNG")
        && save(logo(), icons.filePath("zarnik_logo.jpg"), "JPEG", 92);
    // The sizes of the icon themes' folders (the build installs each file
    // into the one its name gives).
    for (int size : {16, 32, 48, 64, 128, 256})
        ok = ok
            && save(emblem(size), desktop.filePath(QStringLiteral("zarnik-explorer-%1.png").arg(size)),
                    "PNG");
    ok = ok && saveEmblemSvg(desktop.filePath(QStringLiteral("zarnik-explorer.svg")));

    QFile ico(icons.filePath("Icon_1.ico"));
    if (ok && ico.open(QIODevice::WriteOnly))
        ok = ico.write(icoFile({emblem(48), emblem(32), emblem(16)})) > 0;
    else
        ok = false;
    if (!ok)
        std::fprintf(stderr, "make_icons: failed\n");
    return ok ? 0 : 1;
}
