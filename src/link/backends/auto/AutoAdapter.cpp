#include "link/backends/auto/AutoAdapter.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <utility>

#include "link/backends/d2xx/D2xxAdapter.h"
#include "link/backends/ftdi/FtdiAdapter.h"
#include "link/backends/serial/SerialAdapter.h"

namespace qubix::link::backends {

namespace fs = std::filesystem;

namespace {

// How many devices of one stage are told apart; more than a PC has adapters.
constexpr std::size_t kListed = 16;
// From a serial port's device up to its USB device: port, interface, device.
constexpr int kLevelsToUsbDevice = 4;

std::string firstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

std::uint16_t hexId(const std::string& text) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 16);
  return end != text.c_str() && value <= 0xffff ? static_cast<std::uint16_t>(value) : 0;
}

// ttyUSB2 before ttyUSB10.
bool naturalLess(const std::string& a, const std::string& b) {
  return a.size() != b.size() ? a.size() < b.size() : a < b;
}

std::string text(const Description& d) {
  return std::string(d.data(),
                     static_cast<std::size_t>(std::find(d.begin(), d.end(), '\0') - d.begin()));
}

// "d2xx: not available: cannot load libftd2xx.so (...); install ..." as the short reason an
// operator needs among the others.
std::string d2xxReason(const std::string& error) {
  const std::string load = "cannot load ";
  const auto at = error.find(load);
  if (at == std::string::npos) return error;
  const auto from = at + load.size();
  const auto to = error.find(" (", from);
  return "d2xx: " + error.substr(from, to == std::string::npos ? to : to - from) + " not installed";
}

}  // namespace

AutoSources AutoSources::fromEnvironment() {
  AutoSources sources;
  if (const char* dir = std::getenv("QUBIX_TTY_CLASS_DIR"); dir && *dir) sources.ttyClassDir = dir;
  if (const char* dir = std::getenv("QUBIX_DEV_DIR"); dir && *dir) sources.devDir = dir;
  return sources;
}

std::vector<PortInfo> kernelFtdiPorts(const std::string& ttyClassDir, const std::string& devDir,
                                      std::string& reason) {
  std::vector<std::pair<std::string, PortInfo>> found;
  std::error_code ec;
  fs::directory_iterator it(ttyClassDir, ec);
  if (ec) {
    reason = "cannot read " + ttyClassDir + ": " + ec.message();
    return {};
  }
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const std::string name = it->path().filename().string();
    std::error_code e;
    const fs::path device = fs::canonical(it->path() / "device", e);
    if (e) continue;  // a virtual terminal has no device
    fs::path usb = device;
    for (int level = 0; level < kLevelsToUsbDevice && !fs::exists(usb / "idVendor", e); ++level)
      usb = usb.parent_path();
    if (!fs::exists(usb / "idVendor", e)) continue;  // not on the USB
    PortInfo info;
    info.vendorId = hexId(firstLine(usb / "idVendor"));
    if (info.vendorId != kFtdiVendorId) continue;
    info.productId = hexId(firstLine(usb / "idProduct"));
    info.description = firstLine(usb / "product");
    info.serialNumber = firstLine(usb / "serial");
    const fs::path driver = fs::read_symlink(device / "driver", e);
    if (!e) info.note = "driver " + driver.filename().string();
    const fs::path node = fs::path(devDir) / name;
    const fs::path real = fs::canonical(node, e);
    info.path = e ? node.string() : real.string();
    found.emplace_back(name, std::move(info));
  }
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return naturalLess(a.first, b.first); });
  std::vector<PortInfo> ports;
  ports.reserve(found.size());
  for (auto& [name, info] : found) ports.push_back(std::move(info));
  return ports;
}

AutoAdapter::AutoAdapter(AutoSources sources) : sources_(std::move(sources)) {
  if (!sources_.serial)
    sources_.serial = [](const std::string& device, std::string& reason) {
      return makeSerialAdapter(device, reason);
    };
  if (!sources_.ftdi)
    sources_.ftdi = [](std::string& reason) { return makeFtdiAdapter({}, reason); };
  if (!sources_.d2xx) sources_.d2xx = [] { return std::make_unique<D2xxAdapter>(); };
}

AutoAdapter::~AutoAdapter() { closeOpened(); }

