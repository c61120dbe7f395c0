// A caption-only button: a text on the window's black ground that acts on a left click. A
// button whose operation takes a while shows its caption lime while it runs.
#pragma once

#include <QColor>
#include <QLabel>

namespace qubix::ui {

class CaptionButton : public QLabel {
  Q_OBJECT

 public:
  explicit CaptionButton(const QString& caption, QWidget* parent = nullptr,
                         QColor colour = QColor(0, 255, 0));

  void setCaptionColour(QColor colour);
  QColor captionColour() const { return colour_; }

 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QColor colour_;
};

}  // namespace qubix::ui
