#include "cli/JsonOut.h"

#include <cmath>
#include <cstdint>

namespace qubix::cli {

namespace {
// Stands in for -0 until the document is written: noncharacters never come from a processor
// (Latin-1) and are not meant for interchange, so no real text holds this.
const QString kNegativeZero = QStringLiteral(u"\uFDD0-0\uFDD0");

// The length of the valid UTF-8 sequence at the start of text, or 0.
std::size_t Utf8SequenceLength(std::string_view text) {
  const auto b0 = static_cast<unsigned char>(text[0]);
  std::size_t n = 0;
  std::uint32_t min = 0, cp = 0;
  if (b0 < 0x80) return 1;
  if ((b0 & 0xe0) == 0xc0) {
    n = 2;
    min = 0x80;
    cp = b0 & 0x1f;
  } else if ((b0 & 0xf0) == 0xe0) {
    n = 3;
    min = 0x800;
    cp = b0 & 0x0f;
  } else if ((b0 & 0xf8) == 0xf0) {
    n = 4;
    min = 0x10000;
    cp = b0 & 0x07;
  } else
    return 0;
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
}  // namespace

QJsonValue JsonNumber(double number) {
  if (!std::isfinite(number)) return QJsonValue(QJsonValue::Null);
  if (number == 0.0 && std::signbit(number)) return kNegativeZero;
  return number;
}

QString JsonText(std::string_view text) {
  QString out;
  out.reserve(static_cast<qsizetype>(text.size()));
  while (!text.empty()) {
    const std::size_t n = Utf8SequenceLength(text);
    if (n == 0) {
      out += QChar(static_cast<unsigned char>(text[0]));
      text.remove_prefix(1);
    } else {
      out += QString::fromUtf8(text.data(), static_cast<qsizetype>(n));
      text.remove_prefix(n);
    }
  }
  return out;
}

std::string JsonLine(const QJsonDocument& document) {
  QByteArray text = document.toJson(QJsonDocument::Compact);
  text.replace(QByteArray('"' + kNegativeZero.toUtf8() + '"'), QByteArrayLiteral("-0"));
  text += '\n';
  return text.toStdString();
}

}  // namespace qubix::cli
