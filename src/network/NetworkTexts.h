// The texts of the machine list, the refresh, the scan, the slots and their dialogs, byte for
// byte (leading and trailing blanks are part of them).
#pragma once

#include <string_view>

namespace qubix::network::texts {

inline constexpr std::string_view kConnectionFail = " Connection Fail";
inline constexpr std::string_view kNoWriteS = " No write S";
inline constexpr std::string_view kFileErrorCaption = "File Error";
inline constexpr std::string_view kFileReadError =
    "Can't perform one of the following file operations: Open, Seek, Read, Close.";
inline constexpr std::string_view kFileWriteError =
    "Can't perform one of the following file operations: Open, Seek, Read, Write, Close.";

inline constexpr std::string_view kNetScan = " NetScan";
inline constexpr std::string_view kStopScan = "StopScan";
inline constexpr std::string_view kReScan = "ReScan";
inline constexpr std::string_view kMaxSearch = "Max Srch";
inline constexpr std::string_view kRefresh = " Refresh";
inline constexpr std::string_view kAddManually = " Add Manually";
inline constexpr std::string_view kRemoveHw = "  Remove HW";
inline constexpr std::string_view kSearchItem = "Search.......";
inline constexpr std::string_view kOk = "      Ok";
inline constexpr std::string_view kCancel = " Cancel";
inline constexpr std::string_view kValidate = "  Validate";

inline constexpr std::string_view kAddTitle = "Add Machine Manually";
inline constexpr std::string_view kAddLabel = "Machine number to Add";
inline constexpr std::string_view kAddDefaultDigits = "000000030000";
inline constexpr std::string_view kInvalidFormat = "Invalid Format, Check Length";
inline constexpr std::string_view kAlreadyListed = "Machine already in List";
inline constexpr std::string_view kNotFound = "Machine Not Found!";
inline constexpr std::string_view kListFull = "List Full, Remove A Machine First";
inline constexpr std::string_view kRemoveTitle = "Remove From Net List";
inline constexpr std::string_view kRemoveLabel = "Select the Machine number to Remove";

inline constexpr std::string_view kEditHint = "Click Here To Select And Edit";
inline constexpr std::string_view kPresetHint = "Click Image To Change HardWare PreSet";
inline constexpr std::string_view kIdlePreset = "Idle Preset";
inline constexpr std::string_view kExtraPresetDefault = "ExtraPreset";
inline constexpr std::string_view kUnknownPreset = "Unknown";
// Status line: a refresh that could not read every machine; a preset change that was sent but
// not read back. The tool tip names the machine and the parameter.
inline constexpr std::string_view kReadFail = " Read Fail";
inline constexpr std::string_view kNotConfirmed = " Not Confirmed";
inline constexpr std::string_view kUserConfig = "User Config ";

inline constexpr std::string_view kFirstSelectFrame = "H00000001000000";
inline constexpr std::string_view kScanPrefix = "H00000001";
inline constexpr std::string_view kPresetsFolder = "presets";
inline constexpr std::string_view kExtraPicture = "extrapset.jpg";
inline constexpr std::string_view kNoExtraPicture = "notextrapset.jpg";
inline constexpr std::string_view kProcessorPicture = "processor.jpg";

// The hardware preset change, its dialog and the Extra preset upload.
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
// The reason given with a failure that cut an upload short.
inline constexpr std::string_view kUploadCutWait =
    "the upload was cut short: the processor takes every byte as part of it until the line has "
    "been quiet for about 8 s, so wait 10 s before the next command to this bus";

}  // namespace qubix::network::texts
