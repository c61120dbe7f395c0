// 32-bit little-endian words, as every file the program reads and writes stores them, whatever
// the byte order of the machine it runs on.
#pragma once

#include <cstdint>

namespace qubix::files {

inline void PutLe32(std::uint8_t* out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline std::uint32_t GetLe32(const std::uint8_t* in) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(in[i]) << (8 * i);
  return v;
}

}  // namespace qubix::files
