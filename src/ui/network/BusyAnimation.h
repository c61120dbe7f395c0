// The busy animation of a machine slot: plays the looping clip "AniVelm2.avi" from the data
// directory through the project's own AVI reader, and falls back to a drawn running-lamp
// indicator when the clip is missing or cannot be played.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <vector>

class QTimer;

namespace qubix::ui {

class BusyAnimation : public QWidget {
  Q_OBJECT

 public:
  explicit BusyAnimation(QWidget* parent = nullptr);

  // Loads the clip; false (and the drawn indicator) when it cannot be played.
  bool open(const QString& path);
  void start();
  void stop();

  bool playing() const;
  bool usingClip() const { return !frames_.empty(); }
  int frameIndex() const { return frame_; }
  int frameCount() const;
  int intervalMs() const;
  // Moves to the next frame (the timer's step; tests call it directly).
  void advance();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<QImage> frames_;
  QTimer* timer_ = nullptr;
  int frame_ = 0;
};

}  // namespace qubix::ui
