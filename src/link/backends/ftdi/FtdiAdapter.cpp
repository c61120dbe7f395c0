#include "link/backends/ftdi/FtdiAdapter.h"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <thread>

#include "link/backends/DeviceHolder.h"
#include "link/backends/Latency.h"

namespace qubix::link::backends {

namespace {

// ftdi_usb_open_dev's answer when the interface cannot be claimed.
constexpr int kClaimFailed = -5;

struct ContextDeleter {
  void operator()(ftdi_context* ctx) const { ftdi_free(ctx); }
};
using Context = std::unique_ptr<ftdi_context, ContextDeleter>;

struct Found {
  PortInfo info;
  libusb_device* dev = nullptr;  // referenced while the list lives
  std::vector<int> place;        // bus number, then the port numbers from the root hub
  std::string node;              // the device node under /dev/bus/usb
};

// Where the chip is plugged in: the same for the same socket, whatever order the system lists
// devices in and whatever address it gave this time.
std::vector<int> placeOf(libusb_device* dev) {
  std::vector<int> place{libusb_get_bus_number(dev)};
  std::uint8_t ports[8] = {};
  const int n = libusb_get_port_numbers(dev, ports, sizeof ports);
  for (int i = 0; i < n; ++i) place.push_back(ports[i]);
  return place;
}

std::string usbNode(libusb_device* dev) {
  char path[32];
  std::snprintf(path, sizeof path, "/dev/bus/usb/%03d/%03d", libusb_get_bus_number(dev),
                libusb_get_device_address(dev));
  return path;
}

// Lists the chips with the vendor's usual ids (0403:6001/6010/6011/6014/6015); the strings need
// the device opened briefly, which fails without permission: that is noted, not fatal.
std::vector<Found> listChips(ftdi_context* ctx, ftdi_device_list*& list, std::string& reason) {
  list = nullptr;
  std::vector<Found> found;
  const int n = ftdi_usb_find_all(ctx, &list, 0, 0);
  if (n < 0) {
    reason = std::string("cannot list USB devices: ") + ftdi_get_error_string(ctx);
    return found;
  }
  for (ftdi_device_list* d = list; d; d = d->next) {
    Found f;
    f.dev = d->dev;
    libusb_device_descriptor desc{};
    if (libusb_get_device_descriptor(d->dev, &desc) == 0) {
      f.info.vendorId = desc.idVendor;
      f.info.productId = desc.idProduct;
    }
    f.info.path = "usb " + std::to_string(libusb_get_bus_number(d->dev)) + ":" +
                  std::to_string(libusb_get_device_address(d->dev));
    f.place = placeOf(d->dev);
    f.node = usbNode(d->dev);
    char product[128] = {};
    char serial[64] = {};
    if (ftdi_usb_get_strings2(ctx, d->dev, nullptr, 0, product, sizeof product, serial,
                              sizeof serial) == 0) {
      f.info.description = product;
      f.info.serialNumber = serial;
    } else {
      f.info.note = std::string("strings unreadable: ") + ftdi_get_error_string(ctx);
    }
    found.push_back(std::move(f));
  }
  // The first chip is the one in the lowest bus and socket.
  std::stable_sort(found.begin(), found.end(),
                   [](const Found& a, const Found& b) { return a.place < b.place; });
  return found;
}

}  // namespace

struct FtdiAdapter::Device {
  Context ctx;
  PortInfo info;
  std::uint32_t readTimeoutMs = 0;
  // Bytes a queue query took from the chip ahead of the reader, for the next read.
  std::deque<std::uint8_t> held;
  ~Device() {
    if (ctx) ftdi_usb_close(ctx.get());
  }
};

bool FtdiAdapter::compiledIn() { return true; }

BackendReport FtdiAdapter::probe() {
  BackendReport report;
  report.backend = "ftdi";
  Context ctx(ftdi_new());
  if (!ctx) {
    report.reason = "cannot start libftdi (libusb unavailable)";
    return report;
  }
  ftdi_device_list* list = nullptr;
  std::string reason;
  std::vector<Found> chips = listChips(ctx.get(), list, reason);
  if (!reason.empty()) {
    report.reason = reason;
  } else {
    report.available = true;
    // Looking must not take a chip away from the kernel's serial driver.
    ctx->module_detach_mode = DONT_DETACH_SIO_MODULE;
    for (Found& f : chips) {
      // The latency timer can only be read from an opened chip.
      if (ftdi_usb_open_dev(ctx.get(), f.dev) == 0) {
        unsigned char ms = 0;
        if (ftdi_get_latency_timer(ctx.get(), &ms) == 0) f.info.latencyTimerMs = ms;
        ftdi_usb_close(ctx.get());
      } else if (f.info.note.empty()) {
        f.info.note = "in use (by the kernel's serial driver: see serial:) or not permitted";
      }
      report.ports.push_back(std::move(f.info));
    }
  }
  ftdi_list_free(&list);
  return report;
}

ReadClock steadyReadClock() {
  const auto start = std::chrono::steady_clock::now();
  return {
      [start] {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count();
      },
      [] { std::this_thread::sleep_for(std::chrono::microseconds(250)); }};
}

FtdiAdapter::FtdiAdapter(std::string description, ReadClock clock)
    : description_(std::move(description)), clock_(std::move(clock)), device_("ftdi") {}
FtdiAdapter::~FtdiAdapter() = default;

Status FtdiAdapter::fail(Status status, std::string reason) {
  return device_.fail(status, "ftdi: " + std::move(reason));
}

FtdiAdapter::Device* FtdiAdapter::check(Handle handle) { return device_.check(handle); }

Status FtdiAdapter::listDevices(std::span<Description> slots, std::uint32_t& deviceCount) {
  deviceCount = 0;
  Context ctx(ftdi_new());
  if (!ctx) return fail(kDeviceNotFound, "cannot start libftdi (libusb unavailable)");
  ftdi_device_list* list = nullptr;
  std::string reason;
  std::vector<Found> chips = listChips(ctx.get(), list, reason);
  ftdi_list_free(&list);
  if (!reason.empty()) return fail(kDeviceNotFound, reason);
  std::size_t n = 0;
  for (const Found& f : chips) {
    if (!description_.empty() && f.info.description != description_) continue;
    if (n < slots.size()) copyText(f.info.description, slots[n]);
    ++n;
  }
  deviceCount = static_cast<std::uint32_t>(n);
  if (n == 0)
    device_.error = description_.empty() ? "ftdi: no FTDI chip on the USB"
                                         : "ftdi: no FTDI chip named \"" + description_ + "\"";
  return kOk;
}

Status FtdiAdapter::open(int deviceIndex, Handle& handle) {
  handle = nullptr;
  device_.reset();  // a reconnect releases the old interface first
  auto device = std::make_unique<Device>();
  device->ctx.reset(ftdi_new());
  if (!device->ctx) return fail(kDeviceNotFound, "cannot start libftdi (libusb unavailable)");
  ftdi_device_list* list = nullptr;
  std::string reason;
  std::vector<Found> chips = listChips(device->ctx.get(), list, reason);
  if (!reason.empty()) {
    ftdi_list_free(&list);
    return fail(kDeviceNotFound, reason);
  }
  const Found* chosen = nullptr;
  int index = 0;
  for (const Found& f : chips) {
    if (!description_.empty() && f.info.description != description_) continue;
    if (index++ == deviceIndex) {
      chosen = &f;
      break;
    }
  }
  if (!chosen) {
    ftdi_list_free(&list);
    return fail(kDeviceNotFound, description_.empty()
                                     ? "no FTDI chip on the USB"
                                     : "no FTDI chip named \"" + description_ + "\"");
  }
  const int rc = ftdi_usb_open_dev(device->ctx.get(), chosen->dev);
  device->info = chosen->info;
  const std::string node = chosen->node;
  ftdi_list_free(&list);
  if (rc == kClaimFailed) {
    // The claim of the chip's interface is exclusive: another program (through libftdi or the
    // vendor's library) holds it, or a kernel driver that cannot be detached does.
    device->ctx.reset();
    const std::string holder = deviceHolder(node);
    return fail(kDeviceNotOpened,
                device->info.path + " is in use by " +
                    (holder.empty() ? "another program (its USB interface is claimed)" : holder));
  }
  if (rc < 0) {
    const std::string why = ftdi_get_error_string(device->ctx.get());
    device->ctx.reset();  // never opened: nothing to close
    return fail(kDeviceNotOpened,
                "cannot open " + device->info.path + ": " + why +
                    " (is the udev rule installed and the user in the dialout group?)");
  }
  handle = device_.adopt(std::move(device));
  // Failures here only cost speed; lastError() keeps the reason for diagnostics.
  setLatencyTimer(handle, kLatencyTimerMs);
  setEventCharacter(handle, kEventCharacter, true);
  return kOk;
}

Status FtdiAdapter::close(Handle handle) { return device_.close(handle); }

Status FtdiAdapter::read(Handle handle, std::uint8_t* buffer, std::uint32_t count,
                         std::uint32_t& bytesRead) {
  bytesRead = 0;
  Device* d = check(handle);
  if (!d) return kInvalidHandle;
  // libftdi returns what the chip has sent so far (each call waits at most one latency
  // period); loop until the count is there or the read time-out has run out.
  for (; bytesRead < count && !d->held.empty(); d->held.pop_front())
    buffer[bytesRead++] = d->held.front();
  const bool forever = d->readTimeoutMs == 0;
  const double deadline = clock_.nowMs() + d->readTimeoutMs;
  while (bytesRead < count) {
    const int got =
        ftdi_read_data(d->ctx.get(), buffer + bytesRead, static_cast<int>(count - bytesRead));
    if (got < 0) return fail(kIoError, std::string("read: ") + ftdi_get_error_string(d->ctx.get()));
    bytesRead += static_cast<std::uint32_t>(got);
    if (!forever && clock_.nowMs() >= deadline) break;
    if (got == 0) clock_.pause();
  }
  return kOk;
}

// What libftdi's read buffer holds, and what the chip holds: the chip's buffer is seen only by
// reading, which returns within one latency period (time of the PC, not of the line) with what
// it has; those bytes are kept for the next read.
Status FtdiAdapter::queueStatus(Handle handle, std::uint32_t& bytesWaiting) {
  bytesWaiting = 0;
  Device* d = check(handle);
  if (!d) return kInvalidHandle;
  if (d->held.empty()) {
    std::uint8_t chunk[64];
    const int got = ftdi_read_data(d->ctx.get(), chunk, static_cast<int>(sizeof chunk));
    if (got < 0)
      return fail(kIoError, std::string("queue: ") + ftdi_get_error_string(d->ctx.get()));
    d->held.insert(d->held.end(), chunk, chunk + got);
  }
  bytesWaiting =
      static_cast<std::uint32_t>(d->held.size()) +
      static_cast<std::uint32_t>(std::max(0, static_cast<int>(d->ctx->readbuffer_remaining)));
  return kOk;
}

Status FtdiAdapter::write(Handle handle, const std::uint8_t* buffer, std::uint32_t count,
                          std::uint32_t& bytesWritten) {
  bytesWritten = 0;
  Device* d = check(handle);
  if (!d) return kInvalidHandle;
  if (count == 0) return kOk;
  const int put = ftdi_write_data(d->ctx.get(), buffer, static_cast<int>(count));
  if (put < 0) return fail(kIoError, std::string("write: ") + ftdi_get_error_string(d->ctx.get()));
  bytesWritten = static_cast<std::uint32_t>(put);
  return kOk;
}

Status FtdiAdapter::resetDevice(Handle handle) {
  Device* d = check(handle);
  if (!d) return kInvalidHandle;
  d->held.clear();
  if (ftdi_usb_reset(d->ctx.get()) < 0 || ftdi_tcioflush(d->ctx.get()) < 0)
    return fail(kIoError, std::string("reset: ") + ftdi_get_error_string(d->ctx.get()));
  return kOk;
}

Status FtdiAdapter::setBaudRate(Handle handle, std::uint32_t baud) {
  Device* d = check(handle);
  if (!d) return kInvalidHandle;
  if (ftdi_set_baudrate(d->ctx.get(), static_cast<int>(baud)) < 0)
    return fail(kInvalidParameter,
                std::string("baud rate: ") + ftdi_get_error_string(d->ctx.get()));
  return kOk;
}

Status FtdiAdapter::setDataCharacteristics(Handle handle, std::uint8_t wordLength,
                                           std::uint8_t stopBits, std::uint8_t parity) {
  Device* d = check(handle);
  if (!d) return kInvalidHandle;
  if (!supportedDataCharacteristics(wordLength, stopBits, parity))
    return fail(kInvalidParameter, "unsupported data characteristics");
  if (ftdi_set_line_property(d->ctx.get(), static_cast<ftdi_bits_type>(wordLength),
                             stopBits == 0 ? STOP_BIT_1 : STOP_BIT_2,
                             static_cast<ftdi_parity_type>(parity)) < 0)
    return fail(kInvalidParameter,
                std::string("data characteristics: ") + ftdi_get_error_string(d->ctx.get()));
  return kOk;
}

Status FtdiAdapter::setFlowControl(Handle handle, std::uint16_t flow, std::uint8_t xon,
                                   std::uint8_t xoff) {
  Device* d = check(handle);
  if (!d) return kInvalidHandle;
  int rc = 0;
  if (flow == SIO_XON_XOFF_HS)
    rc = ftdi_setflowctrl_xonxoff(d->ctx.get(), xon, xoff);
  else if (flow == SIO_DISABLE_FLOW_CTRL || flow == SIO_RTS_CTS_HS || flow == SIO_DTR_DSR_HS)
    rc = ftdi_setflowctrl(d->ctx.get(), flow);
  else
    return fail(kInvalidParameter, "unsupported flow control");
  if (rc < 0)
    return fail(kInvalidParameter,
                std::string("flow control: ") + ftdi_get_error_string(d->ctx.get()));
  return kOk;
}

Status FtdiAdapter::setTimeouts(Handle handle, std::uint32_t readMs, std::uint32_t writeMs) {
  Device* d = check(handle);
  if (!d) return kInvalidHandle;
  d->readTimeoutMs = readMs;
  // One USB transfer never outlasts the read time-out by more than a latency period or two.
  d->ctx->usb_read_timeout = readMs == 0 ? 5000 : static_cast<int>(readMs) + 50;
  d->ctx->usb_write_timeout = writeMs == 0 ? 5000 : static_cast<int>(writeMs);
  return kOk;
}

Status FtdiAdapter::getDeviceInfo(Handle handle, DeviceInfo& info) {
  Device* d = check(handle);
  if (!d) return kInvalidHandle;
  // A control transfer to the chip: fails once the adapter is unplugged.
  unsigned short modem = 0;
  if (ftdi_poll_modem_status(d->ctx.get(), &modem) < 0)
    return fail(kDeviceNotFound,
                std::string("adapter gone: ") + ftdi_get_error_string(d->ctx.get()));
  static constexpr std::uint32_t kTypes[] = {1, 0, 4, 5, 6, 7, 8, 9};  // by libftdi's chip type
  const auto chip = static_cast<std::size_t>(d->ctx->type);
  info.type = chip < std::size(kTypes) ? kTypes[chip] : 3;
  info.id = (std::uint32_t{d->info.vendorId} << 16) | d->info.productId;
  copyText(d->info.serialNumber, info.serialNumber);
  copyText(d->info.description, info.description);
  return kOk;
}

Status FtdiAdapter::setLatencyTimer(Handle handle, std::uint8_t ms) {
  Device* d = check(handle);
  if (!d) return kInvalidHandle;
  if (ftdi_set_latency_timer(d->ctx.get(), ms) < 0)
    return fail(kInvalidParameter,
                std::string("latency timer: ") + ftdi_get_error_string(d->ctx.get()));
  return kOk;
}

Status FtdiAdapter::setEventCharacter(Handle handle, std::uint8_t ch, bool enable) {
  Device* d = check(handle);
  if (!d) return kInvalidHandle;
  if (ftdi_set_event_char(d->ctx.get(), ch, enable ? 1 : 0) < 0)
    return fail(kNotSupported,
                std::string("event character: ") + ftdi_get_error_string(d->ctx.get()));
  return kOk;
}

Status FtdiAdapter::getLatencyTimer(Handle handle, std::uint8_t& ms) {
  Device* d = check(handle);
  if (!d) return kInvalidHandle;
  unsigned char value = 0;
  if (ftdi_get_latency_timer(d->ctx.get(), &value) < 0)
    return fail(kIoError, std::string("latency timer: ") + ftdi_get_error_string(d->ctx.get()));
  ms = value;
  return kOk;
}

std::unique_ptr<Adapter> makeFtdiAdapter(std::string description, std::string& reason) {
  reason.clear();
  return std::make_unique<FtdiAdapter>(std::move(description));
}

}  // namespace qubix::link::backends
