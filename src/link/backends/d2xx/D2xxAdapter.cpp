#include "link/backends/d2xx/D2xxAdapter.h"

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "link/backends/Latency.h"

namespace qubix::link::backends {

namespace {

template <typename Fn>
bool resolve(void* library, const char* name, Fn& fn, std::string& missing) {
  fn = reinterpret_cast<Fn>(dlsym(library, name));
  if (!fn) missing += missing.empty() ? name : std::string(", ") + name;
  return fn != nullptr;
}

// Devices may be plugged in between counting and listing; spare buffers keep the library's
// writes inside ours even then.
constexpr std::size_t kSpareSlots = 16;

}  // namespace

std::string D2xxAdapter::defaultLibrary() {
  const char* env = std::getenv("QUBIX_D2XX_LIBRARY");
  return env && *env ? env : "libftd2xx.so";
}

D2xxAdapter::D2xxAdapter(std::string library) {
  if (library.empty()) library = defaultLibrary();
  library_ = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library_) {
    const char* why = dlerror();
    lastError_ = "d2xx: not available: cannot load " + library + " (" + (why ? why : "not found") +
                 "); install the vendor's D2XX library";
    return;
  }
  std::string missing;
  resolve(library_, "FT_ListDevices", api_.listDevices, missing);
  resolve(library_, "FT_Open", api_.open, missing);
  resolve(library_, "FT_Close", api_.close, missing);
  resolve(library_, "FT_Read", api_.read, missing);
  resolve(library_, "FT_Write", api_.write, missing);
  resolve(library_, "FT_ResetDevice", api_.resetDevice, missing);
  resolve(library_, "FT_SetBaudRate", api_.setBaudRate, missing);
  resolve(library_, "FT_SetDataCharacteristics", api_.setDataCharacteristics, missing);
  resolve(library_, "FT_SetFlowControl", api_.setFlowControl, missing);
  resolve(library_, "FT_SetTimeouts", api_.setTimeouts, missing);
  resolve(library_, "FT_GetDeviceInfo", api_.getDeviceInfo, missing);
  if (!missing.empty()) {
    lastError_ = "d2xx: not available: " + library + " lacks " + missing;
    return;
  }
  std::string optional;
  resolve(library_, "FT_SetLatencyTimer", api_.setLatencyTimer, optional);
  resolve(library_, "FT_SetChars", api_.setChars, optional);
  resolve(library_, "FT_GetLatencyTimer", api_.getLatencyTimer, optional);
  resolve(library_, "FT_GetQueueStatus", api_.getQueueStatus, optional);
  api_.ok = true;
}

D2xxAdapter::~D2xxAdapter() {
  if (library_) dlclose(library_);
}

Status D2xxAdapter::unavailable() { return kDeviceNotFound; }

Status D2xxAdapter::checked(Status status, const char* call) {
  if (status != kOk)
    lastError_ = std::string("d2xx: ") + call + " failed with status " + std::to_string(status);
  return status;
}

Status D2xxAdapter::listDevices(std::span<Description> slots, std::uint32_t& deviceCount) {
  deviceCount = 0;
  if (!api_.ok) return unavailable();
  // The library writes one description per device into the array it is given, however many
  // there are: count first and give it room for all of them.
  d2xx::Dword count = 0;
  if (Status s = api_.listDevices(&count, nullptr, d2xx::kListNumberOnly); s != kOk)
    return checked(s, "FT_ListDevices");
  const std::size_t buffers = std::max<std::size_t>(count, slots.size()) + kSpareSlots;
  std::vector<std::array<char, kDescriptionSize>> texts(buffers);
  std::vector<char*> pointers(buffers + 1, nullptr);  // null-terminated
  for (std::size_t i = 0; i < buffers; ++i) pointers[i] = texts[i].data();
  d2xx::Dword listed = 0;
  const Status s =
      api_.listDevices(pointers.data(), &listed, d2xx::kListAll | d2xx::kOpenByDescription);
  if (s != kOk) return checked(s, "FT_ListDevices");
  deviceCount = listed;
  for (std::size_t i = 0; i < slots.size() && i < listed && i < buffers; ++i) {
    texts[i].back() = '\0';
    std::memcpy(slots[i].data(), texts[i].data(), kDescriptionSize);
  }
  if (listed == 0) lastError_ = "d2xx: the library sees no device";
  return kOk;
}

Status D2xxAdapter::open(int deviceIndex, Handle& handle) {
  handle = nullptr;
  if (!api_.ok) return unavailable();
  d2xx::FtHandle h = nullptr;
  const Status s = api_.open(deviceIndex, &h);
  if (s != kOk) {
    lastError_ = "d2xx: FT_Open of device " + std::to_string(deviceIndex) + " failed with status " +
                 std::to_string(s) +
                 (s == kDeviceNotOpened ? " (a kernel driver may hold it: unload ftdi_sio)" : "");
    return s;
  }
  handle = h;
  lastError_.clear();
  // Failures here only cost speed; lastError() keeps the reason for diagnostics.
  setLatencyTimer(handle, kLatencyTimerMs);
  setEventCharacter(handle, kEventCharacter, true);
  return kOk;
}

Status D2xxAdapter::close(Handle handle) {
  if (!api_.ok) return unavailable();
  return checked(api_.close(handle), "FT_Close");
}

Status D2xxAdapter::read(Handle handle, std::uint8_t* buffer, std::uint32_t count,
                         std::uint32_t& bytesRead) {
  bytesRead = 0;
  if (!api_.ok) return unavailable();
  d2xx::Dword got = 0;
  const Status s = api_.read(handle, buffer, count, &got);
  bytesRead = std::min<d2xx::Dword>(got, count);
  return checked(s, "FT_Read");
}

