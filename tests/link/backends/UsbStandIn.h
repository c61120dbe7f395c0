// The control side of the stand-in USB library that the tests build (libqubix_usbstandin.so):
// it exports the libusb functions libftdi calls and serves them from one emulated FT232R whose
// serial side is the simulated bus. Tests link it ahead of libusb, or preload it into
// qubix24ctl.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/FtdiTiming.h"
#include "sim/SimBus.h"
#include "sim/Timing.h"

namespace qubix::test {

// One vendor control transfer as the chip received it.
struct ControlRequest {
  std::uint8_t requestType = 0;  // 0x40 host to device, 0xc0 device to host
  std::uint8_t request = 0;
  std::uint16_t value = 0;
  std::uint16_t index = 0;
  std::uint16_t length = 0;
  friend bool operator==(const ControlRequest&, const ControlRequest&) = default;
};

template <typename Stream>
Stream& operator<<(Stream& out, const ControlRequest& r) {
  char text[64];
  std::snprintf(text, sizeof text, "{0x%02x, %u, 0x%04x, 0x%04x, %u}", r.requestType, r.request,
                r.value, r.index, r.length);
  return out << text;
}

// Faults and settings that the operator's hardware can have.
struct ChipSetup {
  std::string product = "Velmoria USBTo422";
  std::string serialNumber = "QX240001";
  bool openDenied = false;         // the device node is not the user's (no udev rule)
  bool kernelDriverBound = false;  // the kernel's serial driver holds the interface
  bool claimedElsewhere = false;   // another program has claimed the interface
};

class EmulatedChip {
 public:
  virtual ~EmulatedChip() = default;

  // Starts again: plugged in, chip defaults (9600 baud, 16 ms latency timer, no event
  // character), an empty log, this bus and this clock.
  virtual void restart(std::shared_ptr<sim::SimBus> bus, sim::ClockMode mode) = 0;
  virtual ChipSetup& setup() = 0;
  virtual sim::SimBus& bus() = 0;
  virtual sim::SimClock& clock() = 0;
  virtual const sim::FtdiTiming& timing() const = 0;

  virtual const std::vector<ControlRequest>& controlRequests() const = 0;
  // Every bulk IN transfer's bytes as the chip sent them, status bytes included.
  virtual const std::vector<std::string>& inPackets() const = 0;
  virtual void clearLog() = 0;

  // The line as the chip is set: the baud rate its divisor gives, and 8N1 or not.
  virtual double baudRate() const = 0;
  virtual bool eightNOne() const = 0;

  // From this moment every transfer fails with "no device" and the device leaves the list.
  virtual void unplugAtMs(double atMs) = 0;
  // The same, once the PC has written this many more bytes.
  virtual void unplugAfterBytes(std::uint64_t count) = 0;
  virtual bool pluggedIn() const = 0;
  // Plugged in again: a new device on the list; handles of the old one stay dead.
  virtual void plugIn() = 0;
};

}  // namespace qubix::test

extern "C" qubix::test::EmulatedChip* qubix_usb_standin();
