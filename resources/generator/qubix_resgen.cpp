// Draws the control bitmaps and cursors of the equaliser strip, the knobs and the filter block,
// and the application icon. What it writes is committed under resources/bitmaps, cursors and
// icons; run it again after changing a drawing:  qubix_resgen <resources folder>
//
// Look: a dark anthracite console panel, brushed-metal knob skirts with coloured caps, a
// recessed fader slot with an engraved dB grid, and high-contrast cursors.
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>
#include <QStringList>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr double kPi = 3.141592653589793;
// The knobs sweep 5.338 rad clockwise from 4.239 rad (pot at 0).
constexpr double kSweepStart = 4.239;
constexpr double kSweep = 5.338;

// Fader geometry shared with the strip: 114 rows, knob centre 57 rows below the top at 0 dB,
// 4 rows per dB on the ±12 dB scale the editor uses.
constexpr int kFaderRows = 114;
constexpr int kZeroRow = 57;
constexpr int kRowsPerDb = 4;

const QColor kPanel(28, 30, 33);
const QColor kEngrave(150, 156, 162);
const QColor kEngraveMajor(215, 220, 224);

QFont scaleFont(int px) {
  QFont f(QStringLiteral("DejaVu Sans"));
  f.setPixelSize(px);
  f.setHintingPreference(QFont::PreferFullHinting);
  return f;
}

QImage blank(int w, int h, const QColor& fill = Qt::transparent) {
  QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
  img.fill(fill);
  return img;
}

