// A stand-in for the libusb functions libftdi calls, built by the tests as
// libqubix_usbstandin.so: one emulated FT232R (0403:6001) on the list, answering the vendor
// control requests, taking bulk OUT bytes onto the simulated bus and sending bulk IN packets
// that start with the chip's two status bytes, with received bytes held by the chip timing
// model of src/sim. The asynchronous calls answer "not supported": libftdi's synchronous reads
// and writes never use them.
//
// Preloaded into qubix24ctl it runs on the real clock (a bulk IN really waits for the chip's
// next packet); QUBIX_USB_STANDIN_FAULT=denied|driver|claimed|silent|absent gives it the usual
// set-up faults (no permission, the kernel driver bound, another program's claim, nothing
// answering on the bus, no chip plugged in).
#include <libusb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>

#include "UsbStandIn.h"

using qubix::sim::ChipByte;
using qubix::sim::ClockMode;
using qubix::sim::FtdiTiming;
using qubix::sim::SimBus;
using qubix::sim::SimClock;
using qubix::test::ChipSetup;
using qubix::test::ControlRequest;

struct libusb_device {
  std::uint64_t generation = 0;
  int refs = 0;
};

struct libusb_device_handle {
  libusb_device* device = nullptr;
};

namespace {

constexpr std::uint8_t kModemStatus = 0x01;  // no modem lines up; the low nibble is always 1
constexpr std::uint8_t kLineStatus = 0x60;   // transmitter empty
constexpr int kPacketSize = 64;
constexpr double kBaseClockHz = 3000000.0;

class Ft232r final : public qubix::test::EmulatedChip {
 public:
  Ft232r() {
    const char* mode = std::getenv("QUBIX_USB_STANDIN_CLOCK");
    restart(qubix::sim::makeDemoBus(),
            mode && std::strcmp(mode, "virtual") == 0 ? ClockMode::Virtual : ClockMode::Real);
    if (const char* fault = std::getenv("QUBIX_USB_STANDIN_FAULT")) {
      if (std::strcmp(fault, "silent") == 0) bus_ = std::make_shared<SimBus>();
      setup_.openDenied = std::strcmp(fault, "denied") == 0;
      setup_.kernelDriverBound = std::strcmp(fault, "driver") == 0;
      setup_.claimedElsewhere = std::strcmp(fault, "claimed") == 0;
      if (std::strcmp(fault, "absent") == 0) plugged_ = false;
    }
  }

  void restart(std::shared_ptr<SimBus> bus, ClockMode mode) override {
    bus_ = std::move(bus);
    clock_ = std::make_unique<SimClock>(mode);
    timing_ = FtdiTiming{};
    latencyMs_ = 16;
    baudValue_ = 0x4138;  // 9600 baud, as after power-up
    baudIndex_ = 0;
    dataValue_ = 0x0008;
    setup_ = ChipSetup{};
    clearLog();
    unplugAt_.reset();
    unplugAfter_.reset();
    plugIn();
  }
  ChipSetup& setup() override { return setup_; }
  SimBus& bus() override { return *bus_; }
  SimClock& clock() override { return *clock_; }
  const FtdiTiming& timing() const override { return timing_; }
  const std::vector<ControlRequest>& controlRequests() const override { return requests_; }
  const std::vector<std::string>& inPackets() const override { return inPackets_; }
  void clearLog() override {
    requests_.clear();
    inPackets_.clear();
  }

  double baudRate() const override {
    static constexpr double kFractions[8] = {0, 0.5, 0.25, 0.125, 0.375, 0.625, 0.75, 0.875};
    const int divisor = baudValue_ & 0x3fff;
    const int fraction = (baudValue_ >> 14) | ((baudIndex_ & 1) << 2);
    if (fraction == 0 && divisor == 0) return kBaseClockHz;
    if (fraction == 0 && divisor == 1) return kBaseClockHz * 2 / 3;
    return kBaseClockHz / (divisor + kFractions[fraction]);
  }
  bool eightNOne() const override { return dataValue_ == 0x0008; }

  void unplugAtMs(double atMs) override { unplugAt_ = atMs; }
  void unplugAfterBytes(std::uint64_t count) override { unplugAfter_ = count; }
  bool pluggedIn() const override { return plugged_; }
  void plugIn() override {
    devices_.push_back(libusb_device{++generation_, 1});
    plugged_ = true;
    unplugAt_.reset();
    unplugAfter_.reset();
  }

  // ---- what the exported functions call ----

