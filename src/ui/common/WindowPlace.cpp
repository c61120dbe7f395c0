#include "ui/common/WindowPlace.h"

#include <QRect>
#include <QScreen>
#include <QWidget>

namespace qubix::ui {

void PlaceBeside(QWidget& window, const QWidget& other) {
  if (!other.isVisible()) return;
  const QRect there = other.frameGeometry();
  // A window never shown has no frame yet: the window manager's adds a few pixels at most.
  const QRect mine = window.frameGeometry();
  if (!mine.intersects(there)) return;
  const QScreen* screen = other.screen();
  const QRect room = screen != nullptr ? screen->availableGeometry() : QRect();
  constexpr int kGap = 8;
  // The window's frame position for each place, tried in turn.
  const QPoint places[] = {
      {there.right() + 1 + kGap, mine.top()},
      {there.left() - kGap - mine.width(), mine.top()},
      {mine.left(), there.top() - kGap - mine.height()},
      {mine.left(), there.bottom() + 1 + kGap},
  };
  for (const QPoint& place : places) {
    const QRect moved(place, mine.size());
    if (room.isNull() || room.contains(moved)) {
      window.move(place);
      return;
    }
  }
  window.move(places[0]);
}

}  // namespace qubix::ui
