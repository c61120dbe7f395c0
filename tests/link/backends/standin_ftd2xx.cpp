// A stand-in for the vendor's D2XX library, built by the tests as libftd2xx.so: exports the C
// functions the program resolves by name, serves them from the adapter the test attaches (the
// simulated bus) and records each call with its arguments. Built without FT_GetDeviceInfo
// (QUBIX_STANDIN_PARTIAL) it is a library that lacks a function.
#include <cstdlib>
#include <cstring>

#include "StandIn.h"

using qubix::test::StandInControl;
using Dword = std::uint32_t;

namespace {

// QUBIX_STANDIN_DEVICES=N pretends N devices that cannot be opened (for the diagnostics).
StandInControl initialControl() {
  StandInControl c;
  if (const char* n = std::getenv("QUBIX_STANDIN_DEVICES"))
    c.extraDevices = static_cast<std::uint32_t>(std::atoi(n));
  return c;
}
StandInControl control = initialControl();

constexpr Dword kListNumberOnly = 0x80000000u;
constexpr Dword kListAll = 0x20000000u;
constexpr Dword kOpenByDescription = 2u;
constexpr std::uint32_t kNotFound = 2;

void record(const char* function, std::vector<std::uint64_t> args) {
  control.calls.push_back({function, std::move(args)});
}

std::uint64_t handleArg(void* h) { return reinterpret_cast<std::uintptr_t>(h); }

}  // namespace

extern "C" {

StandInControl* qubix_standin_control() { return &control; }

std::uint32_t FT_ListDevices(void* arg1, void* arg2, Dword flags) {
  record("FT_ListDevices", {flags, arg2 != nullptr});
  std::vector<qubix::link::Description> slots(8);
  std::uint32_t own = 0;
  if (control.adapter) {
    if (auto s = control.adapter->listDevices(slots, own); s != 0) return s;
  }
  const std::uint32_t n = own + control.extraDevices;
  if (flags == kListNumberOnly) {
    *static_cast<Dword*>(arg1) = n;
    return 0;
  }
  if (flags != (kListAll | kOpenByDescription) || !arg2) return 6;  // invalid parameter
  // The real library writes one description per device; check the caller made room.
  char** buffers = static_cast<char**>(arg1);
  std::uint32_t room = 0;
  while (buffers[room]) ++room;
  if (room < n) ++control.listRoomShort;
  for (std::uint32_t i = 0; i < n && i < room; ++i) {
    const char* text = i < own && i < slots.size() ? slots[i].data() : "Other Adapter";
    std::strncpy(buffers[i], text, 64);
  }
  *static_cast<Dword*>(arg2) = n;
  return 0;
}

std::uint32_t FT_Open(int index, void** handle) {
  record("FT_Open", {static_cast<std::uint64_t>(index)});
  if (!control.adapter) return kNotFound;
  return control.adapter->open(index, *handle);
}

std::uint32_t FT_Close(void* h) {
  record("FT_Close", {handleArg(h)});
  return control.adapter ? control.adapter->close(h) : kNotFound;
}

std::uint32_t FT_Read(void* h, void* buffer, Dword count, Dword* got) {
  record("FT_Read", {count});
  if (!control.adapter) return kNotFound;
  return control.adapter->read(h, static_cast<std::uint8_t*>(buffer), count, *got);
}

// Asked before every frame: served but not recorded, so that the recorded calls stay the ones
// that move bytes or settings.
std::uint32_t FT_GetQueueStatus(void* h, Dword* waiting) {
  if (!control.adapter) return kNotFound;
  return control.adapter->queueStatus(h, *waiting);
}

std::uint32_t FT_Write(void* h, void* buffer, Dword count, Dword* put) {
  record("FT_Write", {count});
  if (!control.adapter) return kNotFound;
  return control.adapter->write(h, static_cast<const std::uint8_t*>(buffer), count, *put);
}

std::uint32_t FT_ResetDevice(void* h) {
  record("FT_ResetDevice", {});
  return control.adapter ? control.adapter->resetDevice(h) : kNotFound;
}

std::uint32_t FT_SetBaudRate(void* h, Dword baud) {
  record("FT_SetBaudRate", {baud});
  return control.adapter ? control.adapter->setBaudRate(h, baud) : kNotFound;
}

std::uint32_t FT_SetDataCharacteristics(void* h, std::uint8_t bits, std::uint8_t stop,
                                        std::uint8_t parity) {
  record("FT_SetDataCharacteristics", {bits, stop, parity});
  return control.adapter ? control.adapter->setDataCharacteristics(h, bits, stop, parity)
                         : kNotFound;
}

std::uint32_t FT_SetFlowControl(void* h, std::uint16_t flow, std::uint8_t xon, std::uint8_t xoff) {
  record("FT_SetFlowControl", {flow, xon, xoff});
  return control.adapter ? control.adapter->setFlowControl(h, flow, xon, xoff) : kNotFound;
}

std::uint32_t FT_SetTimeouts(void* h, Dword readMs, Dword writeMs) {
  record("FT_SetTimeouts", {readMs, writeMs});
  return control.adapter ? control.adapter->setTimeouts(h, readMs, writeMs) : kNotFound;
}

#ifndef QUBIX_STANDIN_PARTIAL
std::uint32_t FT_GetDeviceInfo(void* h, std::uint32_t* type, Dword* id, char* serial,
                               char* description, void* reserved) {
  record("FT_GetDeviceInfo", {reserved == nullptr});
  if (!control.adapter) return kNotFound;
  qubix::link::DeviceInfo info;
  const auto s = control.adapter->getDeviceInfo(h, info);
  if (s != 0) return s;
  *type = info.type;
  *id = info.id;
  std::memcpy(serial, info.serialNumber.data(), info.serialNumber.size());
  std::memcpy(description, info.description.data(), info.description.size());
  return 0;
}
#endif

std::uint32_t FT_SetLatencyTimer(void* h, std::uint8_t ms) {
  record("FT_SetLatencyTimer", {ms});
  return control.adapter ? control.adapter->setLatencyTimer(h, ms) : kNotFound;
}

std::uint32_t FT_GetLatencyTimer(void*, std::uint8_t* ms) {
  record("FT_GetLatencyTimer", {});
  *ms = 16;
  return 0;
}

std::uint32_t FT_SetChars(void* h, std::uint8_t eventChar, std::uint8_t eventEnable,
                          std::uint8_t errorChar, std::uint8_t errorEnable) {
  record("FT_SetChars", {eventChar, eventEnable, errorChar, errorEnable});
  return control.adapter ? control.adapter->setEventCharacter(h, eventChar, eventEnable != 0)
                         : kNotFound;
}

}  // extern "C"