  libusb_device* current() {
    checkUnplug(clock_->nowMs());
    return plugged_ ? &devices_.back() : nullptr;
  }
  bool alive(const libusb_device* device) {
    return current() != nullptr && device->generation == generation_;
  }

  int control(libusb_device_handle* h, std::uint8_t type, std::uint8_t request, std::uint16_t value,
              std::uint16_t index, unsigned char* data, std::uint16_t length) {
    if (!alive(h->device)) return LIBUSB_ERROR_NO_DEVICE;
    requests_.push_back({type, request, value, index, length});
    const bool in = (type & LIBUSB_ENDPOINT_IN) != 0;
    switch (request) {
      case 0x00:  // reset (0), purge the bytes bound for the line (1) or for the PC (2)
        if (value == 0 || value == 2) {
          bus_->dropPending();
          timing_.purge(clock_->nowMs());
        }
        return 0;
      case 0x01:  // modem control lines
      case 0x02:  // flow control
      case 0x07:  // error character
        return 0;
      case 0x03:
        baudValue_ = value;
        baudIndex_ = index;
        return 0;
      case 0x04:
        dataValue_ = value;
        return 0;
      case 0x05:
        if (!in || length < 2) return LIBUSB_ERROR_PIPE;
        data[0] = kModemStatus;
        data[1] = kLineStatus;
        return 2;
      case 0x06:
        timing_.setEventCharacter(static_cast<std::uint8_t>(value & 0xff), (value & 0x100) != 0);
        return 0;
      case 0x09:
        if ((value & 0xff) == 0) return LIBUSB_ERROR_PIPE;
        latencyMs_ = static_cast<std::uint8_t>(value & 0xff);
        timing_.setLatencyTimer(latencyMs_);
        return 0;
      case 0x0a:
        if (!in || length < 1) return LIBUSB_ERROR_PIPE;
        data[0] = latencyMs_;
        return 1;
      default:
        return LIBUSB_ERROR_PIPE;  // the chip stalls what it does not know
    }
  }

  // The PC's bytes leave one after the other at the line's pace; the transfer ends when the last
  // is out. Sent at another rate or framing than the bus's, they reach the processors as noise,
  // which none of them takes for a frame.
  int bulkOut(libusb_device_handle* h, const unsigned char* data, int length, int* actual) {
    *actual = 0;
    if (!alive(h->device)) return LIBUSB_ERROR_NO_DEVICE;
    auto n = static_cast<std::uint64_t>(length);
    bool unplugNow = false;
    if (unplugAfter_) {
      if (*unplugAfter_ <= n) {
        n = *unplugAfter_;
        unplugNow = true;
      }
      *unplugAfter_ -= n;
    }
    const double byteMs = bus_->wire().byteMs();
    const double start = clock_->nowMs();
    const bool heard = eightNOne() && std::abs(baudRate() / bus_->wire().baud - 1.0) < 0.03;
    for (std::uint64_t i = 0; i < n && heard; ++i)
      bus_->hearByte(data[i], start + (i + 1) * byteMs);
    clock_->waitUntil(start + static_cast<double>(n) * byteMs);
    *actual = static_cast<int>(n);
    if (unplugNow) {
      unplug();
      return LIBUSB_ERROR_NO_DEVICE;
    }
    return 0;
  }

  // One bulk IN transfer: it ends with the chip's next packet - the bytes the timing model has
  // delivered by then, or at the timer's next expiry the status bytes alone.
  int bulkIn(libusb_device_handle* h, unsigned char* data, int length, int* actual,
             unsigned int timeoutMs) {
    *actual = 0;
    if (!alive(h->device)) return LIBUSB_ERROR_NO_DEVICE;
    const double start = clock_->nowMs();
    std::vector<ChipByte> waiting;
    for (const auto& p : bus_->pending()) waiting.push_back({p.byte, p.atMs});
    const std::vector<double> delivered = timing_.deliveries(waiting);
    double at = timing_.nextExpiry(start);
    if (!delivered.empty()) at = std::min(at, std::max(start, delivered.front()));
    if (unplugAt_ && *unplugAt_ <= at) {
      clock_->waitUntil(*unplugAt_);
      checkUnplug(clock_->nowMs());
      return LIBUSB_ERROR_NO_DEVICE;
    }
    if (timeoutMs != 0 && at - start > timeoutMs) {
      clock_->waitUntil(start + timeoutMs);
      return LIBUSB_ERROR_TIMEOUT;
    }
    clock_->waitUntil(at);
    const std::size_t room = static_cast<std::size_t>(length / kPacketSize) * (kPacketSize - 2);
    const auto ready = static_cast<std::size_t>(
        std::upper_bound(delivered.begin(), delivered.end(), at) - delivered.begin());
    const std::string bytes = bus_->take(std::min(ready, room), at);
    timing_.settle(waiting, bytes.size(), at);

    std::string sent;
    std::size_t from = 0;
    do {
      const std::size_t chunk = std::min<std::size_t>(bytes.size() - from, kPacketSize - 2);
      sent += static_cast<char>(kModemStatus);
      sent += static_cast<char>(kLineStatus);
      sent += bytes.substr(from, chunk);
      from += chunk;
    } while (from < bytes.size());
    std::memcpy(data, sent.data(), sent.size());
    *actual = static_cast<int>(sent.size());
    inPackets_.push_back(sent);
    return 0;
  }

