#include "link/TraceFormat.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace qubix::link::trace {

namespace {
constexpr char kDigits[] = "0123456789abcdef";

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xc0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3f)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xe0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3f)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3f)));
  } else {
    out.push_back(static_cast<char>(0xf0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3f)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3f)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3f)));
  }
}

std::optional<std::uint32_t> Hex4(std::string_view four) {
  if (four.size() != 4) return std::nullopt;
  std::uint32_t v = 0;
  for (char c : four) {
    std::uint32_t d = 0;
    if (c >= '0' && c <= '9')
      d = static_cast<std::uint32_t>(c - '0');
    else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f')
      d = static_cast<std::uint32_t>((c | 0x20) - 'a' + 10);
    else
      return std::nullopt;
    v = v << 4 | d;
  }
  return v;
}
}  // namespace

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    const auto b = static_cast<std::uint8_t>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20) {
      out += "\\u00";
      out += kDigits[b >> 4];
      out += kDigits[b & 0x0f];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

LineWriter::LineWriter(double t) {
  char time[48];
  std::snprintf(time, sizeof time, "{\"%s\":%.3f", kTime.data(), t);
  text_ = time;
}

LineWriter& LineWriter::text(std::string_view name, std::string_view value) {
  text_ += ',' + Quoted(name) + ':' + Quoted(value);
  return *this;
}

LineWriter& LineWriter::number(std::string_view name, std::uint64_t value) {
  text_ += ',' + Quoted(name) + ':' + std::to_string(value);
  return *this;
}

bool LineReader::eat(char c) {
  if (peek() != c) return false;
  ++pos_;
  return true;
}

void LineReader::skipBlanks() {
  while (pos_ < line_.size() && (line_[pos_] == ' ' || line_[pos_] == '\t' || line_[pos_] == '\r'))
    ++pos_;
}

// The text of a JSON string with its escapes taken back; a \u escape beyond ASCII becomes UTF-8,
// a surrogate pair one character.
bool LineReader::readString(std::string& out, std::string& error) {
  while (pos_ < line_.size() && line_[pos_] != '"') {
    const char c = line_[pos_++];
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    const char e = peek();
    ++pos_;
    static constexpr std::string_view kShort = "\"\\/bfnrt";
    static constexpr std::string_view kMeant = "\"\\/\b\f\n\r\t";
    if (const auto k = kShort.find(e); k != std::string_view::npos && e != '\0') {
      out.push_back(kMeant[k]);
      continue;
    }
    const auto unit = [&]() -> std::optional<std::uint32_t> {
      const auto v = Hex4(line_.substr(std::min(pos_, line_.size()), 4));
      if (v) pos_ += 4;
      return v;
    };
    std::optional<std::uint32_t> cp = e == 'u' ? unit() : std::nullopt;
    if (cp && *cp >= 0xd800 && *cp < 0xdc00) {
      std::optional<std::uint32_t> low;
      if (line_.substr(std::min(pos_, line_.size()), 2) == "\\u") {
        pos_ += 2;
        low = unit();
      }
      cp = low && *low >= 0xdc00 && *low < 0xe000
               ? std::optional<std::uint32_t>(0x10000 + ((*cp - 0xd800) << 10) + (*low - 0xdc00))
               : std::nullopt;
    } else if (cp && *cp >= 0xdc00 && *cp < 0xe000) {
      cp.reset();
    }
    if (!cp) return error = "has a broken escape", false;
    AppendUtf8(out, *cp);
  }
  if (!eat('"')) return error = "is not closed", false;
  return true;
}

bool LineReader::parse(std::string_view line, std::string& error) {
  line_ = line;
  pos_ = 0;
  texts_.clear();
  numbers_.clear();
  skipBlanks();
  if (!eat('{')) return error = "not a JSON object", false;
  skipBlanks();
  if (eat('}')) return true;
  for (;;) {
    std::string key, why;
    skipBlanks();
    if (!eat('"') || !readString(key, why)) return error = "a field name is not a string", false;
    skipBlanks();
    if (!eat(':')) return error = "no ':' after \"" + key + "\"", false;
    skipBlanks();
    if (eat('"')) {
      std::string value;
      if (!readString(value, why))
        return error = std::string("the text of \"").append(key).append("\" ").append(why), false;
      texts_[key] = std::move(value);
    } else {
      const std::size_t start = pos_;
      while (pos_ < line_.size() &&
             std::string_view("+-.0123456789eE").find(line_[pos_]) != std::string_view::npos)
        ++pos_;
      const std::string number(line_.substr(start, pos_ - start));
      char* end = nullptr;
      const double v = std::strtod(number.c_str(), &end);
      if (number.empty() || end != number.c_str() + number.size() || !std::isfinite(v))
        return error = "the value of \"" + key + "\" is neither text nor a number", false;
      numbers_[key] = v;
    }
    skipBlanks();
    if (eat('}')) break;
    if (!eat(',')) return error = "no ',' between fields", false;
  }
  skipBlanks();
  if (pos_ != line_.size()) return error = "text after the object", false;
  return true;
}

const std::string* LineReader::text(std::string_view name) const {
  const auto it = texts_.find(name);
  return it == texts_.end() ? nullptr : &it->second;
}

std::optional<double> LineReader::number(std::string_view name) const {
  const auto it = numbers_.find(name);
  return it == numbers_.end() ? std::nullopt : std::optional<double>(it->second);
}

}  // namespace qubix::link::trace
