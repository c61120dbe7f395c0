// ProgramLook: one look for every window and dialog of the program: the Fusion style with a
// palette of the program's colours (black ground, lime text, navy fields), tool tips in one
// readable palette, and the bevelled frame the windows group their controls in.
#pragma once

#include <QPalette>

class QFrame;
class QRect;
class QWidget;

namespace qubix::ui {

QPalette ProgramPalette();
QPalette ToolTipPalette();
// Sets the style and palettes application-wide; the program calls it once at start.
void ApplyProgramLook();
// A lowered bevel: a grey shadow line and a white highlight line inside it.
QFrame* MakeBevel(QWidget* parent, const QRect& r);

}  // namespace qubix::ui
