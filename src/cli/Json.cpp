#include "cli/Json.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace qubix::cli {

std::string JsonNumber(double number) {
  if (!std::isfinite(number)) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", number);
  return text;
}

void JsonWriter::separate() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!first_.empty()) {
    if (!first_.back()) out_ += ',';
    first_.back() = false;
  }
}

JsonWriter& JsonWriter::beginObject() {
  separate();
  out_ += '{';
  first_.push_back(true);
  return *this;
}

JsonWriter& JsonWriter::endObject() {
  out_ += '}';
  if (!first_.empty()) first_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::beginArray() {
  separate();
  out_ += '[';
  first_.push_back(true);
  return *this;
}

JsonWriter& JsonWriter::endArray() {
  out_ += ']';
  if (!first_.empty()) first_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
  value(name);
  out_ += ':';
  afterKey_ = true;
  return *this;
}

JsonWriter& JsonWriter::value(double number) {
  separate();
  out_ += JsonNumber(number);
  return *this;
}

JsonWriter& JsonWriter::value(int number) {
  separate();
  out_ += std::to_string(number);
  return *this;
}

JsonWriter& JsonWriter::value(bool flag) {
  separate();
  out_ += flag ? "true" : "false";
  return *this;
}

namespace {
// The length of the valid UTF-8 sequence at the start of text, or 0.
std::size_t Utf8SequenceLength(std::string_view text) {
  const auto b0 = static_cast<unsigned char>(text[0]);
  std::size_t n = 0;
  std::uint32_t min = 0, cp = 0;
  if (b0 < 0x80) return 1;
  if ((b0 & 0xe0) == 0xc0) { n = 2; min = 0x80; cp = b0 & 0x1f; }
  else if ((b0 & 0xf0) == 0xe0) { n = 3; min = 0x800; cp = b0 & 0x0f; }
  else if ((b0 & 0xf8) == 0xf0) { n = 4; min = 0x10000; cp = b0 & 0x07; }
  else return 0;
  if (text.size() < n) return 0;
  for (std::size_t i = 1; i < n; ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if ((b & 0xc0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3f);
  }
  // Overlong forms, surrogates and values beyond Unicode are not UTF-8.
  if (cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return 0;
  return n;
}

void AppendLatin1(std::string& out, unsigned char byte) {
  if (byte < 0x80) {
    out.push_back(static_cast<char>(byte));
  } else {
    out.push_back(static_cast<char>(0xc0 | (byte >> 6)));
    out.push_back(static_cast<char>(0x80 | (byte & 0x3f)));
  }
}
}  // namespace

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) AppendLatin1(out, static_cast<unsigned char>(c));
  return out;
}

JsonWriter& JsonWriter::value(std::string_view text) {
  std::string utf8;
  utf8.reserve(text.size());
  while (!text.empty()) {
    const std::size_t n = Utf8SequenceLength(text);
    if (n == 0) {
      AppendLatin1(utf8, static_cast<unsigned char>(text[0]));
      text.remove_prefix(1);
    } else {
      utf8.append(text.substr(0, n));
      text.remove_prefix(n);
    }
  }
  separate();
  quoted(utf8);
  return *this;
}

JsonWriter& JsonWriter::valueLatin1(std::string_view bytes) {
  separate();
  quoted(Latin1ToUtf8(bytes));
  return *this;
}

void JsonWriter::quoted(std::string_view utf8) {
  out_ += '"';
  for (char ch : utf8) {
    const auto u = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out_ += '\\';
      out_ += ch;
    } else if (u < 0x20 || u == 0x7f) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", u);
      out_ += esc;
    } else {
      out_ += ch;
    }
  }
  out_ += '"';
}

}  // namespace qubix::cli
