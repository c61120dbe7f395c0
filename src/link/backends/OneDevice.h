// The one device a real backend keeps open at a time. The handle handed to the link is the
// device's own address, so that every call can check it was given the device that is open; the
// reason of the last failure is kept for Adapter::lastError().
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "link/Adapter.h"

namespace qubix::link::backends {

template <typename Device>
class OneDevice {
 public:
  // backendName prefixes the reasons this class writes itself ("serial: invalid handle").
  explicit OneDevice(std::string backendName) : name_(std::move(backendName)) {}

  // The open device behind handle; nullptr, with the reason kept, for any other handle.
  Device* check(Handle handle) {
    if (!device_ || handle != device_.get()) {
      error = name_ + ": invalid handle";
      return nullptr;
    }
    return device_.get();
  }
  Status fail(Status status, std::string reason) {
    error = std::move(reason);
    return status;
  }
  // Takes a device that has just been opened; its address is the handle.
  Handle adopt(std::unique_ptr<Device> device) {
    device_ = std::move(device);
    error.clear();
    return device_.get();
  }
  Status close(Handle handle) {
    if (!check(handle)) return kInvalidHandle;
    device_.reset();
    return kOk;
  }
  // Lets go of the device whatever the handle (a reconnect releases the old one first).
  void reset() { device_.reset(); }
  Device* get() const { return device_.get(); }

  std::string error;

 private:
  std::string name_;
  std::unique_ptr<Device> device_;
};

}  // namespace qubix::link::backends
