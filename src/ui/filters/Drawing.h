// Small pieces shared by the owner-drawn filter controls: numbered cursors, named bitmaps,
// fonts and the number texts they print.
#pragma once

#include <QColor>
#include <QCursor>
#include <QFont>
#include <QPixmap>
#include <QString>
#include <QStringView>

namespace qubix::ui {

inline const QColor kLime(0, 255, 0);
inline const QColor kYellow(255, 255, 0);
inline const QColor kDotRed(255, 0, 0);
// Background of the strips and knobs: the console panel the bitmaps are drawn for.
inline const QColor kPanelColour(28, 30, 33);

// Cursors are registered under fixed numbers by the controls that load them; the control
// constructed last provides a number shared by several (1 = plus, 2 = minus).
enum CursorNumber : int { kCursorPlus = 1, kCursorMinus = 2, kCursorKnob = 3, kCursorStrip = 4 };
void RegisterCursor(int number, QStringView resourceName);
QCursor NumberedCursor(int number);

// Angle of a rotary knob's dot, radians: the dial sweeps 5.338 rad clockwise from 4.239 rad as
// the pot grows from 0 (the angle is measured from 0, not from the minimum). A knob without
// range has nowhere to turn and keeps its dot at the start.
double KnobAngle(double pot, double minimum, double maximum);

// A named bitmap from the resources; a missing one is reported once and drawn as nothing.
QPixmap NamedBitmap(QStringView name);

// Font of the given pixel height for the controls' value texts.
QFont ControlFont(int pixelHeight);

// value rounded (half away from zero) to at most `significant` significant digits and at most
// `decimals` decimals, printed with exactly `decimals` decimals, optionally with "," between
// thousands. 16000 → "16,000"; 11.75 (2, 1) → "12.0"; -12.5 (4, 1) → "-12.5".
QString FormatNumber(double value, int significant, int decimals, bool thousands);

}  // namespace qubix::ui
