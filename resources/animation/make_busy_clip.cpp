// Draws the slots' busy clip: a row of twelve round lamps on a dark strip, a bright lime head
// running left to right with a fading tail, twelve frames that loop without a seam. Written as
// an uncompressed AVI through the project's own clip writer. Not run by the build; its output
// is committed as data/AniVelm2.avi. Regenerate with
//   cmake --build <build> --target qubix_make_busy_clip &&
//   <build>/resources/animation/qubix_make_busy_clip data/AniVelm2.avi
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <cstdio>
#include <fstream>
#include <vector>

#include "media/AviReader.h"

namespace {

constexpr int kWidth = 299;  // the size of the slot's animation area
constexpr int kHeight = 25;
constexpr int kLamps = 12;
constexpr std::uint32_t kMicrosPerFrame = 70000;

QImage DrawFrame(int head) {
  QImage image(kWidth, kHeight, QImage::Format_RGB888);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient panel(0, 0, 0, kHeight);
  panel.setColorAt(0.0, QColor(34, 36, 40));
  panel.setColorAt(0.5, QColor(14, 15, 17));
  panel.setColorAt(1.0, QColor(30, 32, 36));
  p.fillRect(image.rect(), panel);
  p.setPen(QColor(70, 74, 80));
  p.drawRect(0, 0, kWidth - 1, kHeight - 1);

  const double pitch = (kWidth - 20.0) / kLamps;
  for (int i = 0; i < kLamps; ++i) {
    const int behind = (head - i + kLamps) % kLamps;  // 0 = the head itself
    const double glow = behind < 5 ? 1.0 - behind * 0.22 : 0.0;
    const QPointF centre(10.0 + pitch * (i + 0.5), kHeight / 2.0);
    QRadialGradient lamp(centre, 7.5);
    const QColor lit(static_cast<int>(40 + 150 * glow), static_cast<int>(60 + 195 * glow),
                     static_cast<int>(40 + 40 * glow));
    lamp.setColorAt(0.0, glow > 0 ? QColor(220, 255, 200) : QColor(60, 70, 60));
    lamp.setColorAt(0.45, lit);
    lamp.setColorAt(1.0, QColor(10, 14, 10));
    p.setPen(QColor(5, 6, 7));
    p.setBrush(lamp);
    p.drawEllipse(centre, 7.0, 7.0);
  }
  p.end();
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.avi\n", argv[0]);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  std::vector<qubix::media::RgbImage> frames;
  for (int f = 0; f < kLamps; ++f) {
    const QImage image = DrawFrame(f);
    qubix::media::RgbImage frame{kWidth, kHeight, {}};
    frame.rgb.reserve(std::size_t{kWidth} * kHeight * 3);
    for (int y = 0; y < kHeight; ++y) {
      const uchar* row = image.constScanLine(y);
      frame.rgb.insert(frame.rgb.end(), row, row + kWidth * 3);
    }
    frames.push_back(std::move(frame));
  }
  const std::vector<std::uint8_t> clip =
      qubix::media::WriteUncompressedAvi(frames, kMicrosPerFrame);
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(clip.data()), static_cast<std::streamsize>(clip.size()));
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  std::printf("%s: %zu frames, %zu bytes\n", argv[1], frames.size(), clip.size());
  return 0;
}
