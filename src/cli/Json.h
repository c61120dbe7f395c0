// A small JSON text writer for qubix24ctl's --json output. Doubles are written with 17
// significant digits so that a script reads back exactly the value the tool computed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qubix::cli {

class JsonWriter {
 public:
  JsonWriter& beginObject();
  JsonWriter& endObject();
  JsonWriter& beginArray();
  JsonWriter& endArray();
  JsonWriter& key(std::string_view name);
  JsonWriter& value(double number);
  JsonWriter& value(int number);
  JsonWriter& value(bool flag);
  // Text as UTF-8; a byte that is not part of a valid UTF-8 sequence is taken as Latin-1, so
  // that the document is always valid.
  JsonWriter& value(std::string_view text);
  JsonWriter& value(const char* text) { return value(std::string_view(text)); }
  // Bytes from a file or a processor (identifiers, names), each one a Latin-1 character.
  JsonWriter& valueLatin1(std::string_view bytes);

  // The document followed by a newline.
  std::string text() const { return out_ + "\n"; }

 private:
  void separate();
  void quoted(std::string_view utf8);
  std::string out_;
  std::vector<bool> first_;  // per open container: no element written yet
  bool afterKey_ = false;
};

// Each byte as the Latin-1 character it stands for, in UTF-8.
std::string Latin1ToUtf8(std::string_view bytes);

// 17 significant digits, "%.17g"; non-finite values become null (JSON has no NaN).
std::string JsonNumber(double number);

}  // namespace qubix::cli
