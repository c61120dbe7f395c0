// The C calls of the vendor's D2XX library that we resolve by name, with the vendor's argument
// order. Widths follow the library's Linux build: DWORD is 32 bits; a ULONG written through a
// pointer (the device type) gets an 8-byte slot so that neither width overruns it.
#pragma once

#include <cstdint>

namespace qubix::link::backends::d2xx {

using FtStatus = std::uint32_t;
using FtHandle = void*;
using Dword = std::uint32_t;

inline constexpr Dword kListNumberOnly = 0x80000000u;
inline constexpr Dword kListAll = 0x20000000u;
inline constexpr Dword kOpenByDescription = 0x00000002u;

extern "C" {
using ListDevicesFn = FtStatus (*)(void* arg1, void* arg2, Dword flags);
using OpenFn = FtStatus (*)(int deviceNumber, FtHandle* handle);
using CloseFn = FtStatus (*)(FtHandle handle);
using ReadFn = FtStatus (*)(FtHandle handle, void* buffer, Dword count, Dword* bytesRead);
using WriteFn = FtStatus (*)(FtHandle handle, void* buffer, Dword count, Dword* bytesWritten);
using ResetDeviceFn = FtStatus (*)(FtHandle handle);
using SetBaudRateFn = FtStatus (*)(FtHandle handle, Dword baud);
using SetDataCharacteristicsFn = FtStatus (*)(FtHandle handle, std::uint8_t wordLength,
                                              std::uint8_t stopBits, std::uint8_t parity);
using SetFlowControlFn = FtStatus (*)(FtHandle handle, std::uint16_t flow, std::uint8_t xon,
                                      std::uint8_t xoff);
using SetTimeoutsFn = FtStatus (*)(FtHandle handle, Dword readMs, Dword writeMs);
using GetDeviceInfoFn = FtStatus (*)(FtHandle handle, void* type, Dword* id, char* serial,
                                     char* description, void* reserved);
using SetLatencyTimerFn = FtStatus (*)(FtHandle handle, std::uint8_t ms);
using SetCharsFn = FtStatus (*)(FtHandle handle, std::uint8_t eventChar, std::uint8_t eventEnable,
                                std::uint8_t errorChar, std::uint8_t errorEnable);
using GetLatencyTimerFn = FtStatus (*)(FtHandle handle, std::uint8_t* ms);
using GetQueueStatusFn = FtStatus (*)(FtHandle handle, Dword* bytesWaiting);
}

}  // namespace qubix::link::backends::d2xx
