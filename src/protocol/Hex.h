// Pure encodings of the bus protocol: bytes as lower-case hex pairs, numbers, checksums and
// select frames. No I/O; tests feed literal strings.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qubix::protocol {

using Identifier = std::array<std::uint8_t, 6>;

// Two lower-case characters, high nibble first; a negative value is taken modulo 256.
std::string ByteToHex(int value);

struct SplitBytes {
  std::uint8_t high = 0, middle = 0, low = 0;
};
SplitBytes SplitNumber(std::int32_t n);

// Two's-complement negation of the 8-bit sum of the payload bytes.
std::uint8_t FrameChecksum(std::span<const std::uint8_t> payload);

// The payload bytes of each frame the program sends, its check byte not counted: one for "I",
// an address and five coefficient words for "Q", the six identifier bytes for the select frame
// "H". 0 for a letter that starts no frame ("e" and "R" travel alone).
constexpr std::size_t PayloadLength(char letter) {
  switch (letter) {
    case 'I':
    case 'n':
    case 'u':
    case 'T':
    case 'r':
      return 1;
    case 'G':
    case 'V':
    case 'J':
      return 2;
    case 'g':
      return 3;
    case 'L':
      return 4;
    case 'H':
      return 6;
    case 'Q':
    case 'U':
      return 17;
    default:
      return 0;
  }
}
// Its characters: the letter, then two hex digits a payload byte and two for the check byte
// ("I12ee" is 5); 0 for no frame.
constexpr std::size_t FrameLength(char letter) {
  const std::size_t payload = PayloadLength(letter);
  return payload == 0 ? 0 : 1 + 2 * (payload + 1);
}

// Letter + hex of each payload byte + hex of the checksum ("u01ff", "T02fe").
std::string BuildFrame(char letter, std::span<const std::uint8_t> payload);
// The five-character command for a one-byte value.
std::string ByteCommand(char letter, int value);

// "H" + 12 hex digits + check byte (−(1 + b5 + b6)) mod 256: 15 characters.
std::string SelectFrame(const Identifier& id);
// "H" + 12 hex digits, lower-case.
std::string IdentifierText(const Identifier& id);
// Parses "H" + 12 hex digits (either case). Empty on anything else.
std::optional<Identifier> ParseIdentifier(std::string_view text);

// Hex parsing in either case; empty when a character is not a hex digit.
std::optional<std::uint8_t> HexPairToByte(char high, char low);
std::optional<std::uint16_t> HexQuadToWord(std::string_view fourChars);

}  // namespace qubix::protocol
