// The bus behind a serial device server on the network, through gensio:
//  - `tcp:HOST:PORT`: the raw TCP port of a device server whose own settings fix the line
//    (115200 8N1);
//  - `rfc2217:HOST:PORT`: Telnet with the COM port control option, where the program sets the
//    line itself and purges the server's buffers on reset, as it does on a local port.
// Listing always finds the one server named; the connection is made on open(), so a server
// that is down or unreachable shows as "NoOpenDvc" with the reason in lastError(), and every
// retry of the connect timer tries again. A connection that drops makes the next call fail
// (getDeviceInfo() included, so the refresh notices before it sends anything).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "link/Adapter.h"
#include "link/backends/OneDevice.h"
#include "link/backends/PortReport.h"
#include "link/backends/net/NetAddress.h"

namespace qubix::link::backends {

enum class NetProtocol { Raw, Rfc2217 };

// How long open() waits for the server to accept the connection (and, over RFC 2217, for each
// line setting to be confirmed) before it gives up until the next retry.
inline constexpr unsigned kNetConnectTimeoutMs = 1500;

// What is kept of the bytes taken off the connection ahead of the reader (while looking whether
// the server is still there, or waiting for a line setting's answer). The protocol never has
// more than one reply in flight: the longest is 128 bytes, and an upload's echo comes byte by
// byte behind each byte sent. 4 KiB is thirty-two such replies; anything beyond is a server
// sending what nobody asked for, and is dropped and counted rather than held in memory.
inline constexpr std::size_t kMaxEarlyBytes = 4096;
// How much one look for a closed connection reads at most, so that a server that sends without
// pause cannot keep it going.
inline constexpr std::size_t kMaxEarlyLookBytes = 4 * kMaxEarlyBytes;

class NetAdapter final : public Adapter {
 public:
  NetAdapter(NetProtocol protocol, NetAddress address);
  ~NetAdapter() override;
  NetAdapter(const NetAdapter&) = delete;
  NetAdapter& operator=(const NetAdapter&) = delete;

  // False when the program was built without gensio.
  static bool compiledIn();
  // Whether the network backends can be used, for `qubix24ctl adapters` (they list no ports).
  static BackendReport probe();

  Status listDevices(std::span<Description> slots, std::uint32_t& deviceCount) override;
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
  Status queueStatus(Handle handle, std::uint32_t& bytesWaiting) override;

  // The reason of the last failure, and how many bytes received ahead of the reader were
  // dropped on this connection, if any.
  std::string lastError() const override;
  std::string backendName() const override { return scheme(); }

  // "tcp" or "rfc2217".
  std::string scheme() const { return protocol_ == NetProtocol::Raw ? "tcp" : "rfc2217"; }
  // The link address as typed, "tcp:HOST:PORT".
  std::string linkText() const { return scheme() + ":" + address_.text(); }
  // Whether Nagle's delay is off on the open connection (false when closed).
  bool noDelay() const;
  // Bytes received ahead of the reader beyond kMaxEarlyBytes and dropped, on the open connection.
  std::uint64_t droppedEarlyBytes() const;

  // The open connection; public only for the library's callbacks.
  struct Connection;

 private:
  enum class Line { Baud, DataBits, Parity, StopBits, Flow };
  // One line setting over RFC 2217, confirmed by the server within kNetConnectTimeoutMs.
  Status setLine(Connection* c, Line setting, unsigned value);
  Status fail(Status status, std::string reason) { return conn_.fail(status, std::move(reason)); }
  Connection* check(Handle handle) { return conn_.check(handle); }
  NetProtocol protocol_;
  NetAddress address_;
  OneDevice<Connection> conn_;
};

// The adapter, or nullptr with the reason when the program was built without gensio.
std::unique_ptr<Adapter> makeNetAdapter(NetProtocol protocol, NetAddress address,
                                        std::string& reason);

}  // namespace qubix::link::backends