// FT_GetQueueStatus; a library without it cannot say.
Status D2xxAdapter::queueStatus(Handle handle, std::uint32_t& bytesWaiting) {
  bytesWaiting = 0;
  if (!api_.ok) return unavailable();
  if (!api_.getQueueStatus) return kNotSupported;
  d2xx::Dword waiting = 0;
  const Status s = api_.getQueueStatus(handle, &waiting);
  bytesWaiting = waiting;
  return checked(s, "FT_GetQueueStatus");
}

Status D2xxAdapter::write(Handle handle, const std::uint8_t* buffer, std::uint32_t count,
                          std::uint32_t& bytesWritten) {
  bytesWritten = 0;
  if (!api_.ok) return unavailable();
  d2xx::Dword put = 0;
  const Status s = api_.write(handle, const_cast<std::uint8_t*>(buffer), count, &put);
  bytesWritten = std::min<d2xx::Dword>(put, count);
  return checked(s, "FT_Write");
}

Status D2xxAdapter::resetDevice(Handle handle) {
  if (!api_.ok) return unavailable();
  return checked(api_.resetDevice(handle), "FT_ResetDevice");
}

Status D2xxAdapter::setBaudRate(Handle handle, std::uint32_t baud) {
  if (!api_.ok) return unavailable();
  return checked(api_.setBaudRate(handle, baud), "FT_SetBaudRate");
}

Status D2xxAdapter::setDataCharacteristics(Handle handle, std::uint8_t wordLength,
                                           std::uint8_t stopBits, std::uint8_t parity) {
  if (!api_.ok) return unavailable();
  return checked(api_.setDataCharacteristics(handle, wordLength, stopBits, parity),
                 "FT_SetDataCharacteristics");
}

Status D2xxAdapter::setFlowControl(Handle handle, std::uint16_t flow, std::uint8_t xon,
                                   std::uint8_t xoff) {
  if (!api_.ok) return unavailable();
  return checked(api_.setFlowControl(handle, flow, xon, xoff), "FT_SetFlowControl");
}

Status D2xxAdapter::setTimeouts(Handle handle, std::uint32_t readMs, std::uint32_t writeMs) {
  if (!api_.ok) return unavailable();
  return checked(api_.setTimeouts(handle, readMs, writeMs), "FT_SetTimeouts");
}

Status D2xxAdapter::getDeviceInfo(Handle handle, DeviceInfo& info) {
  if (!api_.ok) return unavailable();
  std::uint64_t type = 0;  // room for either width of the library's ULONG
  d2xx::Dword id = 0;
  std::array<char, 16> serial{};
  Description description{};
  const Status s =
      api_.getDeviceInfo(handle, &type, &id, serial.data(), description.data(), nullptr);
  if (s != kOk) return checked(s, "FT_GetDeviceInfo");
  serial.back() = '\0';
  description.back() = '\0';
  info.type = static_cast<std::uint32_t>(type & 0xffffffffu);
  info.id = id;
  info.serialNumber = serial;
  info.description = description;
  return kOk;
}

Status D2xxAdapter::setLatencyTimer(Handle handle, std::uint8_t ms) {
  if (!api_.ok) return unavailable();
  if (!api_.setLatencyTimer) return kNotSupported;
  return checked(api_.setLatencyTimer(handle, ms), "FT_SetLatencyTimer");
}

Status D2xxAdapter::getLatencyTimer(Handle handle, std::uint8_t& ms) {
  if (!api_.ok) return unavailable();
  if (!api_.getLatencyTimer) return kNotSupported;
  return checked(api_.getLatencyTimer(handle, &ms), "FT_GetLatencyTimer");
}

Status D2xxAdapter::setEventCharacter(Handle handle, std::uint8_t ch, bool enable) {
  if (!api_.ok) return unavailable();
  if (!api_.setChars) return kNotSupported;
  return checked(api_.setChars(handle, ch, enable ? 1 : 0, 0, 0), "FT_SetChars");
}

BackendReport D2xxAdapter::probe(std::string library) {
  BackendReport report;
  report.backend = "d2xx";
  D2xxAdapter adapter(std::move(library));
  if (!adapter.loaded()) {
    report.reason = adapter.lastError().substr(std::strlen("d2xx: "));
    return report;
  }
  report.available = true;
  std::array<Description, 8> slots{};
  std::uint32_t count = 0;
  if (adapter.listDevices(slots, count) != kOk) {
    report.reason = adapter.lastError();
    return report;
  }
  for (std::uint32_t i = 0; i < count && i < slots.size(); ++i) {
    PortInfo info;
    info.path = "index " + std::to_string(i);
    info.description = slots[i].data();
    d2xx::FtHandle h = nullptr;
    // Opening tells the ids, the serial number and the latency timer (opened raw, so that
    // looking does not change the timer); a device another program holds stays listed with
    // what the listing gave.
    const Status opened = adapter.api_.open(static_cast<int>(i), &h);
    if (opened == kOk) {
      DeviceInfo di;
      if (adapter.getDeviceInfo(h, di) == kOk) {
        info.vendorId = static_cast<std::uint16_t>(di.id >> 16);
        info.productId = static_cast<std::uint16_t>(di.id & 0xffff);
        info.serialNumber = di.serialNumber.data();
      }
      std::uint8_t ms = 0;
      if (adapter.api_.getLatencyTimer && adapter.api_.getLatencyTimer(h, &ms) == kOk)
        info.latencyTimerMs = ms;
      adapter.close(h);
    } else {
      info.note = "cannot open it (status " + std::to_string(opened) +
                  "): another program or "
                  "the kernel driver holds it";
    }
    report.ports.push_back(std::move(info));
  }
  return report;
}

}  // namespace qubix::link::backends
