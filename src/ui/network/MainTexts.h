// The main window's own texts, byte for byte (leading and trailing blanks are part of them).
#pragma once

namespace qubix::ui::texts {

inline constexpr const char* kApplicationTitle = "Velmoria Qubix 24";
inline constexpr const char* kMainCaption = "Velmoria Qubix 24 Controller ";
inline constexpr const char* kExit = "      Exit";
inline constexpr const char* kConnect = "Connect";
inline constexpr const char* kDisconnect = "Disconnect";

}  // namespace qubix::ui::texts
