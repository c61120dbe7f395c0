#include "link/backends/serial/SerialAdapter.h"

#include <libserialport.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "link/backends/DeviceHolder.h"
#include "link/backends/Latency.h"

namespace qubix::link::backends {

namespace {

std::string baseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool pathExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// Device type codes in the vendor's numbering, from the chip's usual product id.
std::uint32_t deviceTypeFor(std::uint16_t productId) {
  switch (productId) {
    case 0x6001:
      return 5;  // 232R
    case 0x6010:
      return 6;  // 2232H
    case 0x6011:
      return 7;  // 4232H
    case 0x6014:
      return 8;  // 232H
    case 0x6015:
      return 9;  // X series
    default:
      return 3;  // unknown
  }
}

}  // namespace

std::string latencyTimerFile(const std::string& devicePath) {
  const std::string file = "/sys/class/tty/" + baseName(devicePath) + "/device/latency_timer";
  return pathExists(file) ? file : std::string{};
}

int readLatencyTimer(const std::string& devicePath) {
  const std::string file = latencyTimerFile(devicePath);
  if (file.empty()) return -1;
  std::ifstream in(file);
  int ms = -1;
  if (!(in >> ms)) return -1;
  return ms;
}

struct SerialAdapter::Port {
  sp_port* port = nullptr;
  PortInfo info;
  std::uint32_t readTimeoutMs = 0;  // 0 waits for the whole count, as the vendor's driver does
  std::uint32_t writeTimeoutMs = 0;
  int fd = -1;             // the descriptor libserialport opened
  bool exclusive = false;  // set by this port: given back on closing
  ~Port() {
    if (port) {
      // The flag stays with the terminal (a pseudo-terminal outlives its user), so the one who
      // set it clears it; the lock goes with the descriptor.
      if (exclusive) ::ioctl(fd, TIOCNXCL);
      sp_close(port);
      sp_free_port(port);
    }
  }
};

namespace {

std::string spError(const char* what) {
  char* message = sp_last_error_message();
  std::string text = std::string(what) + ": " + (message ? message : "unknown error");
  sp_free_error_message(message);
  return text;
}

PortInfo describe(sp_port* port) {
  PortInfo info;
  info.path = sp_get_port_name(port);
  if (sp_get_port_transport(port) == SP_TRANSPORT_USB) {
    int vid = 0, pid = 0;
    if (sp_get_port_usb_vid_pid(port, &vid, &pid) == SP_OK) {
      info.vendorId = static_cast<std::uint16_t>(vid);
      info.productId = static_cast<std::uint16_t>(pid);
    }
    if (const char* product = sp_get_port_usb_product(port)) info.description = product;
    if (const char* serial = sp_get_port_usb_serial(port)) info.serialNumber = serial;
  } else if (const char* text = sp_get_port_description(port)) {
    info.description = text;
  }
  info.latencyTimerMs = readLatencyTimer(info.path);
  return info;
}

}  // namespace

bool SerialAdapter::compiledIn() { return true; }

BackendReport SerialAdapter::probe() {
  BackendReport report;
  report.backend = "serial";
  sp_port** ports = nullptr;
  if (sp_list_ports(&ports) != SP_OK) {
    report.reason = spError("cannot list serial ports");
    return report;
  }
  report.available = true;
  for (sp_port** p = ports; *p; ++p) {
    PortInfo info = describe(*p);
    if (info.vendorId == kFtdiVendorId) report.ports.push_back(std::move(info));
  }
  sp_free_port_list(ports);
  // The system lists in no particular order; "the first port" is ttyUSB0 before ttyUSB1 ...
  // before ttyUSB10.
  std::sort(report.ports.begin(), report.ports.end(), [](const PortInfo& a, const PortInfo& b) {
    return a.path.size() != b.path.size() ? a.path.size() < b.path.size() : a.path < b.path;
  });
  return report;
}

SerialAdapter::SerialAdapter(std::string device) : device_(std::move(device)), port_("serial") {}
SerialAdapter::~SerialAdapter() = default;

Status SerialAdapter::fail(Status status, std::string reason) {
  return port_.fail(status, std::move(reason));
}

SerialAdapter::Port* SerialAdapter::check(Handle handle) { return port_.check(handle); }

std::vector<PortInfo> SerialAdapter::candidates(std::string& reason) const {
  if (!device_.empty()) {
    sp_port* port = nullptr;
    if (sp_get_port_by_name(device_.c_str(), &port) != SP_OK) {
      reason = spError(("serial: no port " + device_).c_str());
      // libserialport only knows ports that have a /sys/class/tty entry; a pseudo-terminal that
      // does not exist at all is not the interposer's fault.
      struct stat info {};
      if (::stat(device_.c_str(), &info) != 0)
        reason += " (" + device_ + " does not exist)";
      else if (device_.rfind("/dev/pts/", 0) == 0)
        reason +=
            " (a pseudo-terminal: start the program with the pseudo-terminal interposer "
            "preloaded, see \"Real hardware\" in the README)";
      return {};
    }
    std::vector<PortInfo> one{describe(port)};
    sp_free_port(port);
    return one;
  }
  BackendReport report = probe();
  if (!report.available) reason = "serial: " + report.reason;
  return report.ports;
}

Status SerialAdapter::listDevices(std::span<Description> slots, std::uint32_t& deviceCount) {
  std::string reason;
  const std::vector<PortInfo> ports = candidates(reason);
  deviceCount = static_cast<std::uint32_t>(ports.size());
  for (std::size_t i = 0; i < slots.size() && i < ports.size(); ++i)
    copyText(ports[i].description, slots[i]);
  if (!reason.empty()) return fail(kDeviceNotFound, reason);
  if (ports.empty()) port_.error = "serial: no USB serial port of an FTDI adapter (vendor 0403)";
  return kOk;
}

Status SerialAdapter::open(int deviceIndex, Handle& handle) {
  handle = nullptr;
  port_.reset();  // a reconnect must not leave the old port open and locked
  std::string reason;
  const std::vector<PortInfo> ports = candidates(reason);
  if (deviceIndex < 0 || static_cast<std::size_t>(deviceIndex) >= ports.size())
    return fail(kDeviceNotFound,
                reason.empty() ? (device_.empty() ? "serial: no USB serial port of an FTDI "
                                                    "adapter (vendor 0403)"
                                                  : "serial: device " + device_ + " not found")
                               : reason);
  auto port = std::make_unique<Port>();
  port->info = ports[static_cast<std::size_t>(deviceIndex)];
  if (sp_get_port_by_name(port->info.path.c_str(), &port->port) != SP_OK)
    return fail(kDeviceNotFound, spError(("serial: no port " + port->info.path).c_str()));
  if (sp_open(port->port, SP_MODE_READ_WRITE) != SP_OK) {
    const int err = errno;
    const std::string why = spError(("serial: cannot open " + port->info.path).c_str());
    sp_free_port(port->port);
    port->port = nullptr;
    // Another program set the port exclusive (a user without CAP_SYS_ADMIN is refused).
    if (err == EBUSY) return fail(kDeviceNotOpened, "serial: " + inUseText(port->info.path));
    return fail(kDeviceNotOpened,
                err == EACCES ? why + " (is the user in the dialout group?)" : why);
  }
  // One program per adapter: an advisory lock that every opener of ours takes (and serial
  // programs on Linux commonly do), and the terminal's exclusive mode against any other opener
  // that is not root. Two programs on one bus would each select machines under the other.
  if (sp_get_port_handle(port->port, &port->fd) == SP_OK && port->fd >= 0) {
    if (::flock(port->fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
      return fail(kDeviceNotOpened, "serial: " + inUseText(port->info.path, port->fd));
    port->exclusive = ::ioctl(port->fd, TIOCEXCL) == 0;
  }
  const std::string path = port->info.path;
  handle = port_.adopt(std::move(port));
  // Best effort: without write access to sysfs the timer stays as the udev rule left it.
  if (!latencyTimerFile(path).empty()) setLatencyTimer(handle, kLatencyTimerMs);
  return kOk;
}

Status SerialAdapter::close(Handle handle) { return port_.close(handle); }

Status SerialAdapter::read(Handle handle, std::uint8_t* buffer, std::uint32_t count,
                           std::uint32_t& bytesRead) {
  bytesRead = 0;
  Port* p = check(handle);
  if (!p) return kInvalidHandle;
  if (count == 0) return kOk;
  // Waits for the whole count or the read time-out, whichever comes first, like the vendor's
  // read: a short result is a time-out, not an error.
  const sp_return got = sp_blocking_read(p->port, buffer, count, p->readTimeoutMs);
  if (got < 0) return fail(kIoError, spError(("serial: read from " + p->info.path).c_str()));
  bytesRead = static_cast<std::uint32_t>(got);
  return kOk;
}

// What the kernel driver holds received (FIONREAD through libserialport), without waiting.
Status SerialAdapter::queueStatus(Handle handle, std::uint32_t& bytesWaiting) {
  bytesWaiting = 0;
  Port* p = check(handle);
  if (!p) return kInvalidHandle;
  const sp_return waiting = sp_input_waiting(p->port);
  if (waiting < 0)
    return fail(kIoError, spError(("serial: input waiting on " + p->info.path).c_str()));
  bytesWaiting = static_cast<std::uint32_t>(waiting);
  return kOk;
}

Status SerialAdapter::write(Handle handle, const std::uint8_t* buffer, std::uint32_t count,
                            std::uint32_t& bytesWritten) {
  bytesWritten = 0;
  Port* p = check(handle);
  if (!p) return kInvalidHandle;
  if (count == 0) return kOk;
  const sp_return put = sp_blocking_write(p->port, buffer, count, p->writeTimeoutMs);
  if (put < 0) return fail(kIoError, spError(("serial: write to " + p->info.path).c_str()));
  bytesWritten = static_cast<std::uint32_t>(put);
  return kOk;
}

Status SerialAdapter::resetDevice(Handle handle) {
  Port* p = check(handle);
  if (!p) return kInvalidHandle;
  if (sp_flush(p->port, SP_BUF_BOTH) != SP_OK) return fail(kIoError, spError("serial: flush"));
  return kOk;
}

Status SerialAdapter::setBaudRate(Handle handle, std::uint32_t baud) {
  Port* p = check(handle);
  if (!p) return kInvalidHandle;
  if (sp_set_baudrate(p->port, static_cast<int>(baud)) != SP_OK)
    return fail(kInvalidParameter, spError("serial: baud rate"));
  return kOk;
}

Status SerialAdapter::setDataCharacteristics(Handle handle, std::uint8_t wordLength,
                                             std::uint8_t stopBits, std::uint8_t parity) {
  Port* p = check(handle);
  if (!p) return kInvalidHandle;
  static constexpr sp_parity kParity[] = {SP_PARITY_NONE, SP_PARITY_ODD, SP_PARITY_EVEN,
                                          SP_PARITY_MARK, SP_PARITY_SPACE};
  if (!supportedDataCharacteristics(wordLength, stopBits, parity))
    return fail(kInvalidParameter, "serial: unsupported data characteristics");
  if (sp_set_bits(p->port, wordLength) != SP_OK ||
      sp_set_stopbits(p->port, stopBits == 0 ? 1 : 2) != SP_OK ||
      sp_set_parity(p->port, kParity[parity]) != SP_OK)
    return fail(kInvalidParameter, spError("serial: data characteristics"));
  return kOk;
}

Status SerialAdapter::setFlowControl(Handle handle, std::uint16_t flow, std::uint8_t xon,
                                     std::uint8_t xoff) {
  Port* p = check(handle);
  if (!p) return kInvalidHandle;
  (void)xon;  // the kernel driver uses the standard XON/XOFF characters
  (void)xoff;
  sp_flowcontrol mode = SP_FLOWCONTROL_NONE;
  switch (flow) {
    case 0x0000:
      mode = SP_FLOWCONTROL_NONE;
      break;
    case 0x0100:
      mode = SP_FLOWCONTROL_RTSCTS;
      break;
    case 0x0200:
      mode = SP_FLOWCONTROL_DTRDSR;
      break;
    case 0x0400:
      mode = SP_FLOWCONTROL_XONXOFF;
      break;
    default:
      return fail(kInvalidParameter, "serial: unsupported flow control");
  }
  if (sp_set_flowcontrol(p->port, mode) != SP_OK)
    return fail(kInvalidParameter, spError("serial: flow control"));
  return kOk;
}

Status SerialAdapter::setTimeouts(Handle handle, std::uint32_t readMs, std::uint32_t writeMs) {
  Port* p = check(handle);
  if (!p) return kInvalidHandle;
  p->readTimeoutMs = readMs;
  p->writeTimeoutMs = writeMs;
  return kOk;
}

Status SerialAdapter::getDeviceInfo(Handle handle, DeviceInfo& info) {
  Port* p = check(handle);
  if (!p) return kInvalidHandle;
  // An unplugged USB adapter takes its device node with it.
  if (!pathExists(p->info.path))
    return fail(kDeviceNotFound, "serial: " + p->info.path + " is gone");
  info.type = deviceTypeFor(p->info.productId);
  info.id = (std::uint32_t{p->info.vendorId} << 16) | p->info.productId;
  copyText(p->info.serialNumber, info.serialNumber);
  copyText(p->info.description, info.description);
  return kOk;
}

Status SerialAdapter::setLatencyTimer(Handle handle, std::uint8_t ms) {
  Port* p = check(handle);
  if (!p) return kInvalidHandle;
  const std::string file = latencyTimerFile(p->info.path);
  if (file.empty()) return fail(kNotSupported, "serial: " + p->info.path + " has no latency timer");
  std::ofstream out(file);
  out << int{ms} << '\n';
  out.flush();
  if (!out) {
    return fail(kNotSupported, "serial: cannot write " + file + " (it stays at " +
                                   std::to_string(readLatencyTimer(p->info.path)) +
                                   " ms; the udev rule sets it at plug-in)");
  }
  p->info.latencyTimerMs = ms;
  return kOk;
}

Status SerialAdapter::getLatencyTimer(Handle handle, std::uint8_t& ms) {
  Port* p = check(handle);
  if (!p) return kInvalidHandle;
  const int value = readLatencyTimer(p->info.path);
  if (value < 0) return fail(kNotSupported, "serial: " + p->info.path + " has no latency timer");
  ms = static_cast<std::uint8_t>(value);
  return kOk;
}

std::unique_ptr<Adapter> makeSerialAdapter(std::string device, std::string& reason) {
  reason.clear();
  return std::make_unique<SerialAdapter>(std::move(device));
}

}  // namespace qubix::link::backends
