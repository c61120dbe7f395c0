// What the widget tests do as the operator: a left click on a control, and an answer to a modal
// dialog once it is up.
#pragma once

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace qubix::test {

inline void Click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(5, 5)); }

// Runs `act` on the active modal widget as soon as the event loop of its exec() turns.
inline void WhenModal(std::function<void(QWidget*)> act) {
  QTimer::singleShot(0, [act] {
    QWidget* w = QApplication::activeModalWidget();
    QVERIFY(w);
    act(w);
  });
}

}  // namespace qubix::test
