#include "protocol/Hex.h"

namespace qubix::protocol {

namespace {
constexpr char kDigits[] = "0123456789abcdef";

std::optional<std::uint8_t> NibbleValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
  return std::nullopt;
}
}  // namespace

std::string ByteToHex(int value) {
  const auto v = static_cast<unsigned>(((value % 256) + 256) % 256);
  return {kDigits[v >> 4], kDigits[v & 0x0f]};
}

SplitBytes SplitNumber(std::int32_t n) {
  // Arithmetic as the wire wants it for 0 … 65535; other values are cut to their byte.
  SplitBytes s;
  s.high = static_cast<std::uint8_t>(n / 65536);
  s.middle = static_cast<std::uint8_t>((n % 65536) / 256);
  s.low = static_cast<std::uint8_t>(n % 256);
  return s;
}

std::uint8_t FrameChecksum(std::span<const std::uint8_t> payload) {
  unsigned sum = 0;
  for (auto b : payload) sum += b;
  return static_cast<std::uint8_t>((256 - (sum & 0xff)) & 0xff);
}

std::string BuildFrame(char letter, std::span<const std::uint8_t> payload) {
  std::string frame(1, letter);
  frame.reserve(1 + 2 * payload.size() + 2);
  for (auto b : payload) frame += ByteToHex(b);
  frame += ByteToHex(FrameChecksum(payload));
  return frame;
}

std::string ByteCommand(char letter, int value) {
  const std::uint8_t b = static_cast<std::uint8_t>(((value % 256) + 256) % 256);
  return BuildFrame(letter, std::span<const std::uint8_t>(&b, 1));
}

std::string IdentifierText(const Identifier& id) {
  std::string text = "H";
  for (auto b : id) text += ByteToHex(b);
  return text;
}

std::string SelectFrame(const Identifier& id) {
  // Only the last two identifier bytes enter the check byte; for identifiers that start
  // 00 00 00 01 this equals the frame checksum of all six bytes.
  return IdentifierText(id) + ByteToHex(-(1 + id[4] + id[5]));
}

std::optional<Identifier> ParseIdentifier(std::string_view text) {
  if (text.size() != 13 || text[0] != 'H') return std::nullopt;
  Identifier id{};
  for (std::size_t i = 0; i < id.size(); ++i) {
    auto b = HexPairToByte(text[1 + 2 * i], text[2 + 2 * i]);
    if (!b) return std::nullopt;
    id[i] = *b;
  }
  return id;
}

std::optional<std::uint8_t> HexPairToByte(char high, char low) {
  auto h = NibbleValue(high);
  auto l = NibbleValue(low);
  if (!h || !l) return std::nullopt;
  return static_cast<std::uint8_t>((*h << 4) | *l);
}

std::optional<std::uint16_t> HexQuadToWord(std::string_view fourChars) {
  if (fourChars.size() != 4) return std::nullopt;
  auto h = HexPairToByte(fourChars[0], fourChars[1]);
  auto l = HexPairToByte(fourChars[2], fourChars[3]);
  if (!h || !l) return std::nullopt;
  return static_cast<std::uint16_t>((*h << 8) | *l);
}

}  // namespace qubix::protocol