  int open(libusb_device* device) {
    if (!alive(device)) return LIBUSB_ERROR_NO_DEVICE;
    return setup_.openDenied ? LIBUSB_ERROR_ACCESS : 0;
  }
  int detachKernelDriver() {
    // Another program's claim is no kernel driver: there is nothing to detach.
    if (!setup_.kernelDriverBound || setup_.claimedElsewhere) return LIBUSB_ERROR_NOT_FOUND;
    if (setup_.openDenied) return LIBUSB_ERROR_ACCESS;
    setup_.kernelDriverBound = false;
    return 0;
  }
  int claim(libusb_device_handle* h) {
    if (!alive(h->device)) return LIBUSB_ERROR_NO_DEVICE;
    return setup_.kernelDriverBound || setup_.claimedElsewhere ? LIBUSB_ERROR_BUSY : 0;
  }

 private:
  void unplug() {
    plugged_ = false;
    unplugAt_.reset();
    unplugAfter_.reset();
    bus_->dropPending();
  }
  void checkUnplug(double nowMs) {
    if (plugged_ && unplugAt_ && nowMs >= *unplugAt_) unplug();
  }

  std::shared_ptr<SimBus> bus_;
  std::unique_ptr<SimClock> clock_;
  FtdiTiming timing_;
  std::uint8_t latencyMs_ = 16;
  std::uint16_t baudValue_ = 0;
  std::uint16_t baudIndex_ = 0;
  std::uint16_t dataValue_ = 0;
  ChipSetup setup_;
  std::vector<ControlRequest> requests_;
  std::vector<std::string> inPackets_;
  std::deque<libusb_device> devices_;  // every plug-in is a new device; the old ones stay dead
  std::uint64_t generation_ = 0;
  bool plugged_ = false;
  std::optional<double> unplugAt_;
  std::optional<std::uint64_t> unplugAfter_;
};

Ft232r& chip() {
  static Ft232r instance;
  return instance;
}

// The descriptors of an FT232R: one configuration, one interface, two bulk endpoints.
const libusb_endpoint_descriptor kEndpoints[2] = {
    {7, LIBUSB_DT_ENDPOINT, 0x81, LIBUSB_TRANSFER_TYPE_BULK, kPacketSize, 0, 0, 0, nullptr, 0},
    {7, LIBUSB_DT_ENDPOINT, 0x02, LIBUSB_TRANSFER_TYPE_BULK, kPacketSize, 0, 0, 0, nullptr, 0},
};
const libusb_interface_descriptor kAltSetting = {
    9, LIBUSB_DT_INTERFACE, 0, 0, 2, 0xff, 0xff, 0xff, 2, kEndpoints, nullptr, 0};
const libusb_interface kInterface = {&kAltSetting, 1};
libusb_config_descriptor kConfig = {9,  LIBUSB_DT_CONFIG, 32,      1, 1, 0, 0xa0,
                                    45, &kInterface,      nullptr, 0};
libusb_context* const kContext = reinterpret_cast<libusb_context*>(&kConfig);

}  // namespace

