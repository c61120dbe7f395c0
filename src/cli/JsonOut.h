// qubix24ctl's --json output: documents are built with QJsonObject and QJsonArray and written
// by QJsonDocument as one compact line. What QJsonDocument alone would get wrong for a script
// that reads the values back is handled here:
// - numbers go through JsonNumber: QJsonDocument writes a double in its shortest round-trip form,
//   except negative zero, which it stores as the integer 0 and so writes "0"; a coefficient that
//   is -0 has to read back as -0, so JsonNumber marks it and JsonLine writes "-0" itself;
// - bytes from a processor, a file or a USB descriptor are not always valid UTF-8; JsonText
//   keeps such a byte as the Latin-1 character it stands for instead of dropping it.
#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <string>
#include <string_view>

namespace qubix::cli {

// A number; non-finite values become null (JSON has no NaN).
QJsonValue JsonNumber(double number);

// Text as UTF-8; a byte that is not part of a valid UTF-8 sequence is taken as Latin-1.
QString JsonText(std::string_view text);

// Bytes from a file or a processor (identifiers, names), each one a Latin-1 character.
inline QString Latin1Text(std::string_view bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}
inline std::string Latin1ToUtf8(std::string_view bytes) { return Latin1Text(bytes).toStdString(); }

// The document, compact, followed by a newline.
std::string JsonLine(const QJsonDocument& document);

}  // namespace qubix::cli
