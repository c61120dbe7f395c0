// A made-up /sys/class/tty and /dev for the default adapter's look for serial ports: each port
// as the kernel lays it out (the tty's device link to the port under its USB interface under its
// USB device, which has the ids and strings), its node in the fake /dev a link to a real device
// or to nothing.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "support/TempDir.h"

namespace qubix::test {

class FakeTtyTree {
 public:
  FakeTtyTree() : dir_("qubix-tty") {
    std::filesystem::create_directories(classDir());
    std::filesystem::create_directories(devDir());
  }
  std::string classDir() const { return (dir_.path() / "class" / "tty").string(); }
  std::string devDir() const { return (dir_.path() / "dev").string(); }

  // A port on a USB device with this vendor id (empty: not on the USB); node is where its fake
  // /dev entry leads ("" for none).
  void addPort(const std::string& name, const std::string& vendor, const std::string& product,
               const std::string& node = "", const std::string& driver = "ftdi_sio") {
    namespace fs = std::filesystem;
    const fs::path usb = dir_.path() / "devices" / ("usb-" + name);
    const fs::path port = vendor.empty() ? dir_.path() / "devices" / "platform" / name
                                         : usb / (name + "-1:1.0") / name;
    fs::create_directories(port);
    if (!vendor.empty()) {
      write(usb / "idVendor", vendor);
      write(usb / "idProduct", "6001");
      write(usb / "product", product);
      write(usb / "serial", "QX" + name);
    }
    const fs::path drivers = dir_.path() / "bus" / "drivers" / driver;
    fs::create_directories(drivers);
    fs::create_directory_symlink(drivers, port / "driver");
    fs::create_directories(fs::path(classDir()) / name);
    fs::create_directory_symlink(port, fs::path(classDir()) / name / "device");
    if (!node.empty()) fs::create_symlink(node, fs::path(devDir()) / name);
  }
  // A terminal without a device (a virtual console).
  void addVirtual(const std::string& name) {
    std::filesystem::create_directories(std::filesystem::path(classDir()) / name);
  }

 private:
  static void write(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file) << text << '\n';
  }
  TempDir dir_;
};

}  // namespace qubix::test