extern "C" {

qubix::test::EmulatedChip* qubix_usb_standin() { return &chip(); }

int libusb_init(libusb_context** ctx) {
  if (ctx) *ctx = kContext;
  return 0;
}
void libusb_exit(libusb_context*) {}

ssize_t libusb_get_device_list(libusb_context*, libusb_device*** list) {
  libusb_device* device = chip().current();
  auto** out = static_cast<libusb_device**>(std::calloc(2, sizeof(libusb_device*)));
  if (!out) return LIBUSB_ERROR_NO_MEM;
  if (device) {
    ++device->refs;
    out[0] = device;
  }
  *list = out;
  return device ? 1 : 0;
}

void libusb_free_device_list(libusb_device** list, int unrefDevices) {
  if (!list) return;
  for (libusb_device** d = list; unrefDevices && *d; ++d) --(*d)->refs;
  std::free(list);
}

libusb_device* libusb_ref_device(libusb_device* device) {
  ++device->refs;
  return device;
}
void libusb_unref_device(libusb_device* device) {
  if (device) --device->refs;
}

int libusb_get_device_descriptor(libusb_device*, libusb_device_descriptor* desc) {
  *desc = libusb_device_descriptor{18,     LIBUSB_DT_DEVICE, 0x0200, 0, 0, 0, 8,
                                   0x0403, 0x6001,           0x0600, 1, 2, 3, 1};
  return 0;
}

uint8_t libusb_get_bus_number(libusb_device*) { return 1; }
int libusb_get_port_numbers(libusb_device*, uint8_t* ports, int length) {
  if (length < 1) return LIBUSB_ERROR_OVERFLOW;
  ports[0] = 1;
  return 1;
}
uint8_t libusb_get_device_address(libusb_device* device) {
  return static_cast<uint8_t>(1 + device->generation);
}

int libusb_get_config_descriptor(libusb_device*, uint8_t index, libusb_config_descriptor** config) {
  if (index != 0) return LIBUSB_ERROR_NOT_FOUND;
  *config = &kConfig;
  return 0;
}
void libusb_free_config_descriptor(libusb_config_descriptor*) {}

int libusb_open(libusb_device* device, libusb_device_handle** handle) {
  if (const int rc = chip().open(device); rc != 0) return rc;
  *handle = new libusb_device_handle{device};
  ++device->refs;
  return 0;
}
void libusb_close(libusb_device_handle* handle) {
  if (!handle) return;
  --handle->device->refs;
  delete handle;
}

int libusb_get_configuration(libusb_device_handle* h, int* config) {
  if (!chip().alive(h->device)) return LIBUSB_ERROR_NO_DEVICE;
  *config = 1;
  return 0;
}
int libusb_set_configuration(libusb_device_handle* h, int) {
  return chip().alive(h->device) ? 0 : LIBUSB_ERROR_NO_DEVICE;
}
int libusb_claim_interface(libusb_device_handle* h, int) { return chip().claim(h); }
int libusb_release_interface(libusb_device_handle* h, int) {
  return chip().alive(h->device) ? 0 : LIBUSB_ERROR_NO_DEVICE;
}
int libusb_detach_kernel_driver(libusb_device_handle*, int) { return chip().detachKernelDriver(); }
int libusb_set_auto_detach_kernel_driver(libusb_device_handle*, int) { return 0; }

int libusb_get_string_descriptor_ascii(libusb_device_handle* h, uint8_t index, unsigned char* data,
                                       int length) {
  if (!chip().alive(h->device)) return LIBUSB_ERROR_NO_DEVICE;
  const ChipSetup& s = chip().setup();
  const std::string text = index == 1   ? std::string("Velmoria")
                           : index == 2 ? s.product
                           : index == 3 ? s.serialNumber
                                        : std::string();
  if (text.empty()) return LIBUSB_ERROR_INVALID_PARAM;
  const int n = std::min(static_cast<int>(text.size()), length - 1);
  std::memcpy(data, text.data(), static_cast<std::size_t>(n));
  data[n] = 0;
  return n;
}

int libusb_control_transfer(libusb_device_handle* h, uint8_t type, uint8_t request, uint16_t value,
                            uint16_t index, unsigned char* data, uint16_t length, unsigned int) {
  return chip().control(h, type, request, value, index, data, length);
}

int libusb_bulk_transfer(libusb_device_handle* h, unsigned char endpoint, unsigned char* data,
                         int length, int* actual, unsigned int timeout) {
  if (endpoint & LIBUSB_ENDPOINT_IN) return chip().bulkIn(h, data, length, actual, timeout);
  return chip().bulkOut(h, data, length, actual);
}

libusb_transfer* libusb_alloc_transfer(int) {
  return static_cast<libusb_transfer*>(std::calloc(1, sizeof(libusb_transfer)));
}
void libusb_free_transfer(libusb_transfer* transfer) { std::free(transfer); }
int libusb_submit_transfer(libusb_transfer*) { return LIBUSB_ERROR_NOT_SUPPORTED; }
int libusb_cancel_transfer(libusb_transfer*) { return LIBUSB_ERROR_NOT_FOUND; }
int libusb_handle_events_timeout(libusb_context*, struct timeval*) { return 0; }
int libusb_handle_events_timeout_completed(libusb_context*, struct timeval*, int* completed) {
  if (completed) *completed = 1;
  return 0;
}

}  // extern "C"