Status AutoAdapter::listDevices(std::span<Description> slots, std::uint32_t& deviceCount) {
  deviceCount = 0;
  for (auto& slot : slots) slot.fill('\0');
  stage_ = Stage::None;
  candidates_.clear();
  std::vector<std::string> tried;
  std::vector<std::string> descriptions;

  std::string reason;
  const std::vector<PortInfo> ports =
      kernelFtdiPorts(sources_.ttyClassDir, sources_.devDir, reason);
  if (!ports.empty()) {
    stage_ = Stage::Serial;
    for (std::size_t i = 0; i < ports.size(); ++i) {
      candidates_.push_back({"serial " + ports[i].path, ports[i].path, 0});
      descriptions.push_back(ports[i].description);
    }
  } else {
    tried.push_back(reason.empty() ? "no serial port of ftdi_sio in " + sources_.ttyClassDir
                                   : "serial ports: " + reason);
  }

  // A stage that found devices has them; the next one would only find the same chips again.
  const auto listStage = [&](Adapter& backend, Stage stage, const char* kind) {
    std::array<Description, kListed> found{};
    std::uint32_t n = 0;
    if (backend.listDevices(found, n) != kOk) return false;
    for (std::uint32_t i = 0; i < n && i < kListed; ++i) {
      candidates_.push_back(
          {std::string(kind) + " device " + std::to_string(i), {}, static_cast<int>(i)});
      descriptions.push_back(text(found[i]));
    }
    if (n > 0) stage_ = stage;
    return true;
  };

  if (stage_ == Stage::None) {
    if (!ftdi_) {
      std::string why;
      ftdi_ = sources_.ftdi(why);
      if (!ftdi_) tried.push_back("libftdi: " + why);
    }
    if (ftdi_) {
      if (!listStage(*ftdi_, Stage::Ftdi, "ftdi"))
        tried.push_back("lib" + ftdi_->lastError());
      else if (stage_ == Stage::None)
        tried.push_back("libftdi found no device");
    }
  }
  if (stage_ == Stage::None) {
    if (!d2xx_) d2xx_ = sources_.d2xx();
    if (!listStage(*d2xx_, Stage::D2xx, "d2xx")) {
      tried.push_back(d2xxReason(d2xx_->lastError()));
      d2xx_.reset();  // loaded again next time: a library installed meanwhile is found
    } else if (stage_ == Stage::None) {
      tried.push_back("d2xx found no device");
    }
  }

  if (stage_ == Stage::None) {
    error_ = "no FTDI adapter (vendor 0403): ";
    for (std::size_t i = 0; i < tried.size(); ++i) error_ += (i ? "; " : "") + tried[i];
    return kOk;
  }
  for (std::size_t i = 0; i < candidates_.size(); ++i) {
    Candidate& c = candidates_[i];
    if (!descriptions[i].empty()) c.name += " (" + descriptions[i] + ")";
    if (i < slots.size()) copyText(descriptions[i], slots[i]);
  }
  if (candidates_.size() > 1)
    candidates_.front().name += ", the first of " + std::to_string(candidates_.size());
  deviceCount = static_cast<std::uint32_t>(candidates_.size());
  error_.clear();
  return kOk;
}

Status AutoAdapter::failOpen(Status status, std::string reason) {
  error_ = std::move(reason);
  return status;
}

void AutoAdapter::closeOpened() {
  if (open_) open_->close(handle_);
  open_ = nullptr;
  handle_ = nullptr;
  taken_.clear();
  serial_.reset();
}

Status AutoAdapter::open(int deviceIndex, Handle& handle) {
  handle = nullptr;
  closeOpened();
  if (stage_ == Stage::None) {
    if (error_.empty()) {
      std::uint32_t count = 0;
      listDevices({}, count);
    }
    if (stage_ == Stage::None) return failOpen(kDeviceNotFound, error_);
  }
  if (deviceIndex < 0 || static_cast<std::size_t>(deviceIndex) >= candidates_.size())
    return failOpen(kDeviceNotFound, "no FTDI adapter number " + std::to_string(deviceIndex));
  const Candidate& c = candidates_[static_cast<std::size_t>(deviceIndex)];
  Adapter* backend = nullptr;
  if (stage_ == Stage::Serial) {
    std::string why;
    serial_ = sources_.serial(c.path, why);
    if (!serial_) return failOpen(kDeviceNotFound, c.name + " cannot be used: " + why);
    backend = serial_.get();
  } else {
    backend = stage_ == Stage::Ftdi ? ftdi_.get() : d2xx_.get();
  }
  Handle h = nullptr;
  if (const Status st = backend->open(c.index, h); st != kOk) {
    std::string why = backend->lastError();
    serial_.reset();
    return failOpen(st, "the FTDI adapter found, " + c.name + ", did not open: " + why);
  }
  open_ = backend;
  handle_ = h;
  handle = h;
  taken_ = c.name;
  error_.clear();
  return kOk;
}

