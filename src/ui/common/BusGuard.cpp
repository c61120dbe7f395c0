#include "ui/common/BusGuard.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace qubix::ui {

namespace {
constexpr const char* kAllowProperty = "qubixAllowWhileBusy";

bool IsInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool BusGuard::AllowedWhileBusy(const QObject* object) {
  return object->property(kAllowProperty).toBool();
}

BusGuard& BusGuard::instance() {
  static BusGuard* guard = new BusGuard;  // lives as long as the application
  return *guard;
}

BusGuard::BusGuard() {
  if (QCoreApplication::instance()) QCoreApplication::instance()->installEventFilter(this);
}

void BusGuard::AllowWhileBusy(QWidget* widget) { widget->setProperty(kAllowProperty, true); }

bool BusGuard::eventFilter(QObject* watched, QEvent* event) {
  // Input reaches a window first and is passed on to the widget under it or with the focus:
  // judged there, where the control that may take it is known.
  if (pumps_ == 0 || !watched->isWidgetType()) return false;
  const QEvent::Type type = event->type();
  // The window's own close box: a window that must answer it (the main window) is allowed and
  // defers the close itself; any other closes only when the operation is over.
  if (type == QEvent::Close && event->spontaneous() && !AllowedWhileBusy(watched)) {
    event->ignore();
    return true;
  }
  if (!IsInput(type) || AllowedWhileBusy(watched)) return false;
  event->accept();
  return true;
}

void BusGuard::begin() { ++operations_; }

void BusGuard::end() {
  if (operations_ == 1 && pumped_) {
    // What the operator did during the last exchanges must not act once it is over.
    pump();
  }
  if (--operations_ > 0) return;
  pumped_ = false;
  if (cursorSet_) {
    cursorSet_ = false;
    QApplication::restoreOverrideCursor();
  }
}

void BusGuard::pump() {
  if (operations_ > 0 && !cursorSet_) {
    cursorSet_ = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
  }
  pumped_ = true;
  ++pumps_;
  QCoreApplication::processEvents();
  --pumps_;
}

BusGuard::Operation::Operation() { instance().begin(); }
BusGuard::Operation::~Operation() { instance().end(); }

void BusGuard::whenIdle(std::function<void()> action) {
  if (!busy()) {
    action();
    return;
  }
  // Looked at again shortly, from the event loop: an operation ends when its handler returns.
  QTimer::singleShot(20, this,
                     [this, action = std::move(action)]() mutable { whenIdle(std::move(action)); });
}

}  // namespace qubix::ui
