// qubix24ctl decode FILE: a bus trace written with --trace, told as a person reads it.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "cli/Command.h"
#include "cli/JsonOut.h"
#include "network/TraceDecoder.h"
#include "network/TraceReader.h"

namespace qubix::cli {
namespace {

int RunDecode(Invocation& inv) {
  if (inv.positional.size() != 1) throw UsageError("expected the trace file");
  const QString path = inv.positional[0];
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    inv.printError(path + QStringLiteral(": ") + file.errorString());
    return kExitFailure;
  }
  const QByteArray text = file.readAll();
  std::vector<network::TraceRecord> records;
  std::string error;
  if (!network::ParseTrace(
          std::string_view(text.constData(), static_cast<std::size_t>(text.size())), records,
          error)) {
    inv.printError(path + QStringLiteral(": ") + QString::fromStdString(error));
    return kExitFailure;
  }
  const auto lines = network::DecodeTrace(records);
  if (inv.json) {
    QJsonArray array;
    for (const auto& line : lines) {
      QJsonObject o{{QStringLiteral("t"), JsonNumber(line.t)},
                    {QStringLiteral("kind"), QString::fromLatin1(network::KindName(line.kind))},
                    {QStringLiteral("text"), Latin1Text(line.text)}};
      if (line.timeout) o.insert(QStringLiteral("timeout"), true);
      array.append(o);
    }
    inv.print(JsonLine(QJsonDocument(QJsonObject{{QStringLiteral("lines"), array}})));
    return kExitOk;
  }
  for (const auto& line : lines) inv.print(network::FormatDecodedLine(line) + "\n");
  return kExitOk;
}

const RegisterCommand kDecode{{QStringLiteral("decode"),
                               QStringLiteral("decode FILE: a bus trace (--trace) as it reads"),
                               {},
                               RunDecode}};

}  // namespace
}  // namespace qubix::cli