Adapter* AutoAdapter::opened(Handle handle) { return open_ && handle == handle_ ? open_ : nullptr; }

Status AutoAdapter::close(Handle handle) {
  if (!opened(handle)) return kInvalidHandle;
  const Status st = open_->close(handle);
  open_ = nullptr;
  handle_ = nullptr;
  taken_.clear();
  serial_.reset();
  return st;
}

Status AutoAdapter::read(Handle handle, std::uint8_t* buffer, std::uint32_t count,
                         std::uint32_t& bytesRead) {
  bytesRead = 0;
  Adapter* a = opened(handle);
  return a ? a->read(handle, buffer, count, bytesRead) : kInvalidHandle;
}

Status AutoAdapter::write(Handle handle, const std::uint8_t* buffer, std::uint32_t count,
                          std::uint32_t& bytesWritten) {
  bytesWritten = 0;
  Adapter* a = opened(handle);
  return a ? a->write(handle, buffer, count, bytesWritten) : kInvalidHandle;
}

Status AutoAdapter::resetDevice(Handle handle) {
  Adapter* a = opened(handle);
  return a ? a->resetDevice(handle) : kInvalidHandle;
}

Status AutoAdapter::setBaudRate(Handle handle, std::uint32_t baud) {
  Adapter* a = opened(handle);
  return a ? a->setBaudRate(handle, baud) : kInvalidHandle;
}

Status AutoAdapter::setDataCharacteristics(Handle handle, std::uint8_t wordLength,
                                           std::uint8_t stopBits, std::uint8_t parity) {
  Adapter* a = opened(handle);
  return a ? a->setDataCharacteristics(handle, wordLength, stopBits, parity) : kInvalidHandle;
}

Status AutoAdapter::setFlowControl(Handle handle, std::uint16_t flow, std::uint8_t xon,
                                   std::uint8_t xoff) {
  Adapter* a = opened(handle);
  return a ? a->setFlowControl(handle, flow, xon, xoff) : kInvalidHandle;
}

Status AutoAdapter::setTimeouts(Handle handle, std::uint32_t readMs, std::uint32_t writeMs) {
  Adapter* a = opened(handle);
  return a ? a->setTimeouts(handle, readMs, writeMs) : kInvalidHandle;
}

Status AutoAdapter::getDeviceInfo(Handle handle, DeviceInfo& info) {
  Adapter* a = opened(handle);
  return a ? a->getDeviceInfo(handle, info) : kInvalidHandle;
}

Status AutoAdapter::setLatencyTimer(Handle handle, std::uint8_t ms) {
  Adapter* a = opened(handle);
  return a ? a->setLatencyTimer(handle, ms) : kInvalidHandle;
}

Status AutoAdapter::setEventCharacter(Handle handle, std::uint8_t ch, bool enable) {
  Adapter* a = opened(handle);
  return a ? a->setEventCharacter(handle, ch, enable) : kInvalidHandle;
}

Status AutoAdapter::getLatencyTimer(Handle handle, std::uint8_t& ms) {
  Adapter* a = opened(handle);
  return a ? a->getLatencyTimer(handle, ms) : kInvalidHandle;
}

Status AutoAdapter::queueStatus(Handle handle, std::uint32_t& bytesWaiting) {
  bytesWaiting = 0;
  Adapter* a = opened(handle);
  return a ? a->queueStatus(handle, bytesWaiting) : kInvalidHandle;
}

std::string AutoAdapter::lastError() const { return open_ ? open_->lastError() : error_; }

std::string AutoAdapter::backendName() const {
  return taken_.empty() ? std::string("auto") : "auto: " + taken_;
}

}  // namespace qubix::link::backends
