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
  void paintEvent(QPaintEvent* event) override;

 public:
  // The font the caption is drawn in: the button's own, or, when the caption would overrun the
  // button, its condensed face, smaller only if that still does not fit.
  QFont captionFont() const;

 private:
  // The gap a framed label leaves before a left-aligned text.
  static int Indent(const QFont& f);
  QColor colour_;
};

}  // namespace qubix::ui
