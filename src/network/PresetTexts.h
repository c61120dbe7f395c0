// The texts of the hardware preset change, its dialog and the Extra preset upload, byte for
// byte (leading and trailing blanks are part of them).
#pragma once

#include <string_view>

namespace qubix::network::texts {

inline constexpr std::string_view kPresetDialogCaption = "Change HardWare PreSet";
inline constexpr std::string_view kPresetTitle = "Hardware Config # ";
inline constexpr std::string_view kPresetPictureHint =
    "Click On Image To Select The Hardware Configuration";
inline constexpr std::string_view kPresetClose = "    Close";
inline constexpr std::string_view kLoadNew = " Load New ";
inline constexpr std::string_view kWait = "....wait....";
inline constexpr std::string_view kBusyClip = "AniVelm2.avi";
inline constexpr std::string_view kExtraPresetLabel = "Extra Preset";
inline constexpr std::string_view kBadFile = "Bad File";

inline constexpr std::string_view kHfpFilter = "Extra Config Files (*.hfp)";
inline constexpr std::string_view kHfpDefaultExtension = "*.hfp";
inline constexpr std::string_view kCorruptedFile = "Corrupted File";
inline constexpr std::string_view kFatalError = " Fatal Error on Loading";
inline constexpr std::string_view kUploadingFail = " UpLoading Fail";
inline constexpr std::string_view kFatalEcho = " Fatal Error on Loading (01)";
inline constexpr std::string_view kFatalReadBack = " Fatal Error on Loading (02)";
inline constexpr std::string_view kFatalNoAck = " Fatal Error on Loading (03)";

}  // namespace qubix::network::texts