bool save(const QImage& img, const QString& dir, const char* name) {
  const QString path = dir + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png");
  if (!img.save(path, "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

// Gain fader cap, 32 × 18: brushed metal with a white index line across the middle.
QImage faderCap() {
  QImage img = blank(32, 18);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient body(0, 0, 0, 18);
  body.setColorAt(0.0, QColor(205, 208, 212));
  body.setColorAt(0.45, QColor(120, 124, 130));
  body.setColorAt(0.55, QColor(95, 98, 104));
  body.setColorAt(1.0, QColor(50, 52, 56));
  p.setPen(QPen(QColor(15, 15, 17), 1));
  p.setBrush(body);
  p.drawRoundedRect(QRectF(0.5, 0.5, 31, 17), 2.5, 2.5);
  p.setRenderHint(QPainter::Antialiasing, false);
  // Grip ridges.
  for (int y : {3, 5, 12, 14}) {
    p.setPen(QColor(40, 42, 46));
    p.drawLine(3, y, 28, y);
    p.setPen(QColor(185, 188, 192, 160));
    p.drawLine(3, y + 1, 28, y + 1);
  }
  p.setPen(QColor(250, 250, 250));
  p.drawLine(2, 8, 29, 8);
  p.drawLine(2, 9, 29, 9);
  return img;
}

// Fader slot, 6 × 114: a black groove with a shaded inner edge.
QImage faderSlot() {
  QImage img = blank(6, kFaderRows, kPanel);
  QPainter p(&img);
  p.fillRect(1, 2, 4, kFaderRows - 4, QColor(4, 4, 5));
  p.setPen(QColor(10, 10, 12));
  p.drawLine(0, 2, 0, kFaderRows - 3);
  p.setPen(QColor(70, 73, 78));
  p.drawLine(5, 2, 5, kFaderRows - 3);
  p.drawLine(1, kFaderRows - 2, 4, kFaderRows - 2);
  return img;
}

int rowOfDb(int db) { return kZeroRow - db * kRowsPerDb; }

// Engraved ticks every 3 dB, long at 0, ±6 and ±12, growing from the slot side.
void drawTicks(QPainter& p, int slotSideX, int direction) {
  for (int db = -12; db <= 12; db += 3) {
    const bool major = db % 6 == 0;
    const int len = db == 0 ? 12 : (major ? 9 : 5);
    p.setPen(major ? kEngraveMajor : kEngrave);
    const int y = rowOfDb(db);
    p.drawLine(slotSideX, y, slotSideX + direction * (len - 1), y);
  }
}

// Grid beside the slot, 14 × 114; drawn on both sides, ticks start at the slot side (right).
QImage faderGrid() {
  QImage img = blank(14, kFaderRows, kPanel);
  QPainter p(&img);
  drawTicks(p, 13, -1);
  return img;
}

void drawDbLabels(QPainter& p, int x, int w, Qt::Alignment align) {
  p.setFont(scaleFont(8));
  for (int db = -12; db <= 12; db += 6) {
    const QString text = db > 0 ? QStringLiteral("+%1").arg(db) : QString::number(db);
    p.setPen(db == 0 ? kEngraveMajor : kEngrave);
    p.drawText(QRect(x, rowOfDb(db) - 6, w, 12), int(align | Qt::AlignVCenter), text);
  }
}

// dB scale left of the first strip, 24 × 114.
QImage scaleLeft() {
  QImage img = blank(24, kFaderRows, kPanel);
  QPainter p(&img);
  drawDbLabels(p, 0, 21, Qt::AlignRight);
  p.setPen(kEngrave);
  p.drawLine(23, rowOfDb(12), 23, rowOfDb(-12));
  return img;
}

// dB scale right of the last strip, 35 × 114, drawn at x 27 over the right grid: its first
// 11 columns are clear so the grid beneath stays visible.
QImage scaleRight() {
  QImage img = blank(35, kFaderRows);
  QPainter p(&img);
  p.fillRect(11, 0, 24, kFaderRows, kPanel);
  p.setPen(kEngrave);
  p.drawLine(11, rowOfDb(12), 11, rowOfDb(-12));
  drawDbLabels(p, 13, 22, Qt::AlignLeft);
  return img;
}

QPointF polar(QPointF c, double r, double theta) {
  return {c.x() + r * std::cos(theta), c.y() - r * std::sin(theta)};
}

// Tick ring over the knob sweep, 11 ticks.
void drawSweepTicks(QPainter& p, QPointF c, double r0, double r1, const QColor& colour,
                    double width) {
  p.setPen(QPen(colour, width, Qt::SolidLine, Qt::FlatCap));
  for (int i = 0; i <= 10; ++i) {
    const double theta = kSweepStart - kSweep * i / 10.0;
    p.drawLine(polar(c, r0, theta), polar(c, r1, theta));
  }
}

// A metal skirt: radial shading with a light from the upper left.
void drawSkirt(QPainter& p, QPointF c, double r, const QColor& light, const QColor& dark) {
  QRadialGradient g(c - QPointF(r * 0.35, r * 0.45), r * 1.6);
  g.setColorAt(0.0, light);
  g.setColorAt(1.0, dark);
  p.setPen(QPen(QColor(8, 8, 10), 1.2));
  p.setBrush(g);
  p.drawEllipse(c, r, r);
}

// Small knob face of the strip's frequency and Q rows, 38 × 34, centre (19, 18).
QImage smallKnobFace() {
  QImage img = blank(38, 34);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  const QPointF c(19.5, 18.5);
  drawSweepTicks(p, c, 13.8, 16.2, kEngrave, 1.0);
  drawSkirt(p, c, 12.5, QColor(190, 194, 200), QColor(45, 47, 52));
  QRadialGradient cap(c - QPointF(2.5, 3), 9);
  cap.setColorAt(0.0, QColor(125, 128, 134));
  cap.setColorAt(1.0, QColor(62, 64, 69));
  p.setPen(QPen(QColor(30, 31, 34), 0.8));
  p.setBrush(cap);
  p.drawEllipse(c, 7.0, 7.0);
  return img;
}

// Rotary knob of the attenuation controls, 76 × 70, centre (37, 36): dark skirt carrying the
// red position dot at radius 17, a coloured cap in the middle, a tick ring outside.
QImage bigKnob(const QColor& capColour) {
  QImage img = blank(76, 70);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  const QPointF c(37.0, 36.0);
  drawSweepTicks(p, c, 27.0, 31.0, kEngraveMajor, 1.4);
  // Shadow under the knob.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 120));
  p.drawEllipse(c + QPointF(1.5, 2.0), 24.5, 24.5);
  drawSkirt(p, c, 24.0, QColor(120, 124, 130), QColor(22, 23, 26));
  // Knurled edge.
  p.setPen(QPen(QColor(10, 10, 12, 150), 1.0));
  for (int i = 0; i < 48; ++i) {
    const double t = 2 * kPi * i / 48.0;
    p.drawLine(polar(c, 21.5, t), polar(c, 23.5, t));
  }
  QRadialGradient cap(c - QPointF(4, 5), 16);
  cap.setColorAt(0.0, capColour.lighter(160));
  cap.setColorAt(0.55, capColour);
  cap.setColorAt(1.0, capColour.darker(220));
  p.setPen(QPen(QColor(10, 10, 12), 1.0));
  p.setBrush(cap);
  p.drawEllipse(c, 12.5, 12.5);
  // Specular highlight on the cap.
  QRadialGradient spec(c - QPointF(4, 5), 6);
  spec.setColorAt(0.0, QColor(255, 255, 255, 150));
  spec.setColorAt(1.0, QColor(255, 255, 255, 0));
  p.setPen(Qt::NoPen);
  p.setBrush(spec);
  p.drawEllipse(c - QPointF(4, 5), 6, 6);
  return img;
}

// Cursors, 32 × 32, hot spot in the centre: white symbols with a black outline.
QImage cursorImage(const std::function<void(QPainterPath&)>& shape) {
  QImage img = blank(32, 32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath path;
  shape(path);
  p.setPen(QPen(Qt::black, 2.0, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  p.setBrush(Qt::white);
  p.drawPath(path.simplified());
  return img;
}

void plusShape(QPainterPath& path) {
  path.addRect(QRectF(13.5, 5.5, 5, 21));
  path.addRect(QRectF(5.5, 13.5, 21, 5));
}

void minusShape(QPainterPath& path) { path.addRect(QRectF(5.5, 13.5, 21, 5)); }

// Vertical double arrow: "drag up or down".
void dragShape(QPainterPath& path) {
  QPolygonF poly;
  poly << QPointF(16, 2.5) << QPointF(24, 11) << QPointF(18.5, 11) << QPointF(18.5, 21)
       << QPointF(24, 21) << QPointF(16, 29.5) << QPointF(8, 21) << QPointF(13.5, 21)
       << QPointF(13.5, 11) << QPointF(8, 11) << QPointF(16, 2.5);
  path.addPolygon(poly);
}

// Filter block image, 32 × 32: a panel tile with a response curve and a status lamp.
QImage blockImage(bool active) {
  QImage img = blank(32, 32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 0, 32);
  g.setColorAt(0.0, QColor(70, 73, 78));
  g.setColorAt(1.0, QColor(30, 31, 34));
  p.setPen(QPen(QColor(8, 8, 10), 1.0));
  p.setBrush(g);
  p.drawRoundedRect(QRectF(0.5, 0.5, 31, 31), 4, 4);
  p.setBrush(QColor(6, 8, 6));
  p.setPen(QPen(QColor(90, 94, 100), 0.8));
  p.drawRect(QRectF(3.5, 9.5, 25, 19));
  QPainterPath curve;
  curve.moveTo(5, 22);
  curve.cubicTo(11, 22, 12, 12, 16, 12);
  curve.cubicTo(20, 12, 21, 22, 27, 22);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(active ? QColor(0, 255, 0) : QColor(95, 100, 95), 1.6));
  p.drawPath(curve);
  // Lamp at the top right.
  const QColor lamp = active ? QColor(40, 255, 60) : QColor(150, 20, 20);
  QRadialGradient lg(QPointF(25, 4.5), 4);
  lg.setColorAt(0.0, lamp.lighter(170));
  lg.setColorAt(1.0, lamp.darker(150));
  p.setPen(QPen(QColor(5, 5, 5), 0.8));
  p.setBrush(lg);
  p.drawEllipse(QPointF(25.5, 5.0), 2.8, 2.8);
  if (!active) {
    p.setPen(QPen(QColor(220, 40, 40), 1.8));
    p.drawLine(QPointF(6, 26), QPointF(26, 12));
  }
  return img;
}

// The application icon, drawn once as shapes and written both as scalable SVG and as a PNG
// painted from the same shapes, so the two never drift apart. A 256-unit canvas: the console
// panel, a dark display with the lime equaliser curve of the status line's colour, and three
// knobs.
struct IconStep {
  char op;  // 'M' move, 'L' line, 'C' cubic (three points)
  std::vector<QPointF> points;
};

struct IconShape {
  enum class Kind { Rect, Circle, Path } kind;
  QRectF box;         // Rect and Circle (its bounding square)
  double radius = 0;  // Rect: corner radius
  std::vector<IconStep> path;
  QColor fillTop, fillBottom;  // no fill when invalid; a vertical gradient when they differ
  QColor stroke;               // no stroke when invalid
  double strokeWidth = 0;
};

std::vector<IconShape> iconShapes() {
  using K = IconShape::Kind;
  std::vector<IconShape> s;
  s.push_back({K::Rect,
               QRectF(16, 16, 224, 224),
               44,
               {},
               QColor(70, 76, 84),
               QColor(26, 28, 31),
               QColor(8, 9, 10),
               4});
  s.push_back({K::Rect,
               QRectF(38, 40, 180, 108),
               14,
               {},
               QColor(4, 5, 6),
               QColor(4, 5, 6),
               QColor(96, 102, 110),
               3});
  for (double y : {67.0, 94.0, 121.0})
    s.push_back(
        {K::Path, {}, 0, {{'M', {{50, y}}}, {'L', {{206, y}}}}, {}, {}, QColor(24, 70, 32), 2});
  s.push_back({K::Path,
               {},
               0,
               {{'M', {{50, 110}}},
                {'C', {{84, 110}, {96, 58}, {122, 58}}},
                {'C', {{148, 58}, {150, 124}, {176, 112}}},
                {'C', {{192, 104}, {198, 84}, {206, 84}}}},
               {},
               {},
               QColor(0, 255, 0),
               7});
  const double knobX[] = {72, 128, 184};
  const double knobAngle[] = {-2.3, -0.6, 1.4};  // radians from straight up, clockwise
  for (int i = 0; i < 3; ++i) {
    const QPointF c(knobX[i], 194);
    s.push_back({K::Circle,
                 QRectF(c.x() - 24, c.y() - 24, 48, 48),
                 0,
                 {},
                 QColor(214, 218, 224),
                 QColor(84, 88, 96),
                 QColor(10, 11, 12),
                 3});
    const QPointF tip(c.x() + 17 * std::sin(knobAngle[i]), c.y() - 17 * std::cos(knobAngle[i]));
    s.push_back({K::Path, {}, 0, {{'M', {c}}, {'L', {tip}}}, {}, {}, QColor(12, 13, 14), 5});
  }
  return s;
}

QString svgNumber(double v) { return QString::number(v, 'g', 6); }

QString iconSvg(const std::vector<IconShape>& shapes) {
  QString defs, body;
  QStringList gradients;  // "top bottom", one definition each
  for (const IconShape& shape : shapes) {
    QString fill = QStringLiteral("none");
    if (shape.fillTop.isValid()) {
      if (shape.fillTop == shape.fillBottom) {
        fill = shape.fillTop.name();
      } else {
        const QString colours = shape.fillTop.name() + u' ' + shape.fillBottom.name();
        const bool known = gradients.contains(colours);
        if (!known) gradients << colours;
        const QString id = QStringLiteral("g%1").arg(gradients.indexOf(colours) + 1);
        if (!known)
          defs += QStringLiteral(
                      "    <linearGradient id=\"%1\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\">\n"
                      "      <stop offset=\"0\" stop-color=\"%2\"/>\n"
                      "      <stop offset=\"1\" stop-color=\"%3\"/>\n"
                      "    </linearGradient>\n")
                      .arg(id, shape.fillTop.name(), shape.fillBottom.name());
        fill = QStringLiteral("url(#%1)").arg(id);
      }
    }
    QString paint = QStringLiteral(" fill=\"%1\"").arg(fill);
    if (shape.stroke.isValid())
      paint += QStringLiteral(" stroke=\"%1\" stroke-width=\"%2\" stroke-linecap=\"round\"")
                   .arg(shape.stroke.name(), svgNumber(shape.strokeWidth));
    switch (shape.kind) {
      case IconShape::Kind::Rect:
        body +=
            QStringLiteral("  <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" rx=\"%5\"%6/>\n")
                .arg(svgNumber(shape.box.x()), svgNumber(shape.box.y()),
                     svgNumber(shape.box.width()), svgNumber(shape.box.height()),
                     svgNumber(shape.radius), paint);
        break;
      case IconShape::Kind::Circle:
        body += QStringLiteral("  <circle cx=\"%1\" cy=\"%2\" r=\"%3\"%4/>\n")
                    .arg(svgNumber(shape.box.center().x()), svgNumber(shape.box.center().y()),
                         svgNumber(shape.box.width() / 2), paint);
        break;
      case IconShape::Kind::Path: {
        QString d;
        for (const IconStep& step : shape.path) {
          d += d.isEmpty() ? QString(QLatin1Char(step.op)) : QStringLiteral(" %1").arg(step.op);
          for (const QPointF& pt : step.points)
            d += QStringLiteral(" %1 %2").arg(svgNumber(pt.x()), svgNumber(pt.y()));
        }
        body += QStringLiteral("  <path d=\"%1\"%2/>\n").arg(d, paint);
        break;
      }
    }
  }
  return QStringLiteral(
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
             "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" "
             "viewBox=\"0 0 256 256\">\n"
             "  <defs>\n%1  </defs>\n%2</svg>\n")
      .arg(defs, body);
}

QImage iconImage(const std::vector<IconShape>& shapes, int size) {
  QImage img = blank(size, size);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 256.0, size / 256.0);
  for (const IconShape& shape : shapes) {
    if (shape.fillTop.isValid()) {
      QLinearGradient g(shape.box.topLeft(), shape.box.bottomLeft());
      g.setColorAt(0, shape.fillTop);
      g.setColorAt(1, shape.fillBottom);
      p.setBrush(g);
    } else {
      p.setBrush(Qt::NoBrush);
    }
    if (shape.stroke.isValid())
      p.setPen(QPen(shape.stroke, shape.strokeWidth, Qt::SolidLine, Qt::RoundCap));
    else
      p.setPen(Qt::NoPen);
    switch (shape.kind) {
      case IconShape::Kind::Rect:
        p.drawRoundedRect(shape.box, shape.radius, shape.radius);
        break;
      case IconShape::Kind::Circle:
        p.drawEllipse(shape.box);
        break;
      case IconShape::Kind::Path: {
        QPainterPath path;
        for (const IconStep& step : shape.path) {
          if (step.op == 'M')
            path.moveTo(step.points[0]);
          else if (step.op == 'L')
            path.lineTo(step.points[0]);
          else
            path.cubicTo(step.points[0], step.points[1], step.points[2]);
        }
        p.drawPath(path);
        break;
      }
    }
  }
  return img;
}

bool saveIcon(const QString& dir, const char* name) {
  const std::vector<IconShape> shapes = iconShapes();
  QFile svg(dir + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".svg"));
  if (!svg.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
      svg.write(iconSvg(shapes).toUtf8()) < 0 || !svg.flush()) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(svg.fileName()));
    return false;
  }
  return save(iconImage(shapes, 256), dir, name);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: qubix_resgen <resources folder>\n");
    return 2;
  }
  const QString root = QString::fromLocal8Bit(argv[1]);
  const QString bitmaps = root + QStringLiteral("/bitmaps");
  const QString cursors = root + QStringLiteral("/cursors");
  const QString icons = root + QStringLiteral("/icons");
  if (!QDir().mkpath(bitmaps) || !QDir().mkpath(cursors) || !QDir().mkpath(icons)) {
    std::fprintf(stderr, "cannot create the output folders under %s\n", argv[1]);
    return 1;
  }

  bool ok = true;
  ok &= save(faderCap(), bitmaps, "EQ_KNOBPAR");
  ok &= save(faderSlot(), bitmaps, "EQ_PUNCHPAR");
  ok &= save(faderGrid(), bitmaps, "EQ_GRIDPAR");
  ok &= save(scaleLeft(), bitmaps, "EQ_SCALESXPAR");
  ok &= save(scaleRight(), bitmaps, "EQ_SCALEDXPAR");
  ok &= save(smallKnobFace(), bitmaps, "GRAYSMKPAR");

  struct KnobColour {
    const char* name;
    QColor cap;
  };
  const KnobColour knobs[] = {
      {"GRAYKNOBSS", QColor(128, 132, 138)},  {"BLUEKNOBSS", QColor(40, 110, 215)},
      {"WHITEKNOBSS", QColor(225, 226, 228)}, {"GREENKNOBSS", QColor(40, 170, 70)},
      {"REDKNOBSS", QColor(200, 35, 35)},     {"ORANGEKNOBSS", QColor(235, 120, 20)},
      {"YELLOWKNOBSS", QColor(235, 200, 30)},
  };
  for (const auto& k : knobs) ok &= save(bigKnob(k.cap), bitmaps, k.name);

  ok &= save(blockImage(true), bitmaps, "ACTIVEBMP");
  ok &= save(blockImage(false), bitmaps, "INACTIVEBMP");

  ok &= save(cursorImage(plusShape), cursors, "CURSORPLUSPAR");
  ok &= save(cursorImage(minusShape), cursors, "CURSORMINUSPAR");
  ok &= save(cursorImage(dragShape), cursors, "CURSOR_1PAR");
  ok &= save(cursorImage(plusShape), cursors, "CURSORPLUS");
  ok &= save(cursorImage(minusShape), cursors, "CURSORMINUS");
  ok &= save(cursorImage(dragShape), cursors, "CURSOR_0");

  // Named by the desktop entry's id, as the menus look it up.
  ok &= saveIcon(icons, "org.qubix24.Controller");
  return ok ? 0 : 1;
}
