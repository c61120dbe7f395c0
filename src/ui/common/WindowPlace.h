// Where a tool window opens when another one is already up: two windows that open at the same
// corner of the screen must not hide each other.
#pragma once

class QWidget;

namespace qubix::ui {

// When `other` is visible and `window` would cover part of it, moves `window` beside it: to its
// right when that fits on other's screen, else to its left, else below or above it. A window
// the operator moved elsewhere, and one that covers nothing, stays where it is.
void PlaceBeside(QWidget& window, const QWidget& other);

}  // namespace qubix::ui
