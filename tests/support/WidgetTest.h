// Shared bits of the widget tests: the test main on the offscreen platform and pointer moves
// without a button (hover), which QTest turns into cursor moves the offscreen platform drops.
#pragma once

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QMouseEvent>
#include <QTest>
#include <QWidget>

#define QUBIX_WIDGET_TEST_MAIN(TestClass)                                                        \
  int main(int argc, char** argv) {                                                              \
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen"); \
    QApplication app(argc, argv);                                                                \
    TestClass test;                                                                              \
    return QTest::qExec(&test, argc, argv);                                                      \
  }

namespace qubix::test {

// A pointer move with the given buttons held, delivered like one from the window system.
inline void MoveMouse(QWidget* widget, QPoint pos, Qt::MouseButtons held = Qt::NoButton) {
  QMouseEvent event(QEvent::MouseMove, pos, widget->mapToGlobal(pos), Qt::NoButton, held,
                    Qt::NoModifier);
  QApplication::sendEvent(widget, &event);
}

inline int CountPixels(const QImage& image, const QRect& area, const QColor& colour) {
  int n = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if (image.pixelColor(x, y) == colour) ++n;
  return n;
}

// Pixels of text drawn with smoothed edges are only near their colour: these count the pixels
// that clearly are lime, yellow or white.
inline bool IsLime(const QColor& c) { return c.green() > 180 && c.red() < 100 && c.blue() < 100; }
inline bool IsYellow(const QColor& c) { return c.red() > 180 && c.green() > 180 && c.blue() < 100; }
inline bool IsWhite(const QColor& c) { return c.red() > 200 && c.green() > 200 && c.blue() > 200; }

template <typename Pred>
int CountPixelsWhere(const QImage& image, const QRect& area, Pred pred) {
  int n = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if (pred(image.pixelColor(x, y))) ++n;
  return n;
}

}  // namespace qubix::test
