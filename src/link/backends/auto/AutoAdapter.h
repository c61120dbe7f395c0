// The adapter of a program started without --link: at every connect attempt it looks for an
// adapter of the FTDI vendor (0403) and opens the first it finds, in this order:
//   1. a serial port of the kernel's driver (ftdi_sio), found through /sys/class/tty, by its
//      device name (ttyUSB0, ttyUSB1, ..., ttyUSB10); needs only the dialout group;
//   2. else a chip through libftdi, by bus and then socket (the USB port path);
//   3. else a device of the vendor's D2XX library where it is installed, in its own order.
// A later stage is looked at only when the earlier ones found nothing, so a chip that the
// kernel's driver serves is never taken from it. When nothing opens, lastError() says what was
// looked for and why none opened; once a device is open, backendName() says which was taken.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/Adapter.h"
#include "link/backends/PortReport.h"

namespace qubix::link::backends {

// Where the looking happens and what makes each backend; the defaults are the machine's own.
struct AutoSources {
  std::string ttyClassDir = "/sys/class/tty";
  std::string devDir = "/dev";  // where the device nodes of ttyClassDir's entries are
  // Each returns nullptr with the reason when the program was built without the backend.
  std::function<std::unique_ptr<Adapter>(const std::string& device, std::string& reason)> serial;
  std::function<std::unique_ptr<Adapter>(std::string& reason)> ftdi;
  // An adapter whose lastError() says why when its library cannot be loaded (listing fails).
  std::function<std::unique_ptr<Adapter>()> d2xx;

  // The machine's own places and backends; QUBIX_TTY_CLASS_DIR and QUBIX_DEV_DIR move the
  // first two (tests fake a listing there), QUBIX_D2XX_LIBRARY the vendor's library.
  static AutoSources fromEnvironment();
};

// The serial ports of ttyClassDir whose USB device has the vendor id 0403, in the order the
// default takes them: ttyUSB0, ttyUSB1, ..., ttyUSB10. path is the device node as found in
// devDir with links resolved; note names the kernel driver. Fills reason when the folder cannot
// be read.
std::vector<PortInfo> kernelFtdiPorts(const std::string& ttyClassDir, const std::string& devDir,
                                      std::string& reason);

class AutoAdapter final : public Adapter {
 public:
  explicit AutoAdapter(AutoSources sources = AutoSources::fromEnvironment());
  ~AutoAdapter() override;
  AutoAdapter(const AutoAdapter&) = delete;
  AutoAdapter& operator=(const AutoAdapter&) = delete;

  // Looks again: the devices of the first stage that finds any (deviceCount 0 when none does).
  Status listDevices(std::span<Description> slots, std::uint32_t& deviceCount) override;
  // Opens the device of the last listing at that index (closing whatever was open).
  Status open(int deviceIndex, Handle& handle) override;
  Status close(Handle handle) override;
  Status read(Handle handle, std::uint8_t* buffer, std::uint32_t count,
              std::uint32_t& bytesRead) override;
  Status write(Handle handle, const std::uint8_t* buffer, std::uint32_t count,
               std::uint32_t& bytesWritten) override;
  Status resetDevice(Handle handle) override;
  Status setBaudRate(Handle handle, std::uint32_t baud) override;
  Status setDataCharacteristics(Handle handle, std::uint8_t wordLength, std::uint8_t stopBits,
                                std::uint8_t parity) override;
  Status setFlowControl(Handle handle, std::uint16_t flow, std::uint8_t xon,
                        std::uint8_t xoff) override;
  Status setTimeouts(Handle handle, std::uint32_t readMs, std::uint32_t writeMs) override;
  Status getDeviceInfo(Handle handle, DeviceInfo& info) override;
  Status setLatencyTimer(Handle handle, std::uint8_t ms) override;
  Status setEventCharacter(Handle handle, std::uint8_t ch, bool enable) override;
  Status getLatencyTimer(Handle handle, std::uint8_t& ms) override;
  Status queueStatus(Handle handle, std::uint32_t& bytesWaiting) override;

  std::string lastError() const override;
  // "auto" while nothing is open, then which device was taken: "auto: serial /dev/ttyUSB0",
  // "auto: ftdi usb 1:4 (Velmoria USBTo422)", "auto: d2xx device 0 (...)".
  std::string backendName() const override;
  // What the last listing would open: "serial /dev/ttyUSB0 (...), the first of 2"; "" for none.
  std::string firstFound() const {
    return candidates_.empty() ? std::string{} : candidates_.front().name;
  }

 private:
  enum class Stage { None, Serial, Ftdi, D2xx };
  struct Candidate {
    std::string name;  // as backendName() shows it, after "auto: "
    std::string path;  // the serial port's device node
    int index = 0;     // within its backend's own listing
  };

  Adapter* opened(Handle handle);
  void closeOpened();
  Status failOpen(Status status, std::string reason);

  AutoSources sources_;
  Stage stage_ = Stage::None;
  std::vector<Candidate> candidates_;
  std::unique_ptr<Adapter> serial_, ftdi_, d2xx_;
  Adapter* open_ = nullptr;  // the backend whose device is open
  Handle handle_ = nullptr;
  std::string taken_;
  std::string error_;
};

}  // namespace qubix::link::backends
