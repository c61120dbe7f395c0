// BusGuard: keeps the windows alive while the program waits on the bus, without letting a
// second operation start. Every wait lets pending window events run (pump), so windows repaint
// and the busy clip moves; input that arrives meanwhile is dropped, never queued and replayed
// later. Controls marked with AllowWhileBusy (Exit) still take their clicks.
#pragma once

#include <QObject>
#include <functional>

class QWidget;

namespace qubix::ui {

class BusGuard : public QObject {
  Q_OBJECT

 public:
  static BusGuard& instance();

  // Lets pending window events run with input dropped; the busy cursor shows for the rest of
  // the enclosing operation.
  void pump();
  // True while an operation runs: inside an Operation or a pump.
  bool busy() const { return operations_ > 0 || pumps_ > 0; }
  // The control keeps taking input while an operation runs.
  static void AllowWhileBusy(QWidget* widget);
  static bool AllowedWhileBusy(const QObject* object);

  // One operation started by a click: when it ends after having waited on the bus, input that
  // arrived during its last stretch is dropped too. Nested operations count as one.
  class Operation {
   public:
    Operation();
    ~Operation();
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;
  };

  // Runs `action` once no operation runs: at once when idle, else after the operation ends.
  void whenIdle(std::function<void()> action);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  BusGuard();
  void begin();
  void end();

  int operations_ = 0;
  int pumps_ = 0;
  bool pumped_ = false;
  bool cursorSet_ = false;
};

}  // namespace qubix::ui
