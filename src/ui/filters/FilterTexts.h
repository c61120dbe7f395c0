// The fixed texts and resource names of the band strip, the knob, the response graph and the
// filter block image, kept in one place.
#pragma once

#include <QStringView>

namespace qubix::ui::texts {

// Band strip bitmaps and cursors.
inline constexpr QStringView kEqKnob = u"EQ_KNOBPAR";
inline constexpr QStringView kEqScaleRight = u"EQ_SCALEDXPAR";
inline constexpr QStringView kEqScaleLeft = u"EQ_SCALESXPAR";
inline constexpr QStringView kEqGrid = u"EQ_GRIDPAR";
inline constexpr QStringView kEqSlot = u"EQ_PUNCHPAR";
inline constexpr QStringView kSmallKnobFace = u"GRAYSMKPAR";
inline constexpr QStringView kStripCursorPlus = u"CURSORPLUSPAR";
inline constexpr QStringView kStripCursorMinus = u"CURSORMINUSPAR";
inline constexpr QStringView kStripCursorDrag = u"CURSOR_1PAR";

// Knob bitmaps by colour, and the knob cursors.
inline constexpr QStringView kGrayKnob = u"GRAYKNOBSS";
inline constexpr QStringView kBlueKnob = u"BLUEKNOBSS";
inline constexpr QStringView kWhiteKnob = u"WHITEKNOBSS";
inline constexpr QStringView kGreenKnob = u"GREENKNOBSS";
inline constexpr QStringView kRedKnob = u"REDKNOBSS";
inline constexpr QStringView kOrangeKnob = u"ORANGEKNOBSS";
inline constexpr QStringView kYellowKnob = u"YELLOWKNOBSS";
inline constexpr QStringView kKnobCursorPlus = u"CURSORPLUS";
inline constexpr QStringView kKnobCursorMinus = u"CURSORMINUS";
inline constexpr QStringView kKnobCursorDrag = u"CURSOR_0";

// Filter block image.
inline constexpr QStringView kActiveBitmap = u"ACTIVEBMP";
inline constexpr QStringView kInactiveBitmap = u"INACTIVEBMP";

// Response graph window.
inline constexpr QStringView kGraphCaption = u"Velmoria Qubix 24 FilterGraph";
inline constexpr QStringView kLabelPlus24 = u"+24";
inline constexpr QStringView kLabelPlus12 = u"+12";
inline constexpr QStringView kLabelZero = u"0db";
inline constexpr QStringView kLabelMinus12 = u"-12";
inline constexpr QStringView kLabelMinus24 = u"-24";
inline constexpr QStringView kLabel100Hz = u"100Hz";
inline constexpr QStringView kLabel1kHz = u"1KHz";
inline constexpr QStringView kLabel10kHz = u"10KHz";
// Its context menu.
inline constexpr QStringView kImportFilters = u"Import Filters\u2026";
inline constexpr QStringView kExportFilters = u"Export Filters\u2026";

}  // namespace qubix::ui::texts
