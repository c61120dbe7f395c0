#include "ui/network/BusyAnimation.h"

#include <QPaintEvent>
#include <QPainter>
#include <QTimer>
#include <algorithm>

#include "media/AviReader.h"

namespace qubix::ui {

namespace {
constexpr int kDrawnLamps = 12;
constexpr int kDrawnIntervalMs = 70;
}  // namespace

BusyAnimation::BusyAnimation(QWidget* parent) : QWidget(parent), timer_(new QTimer(this)) {
  timer_->setInterval(kDrawnIntervalMs);
  connect(timer_, &QTimer::timeout, this, &BusyAnimation::advance);
}

bool BusyAnimation::open(const QString& path) {
  frames_.clear();
  frame_ = 0;
  timer_->setInterval(kDrawnIntervalMs);
  const media::AviReadResult result = media::ReadAviFile(path.toStdString());
  if (!result.clip) return false;
  std::vector<QImage> frames;
  for (std::size_t i = 0; i < result.clip->frames.size(); ++i) {
    const std::optional<media::RgbImage> rgb = media::DecodeAviFrame(*result.clip, i);
    if (!rgb) return false;  // a clip with a bad frame is not played at all
    frames.push_back(QImage(rgb->rgb.data(), rgb->width, rgb->height, qsizetype{rgb->width} * 3,
                            QImage::Format_RGB888)
                         .copy());
  }
  frames_ = std::move(frames);
  const int periodMs = static_cast<int>(result.clip->microsPerFrame / 1000);
  timer_->setInterval(std::clamp(periodMs, 20, 1000));
  update();
  return true;
}

void BusyAnimation::start() {
  frame_ = 0;
  timer_->start();
  update();
}

void BusyAnimation::stop() { timer_->stop(); }

bool BusyAnimation::playing() const { return timer_->isActive(); }

int BusyAnimation::frameCount() const {
  return frames_.empty() ? kDrawnLamps : static_cast<int>(frames_.size());
}

int BusyAnimation::intervalMs() const { return timer_->interval(); }

void BusyAnimation::advance() {
  frame_ = (frame_ + 1) % frameCount();
  update();
}

void BusyAnimation::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  if (!frames_.empty()) {
    const QImage& image = frames_[static_cast<std::size_t>(frame_)];
    p.drawImage((width() - image.width()) / 2, (height() - image.height()) / 2, image);
    return;
  }
  // The drawn stand-in: a row of lamps with a lime head running to the right.
  p.setRenderHint(QPainter::Antialiasing);
  const double pitch = width() / static_cast<double>(kDrawnLamps);
  const double radius = std::min(pitch, static_cast<double>(height())) * 0.3;
  for (int i = 0; i < kDrawnLamps; ++i) {
    const int behind = (frame_ - i + kDrawnLamps) % kDrawnLamps;
    const int glow = behind < 4 ? 255 - behind * 55 : 40;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, glow, 0));
    p.drawEllipse(QPointF(pitch * (i + 0.5), height() / 2.0), radius, radius);
  }
}

}  // namespace qubix::ui
