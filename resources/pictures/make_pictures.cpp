// Draws the pictures of the main window: the seven hardware configuration diagrams
// ("Controller00.jpg" … "Controller06.jpg"), the Extra preset pictures ("extrapset.jpg",
// "notextrapset.jpg") and the processor picture of the slots ("processor.jpg").
//
//   make_pictures OUTPUT_DIR
//
// Each diagram shows the inputs A and B on the left, the outputs Ch1 … Ch4 on the right and
// the routing between them, with the loudspeaker model each output feeds.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

namespace {

constexpr int kSize = 150;
const QColor kBackground(8, 12, 16);
const QColor kLime(0, 255, 0);
const QColor kInputColour(80, 200, 255);
const QColor kText(220, 220, 220);

struct Route {
  int input;   // 0 = A, 1 = B
  int output;  // 0 … 3 = Ch1 … Ch4
};

struct Configuration {
  const char* title;
  std::vector<Route> routes;
  std::array<const char*, 4> models;  // what each output feeds
};

// The seven fixed configurations, in preset order.
const std::array<Configuration, 7>& configurations() {
  static const std::array<Configuration, 7> all{{
      {"TQ40+TQS2412 Flown", {{0, 0}, {0, 1}, {0, 2}, {0, 3}}, {"TQ40", "TQ40", "TQS", "TQS"}},
      {"TQ40+TQS2412 Stack", {{0, 0}, {0, 1}, {0, 2}, {0, 3}}, {"TQ40", "TQ40", "TQS", "TQS"}},
      {"TQ40+TQ40 A&B", {{0, 0}, {0, 1}, {1, 2}, {1, 3}}, {"TQ40", "TQ40", "TQ40", "TQ40"}},
      {"TQ40 4Ch in A", {{0, 0}, {0, 1}, {0, 2}, {0, 3}}, {"TQ40", "TQ40", "TQ40", "TQ40"}},
      {"TQS2412 x2 in A", {{0, 0}, {0, 1}, {0, 2}, {0, 3}}, {"TQS", "TQS", "TQS", "TQS"}},
      {"4Ch Mono in A", {{0, 0}, {0, 1}, {0, 2}, {0, 3}}, {"Full", "Full", "Full", "Full"}},
      {"4Ch Stereo A&B", {{0, 0}, {1, 1}, {0, 2}, {1, 3}}, {"L", "R", "L", "R"}},
  }};
  return all;
}

QPointF inputPoint(int input) { return {34.0, 58.0 + input * 48.0}; }
QPointF outputPoint(int output) { return {96.0, 40.0 + output * 26.0}; }

void drawFrame(QPainter& p, const QString& title) {
  p.fillRect(0, 0, kSize, kSize, kBackground);
  p.setPen(QPen(kLime, 2));
  p.drawRect(1, 1, kSize - 3, kSize - 3);
  QFont font("Sans");
  font.setPixelSize(11);
  font.setBold(true);
  p.setFont(font);
  p.setPen(kLime);
  p.drawText(QRectF(4, 4, kSize - 8, 18), Qt::AlignCenter, title);
  p.drawLine(6, 24, kSize - 7, 24);
}

void drawDiagram(QPainter& p, const Configuration& c) {
  drawFrame(p, c.title);
  QFont font("Sans");
  font.setPixelSize(10);
  p.setFont(font);
  // Routes first so that the terminals are drawn over their ends.
  for (const auto& r : c.routes) {
    const QPointF from = inputPoint(r.input) + QPointF(10, 0);
    const QPointF to = outputPoint(r.output) - QPointF(8, 0);
    QPainterPath path(from);
    path.cubicTo(from + QPointF(30, 0), to - QPointF(30, 0), to);
    p.setPen(QPen(r.input == 0 ? kLime : kInputColour, 2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
  }
  for (int i = 0; i < 2; ++i) {
    const bool used =
        std::any_of(c.routes.begin(), c.routes.end(), [i](const Route& r) { return r.input == i; });
    const QColor colour = !used ? QColor(90, 90, 90) : (i == 0 ? kLime : kInputColour);
    p.setPen(QPen(colour, 2));
    p.setBrush(kBackground);
    p.drawEllipse(inputPoint(i), 10, 10);
    p.drawText(QRectF(inputPoint(i) - QPointF(10, 10), QSizeF(20, 20)), Qt::AlignCenter,
               i == 0 ? "A" : "B");
  }
  font.setPixelSize(9);
  p.setFont(font);
  for (int o = 0; o < 4; ++o) {
    const QRectF box(outputPoint(o).x() - 8, outputPoint(o).y() - 9, 60, 18);
    p.setPen(QPen(kText, 1));
    p.setBrush(QColor(30, 40, 30));
    p.drawRect(box);
    p.drawText(box.adjusted(3, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
               QString("Ch%1").arg(o + 1));
    p.setPen(kLime);
    p.drawText(box.adjusted(0, 0, -3, 0), Qt::AlignRight | Qt::AlignVCenter,
               c.models[static_cast<std::size_t>(o)]);
  }
  p.setPen(kText);
  p.drawText(QRectF(4, kSize - 18, kSize - 8, 14), Qt::AlignCenter, "IN  \u2192  OUT");
}

void drawExtra(QPainter& p, bool present) {
  drawFrame(p, present ? "Extra Preset" : "No Extra Preset");
  QFont font("Sans");
  font.setPixelSize(44);
  font.setBold(true);
  p.setFont(font);
  if (present) {
    p.setPen(QPen(kLime, 3));
    p.setBrush(QColor(0, 60, 0));
    p.drawRoundedRect(QRectF(30, 40, 90, 70), 10, 10);
    p.drawText(QRectF(30, 40, 90, 70), Qt::AlignCenter, "X");
  } else {
    p.setPen(QPen(QColor(120, 120, 120), 3));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(30, 40, 90, 70), 10, 10);
    p.setPen(QPen(QColor(255, 0, 0), 4));
    p.drawLine(36, 104, 114, 46);
  }
  font.setPixelSize(10);
  font.setBold(false);
  p.setFont(font);
  p.setPen(kText);
  p.drawText(QRectF(4, kSize - 30, kSize - 8, 26), Qt::AlignCenter | Qt::TextWordWrap,
             present ? "uploaded configuration" : "none loaded");
}

// The front of a processor: a 2U panel with a display, meters and two knobs.
void drawProcessor(QPainter& p) {
  const QRectF panel(1, 1, 218, 58);
  p.fillRect(0, 0, 220, 60, Qt::black);
  p.setPen(QPen(QColor(150, 150, 150), 2));
  p.setBrush(QColor(45, 45, 50));
  p.drawRoundedRect(panel, 4, 4);
  p.setBrush(QColor(0, 40, 0));
  p.setPen(QPen(kLime, 1));
  p.drawRect(QRectF(12, 12, 70, 22));
  QFont font("Sans");
  font.setPixelSize(11);
  font.setBold(true);
  p.setFont(font);
  p.drawText(QRectF(12, 12, 70, 22), Qt::AlignCenter, "QUBIX 24");
  for (int m = 0; m < 6; ++m) {
    for (int led = 0; led < 5; ++led) {
      const QColor c = led == 0 ? QColor(255, 0, 0) : (led == 1 ? QColor(255, 200, 0) : kLime);
      p.fillRect(QRectF(104 + m * 9, 12 + led * 7, 6, 5), c);
    }
  }
  p.setPen(QPen(QColor(200, 200, 200), 2));
  p.setBrush(QColor(20, 20, 20));
  for (int k = 0; k < 2; ++k) {
    const QPointF centre(172 + k * 28, 30);
    p.drawEllipse(centre, 11, 11);
    p.drawLine(centre, centre + QPointF(0, -9));
  }
  font.setPixelSize(8);
  font.setBold(false);
  p.setFont(font);
  p.setPen(kText);
  p.drawText(QRectF(12, 40, 120, 12), Qt::AlignLeft, "DIGITAL PROCESSOR");
}

bool save(const QImage& image, const QDir& dir, const QString& name) {
  const QString path = dir.filePath(name);
  if (!image.save(path, "JPG", 92)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_pictures OUTPUT_DIR\n");
    return 2;
  }
  QDir dir(QString::fromLocal8Bit(argv[1]));
  if (!dir.exists() && !QDir().mkpath(dir.path())) {
    std::fprintf(stderr, "cannot create %s\n", argv[1]);
    return 1;
  }
  bool ok = true;
  for (std::size_t i = 0; i < configurations().size(); ++i) {
    QImage image(kSize, kSize, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawDiagram(p, configurations()[i]);
    p.end();
    ok = save(image, dir, QString("Controller%1.jpg").arg(i, 2, 10, QChar('0'))) && ok;
  }
  for (bool present : {true, false}) {
    QImage image(kSize, kSize, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawExtra(p, present);
    p.end();
    ok = save(image, dir, present ? "extrapset.jpg" : "notextrapset.jpg") && ok;
  }
  QImage processor(220, 60, QImage::Format_RGB32);
  QPainter p(&processor);
  p.setRenderHint(QPainter::Antialiasing);
  drawProcessor(p);
  p.end();
  ok = save(processor, dir, "processor.jpg") && ok;
  return ok ? 0 : 1;
}
