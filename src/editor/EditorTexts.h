// The editor's own texts: its captions, the status query, the user preset buttons and
// questions. Used exactly as they stand, blanks included.
#pragma once

#include <string_view>

namespace qubix::editor {

namespace texts {
inline constexpr std::string_view kFlat = "Flat";
inline constexpr std::string_view kEq = "EQ";
inline constexpr std::string_view kConnectionFail = " Connection Fail";
inline constexpr std::string_view kStatusQuery = "I0000";
// User presets.
inline constexpr std::string_view kSaveToDsp = "    Save To DSP Memory";
inline constexpr std::string_view kLoadFromDsp = "   Load From DSP Memory";
inline constexpr std::string_view kSaveToFile = "   Save To Computer HDD";
inline constexpr std::string_view kLoadFromFile = "  Load From Computer HDD";
inline constexpr std::string_view kSelectLocation = "Select Location";
inline constexpr std::string_view kSelectUserPreset = "Select User PreSet";
inline constexpr std::string_view kLocationQuestion = "Select the memory location number ";
inline constexpr std::string_view kUserPresetQuestion = "Select the User PreSet number ";
inline constexpr std::string_view kForTheProcessor = "for the Processor";
inline constexpr std::string_view kLocationOk = "      Ok";
inline constexpr std::string_view kLocationCancel = " Cancel";
inline constexpr std::string_view kEEPromError = "EEProm Writing Error";
inline constexpr std::string_view kNothingSelected = "Nothing Selected";
inline constexpr std::string_view kVupFilter = "Velmoria User Preset (*.vup)";
inline constexpr std::string_view kVupExtension = "vup";
inline constexpr std::string_view kVupProposedName = "preset.vup";
}  // namespace texts

}  // namespace qubix::editor
