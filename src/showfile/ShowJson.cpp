#include "showfile/ShowJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <cmath>
#include <set>

#include "protocol/NumberText.h"

namespace qubix::showfile {

namespace {

using editor::Limit;

QString Q(const std::string& s) { return QString::fromStdString(s); }

JsonError Error(std::string code, std::string message, std::string field = {}) {
  return JsonError{std::move(code), std::move(message), std::move(field), std::nullopt,
                   std::nullopt};
}

const char* TypeName(const QJsonValue& v) {
  switch (v.type()) {
    case QJsonValue::Null:
      return "null";
    case QJsonValue::Bool:
      return "a boolean";
    case QJsonValue::Double:
      return "a number";
    case QJsonValue::String:
      return "a text";
    case QJsonValue::Array:
      return "an array";
    case QJsonValue::Object:
      return "an object";
    default:
      return "nothing";
  }
}

JsonError WrongType(const std::string& field, const char* wanted, const QJsonValue& v) {
  return Error("bad_json", field + ": " + wanted + " is wanted, not " + TypeName(v), field);
}

// Refuses a field of json that is not one of known.
std::optional<JsonError> OnlyKnown(const QJsonObject& json, const std::set<QString>& known,
                                   const std::string& prefix) {
  for (auto it = json.begin(); it != json.end(); ++it)
    if (!known.count(it.key())) {
      const std::string field = prefix + it.key().toStdString();
      return Error("unknown_field", field + ": no such field", field);
    }
  return std::nullopt;
}

std::optional<JsonError> Number(const QJsonValue& v, const std::string& field, const Limit& limit,
                                double& out) {
  if (!v.isDouble()) return WrongType(field, "a number", v);
  const double d = v.toDouble();
  if (!limit.contains(d)) {
    std::string message = field + ": " + protocol::ShortNumber(d) + " is outside " +
                          protocol::ShortNumber(limit.min) + " … " +
                          protocol::ShortNumber(limit.max);
    if (limit.step > 0 && d >= limit.min && d <= limit.max)
      message = field + ": " + protocol::ShortNumber(d) + " is not a step of " +
                protocol::ShortNumber(limit.step) + " within " + protocol::ShortNumber(limit.min) +
                " … " + protocol::ShortNumber(limit.max);
    JsonError e = Error("out_of_range", message, field);
    e.min = limit.min;
    e.max = limit.max;
    return e;
  }
  out = d;
  return std::nullopt;
}

template <class T>
std::optional<JsonError> Optional(const QJsonObject& json, const char* key,
                                  const std::string& field, const Limit& limit,
                                  std::optional<T>& out) {
  if (!json.contains(QLatin1String(key))) return std::nullopt;
  double d = 0;
  if (auto e = Number(json.value(QLatin1String(key)), field, limit, d)) return e;
  out = static_cast<T>(d);
  return std::nullopt;
}

// {"a": .., "b": ..} or {"ch12": .., "ch34": ..}: either member may be left out.
template <class T>
std::optional<JsonError> Pair(const QJsonObject& json, const char* key, const char* first,
                              const char* second, const Limit& limit,
                              std::array<std::optional<T>, 2>& out) {
  if (!json.contains(QLatin1String(key))) return std::nullopt;
  const QJsonValue v = json.value(QLatin1String(key));
  if (!v.isObject()) return WrongType(key, "an object", v);
  const QJsonObject o = v.toObject();
  const std::string prefix = std::string(key) + ".";
  if (auto e = OnlyKnown(o, {QLatin1String(first), QLatin1String(second)}, prefix)) return e;
  if (auto e = Optional(o, first, prefix + first, limit, out[0])) return e;
  return Optional(o, second, prefix + second, limit, out[1]);
}

std::optional<JsonError> Bool(const QJsonValue& v, const std::string& field,
                              std::optional<bool>& out) {
  if (!v.isBool()) return WrongType(field, "true or false", v);
  out = v.toBool();
  return std::nullopt;
}

std::optional<JsonError> Mutes(const QJsonValue& v, std::array<std::optional<bool>, 4>& out) {
  if (v.isArray()) {
    const QJsonArray a = v.toArray();
    if (a.size() != 4) return Error("bad_json", "mute: four values are wanted", "mute");
    for (int i = 0; i < 4; ++i)
      if (auto e = Bool(a.at(i), "mute[" + std::to_string(i) + "]", out[static_cast<size_t>(i)]))
        return e;
    return std::nullopt;
  }
  if (!v.isObject()) return WrongType("mute", "an array or an object", v);
  const QJsonObject o = v.toObject();
  if (auto e = OnlyKnown(o, {"1", "2", "3", "4"}, "mute.")) return e;
  for (auto it = o.begin(); it != o.end(); ++it) {
    const int ch = it.key().toInt();
    if (auto e = Bool(it.value(), "mute." + it.key().toStdString(),
                      out[static_cast<std::size_t>(ch - 1)]))
      return e;
  }
  return std::nullopt;
}

std::optional<JsonError> Bands(const QJsonValue& v, bool whole,
                               std::array<editor::BandChange, editor::kBandCount>& out) {
  if (!v.isArray()) return WrongType("bands", "an array", v);
  const QJsonArray a = v.toArray();
  if (whole && a.size() != editor::kBandCount)
    return Error("bad_json", "bands: all ten bands are wanted", "bands");
  std::array<bool, editor::kBandCount> seen{};
  for (int i = 0; i < a.size(); ++i) {
    const std::string field = "bands[" + std::to_string(i) + "]";
    if (!a.at(i).isObject()) return WrongType(field, "an object", a.at(i));
    const QJsonObject o = a.at(i).toObject();
    if (auto e = OnlyKnown(o, {"band", "frequency", "gain", "q"}, field + ".")) return e;
    if (!o.contains("band")) return Error("bad_json", field + ".band: missing", field + ".band");
    double number = 0;
    if (auto e = Number(o.value("band"), field + ".band", Limit{1, editor::kBandCount, 1}, number))
      return e;
    const auto b = static_cast<std::size_t>(number) - 1;
    if (seen[b]) return Error("bad_json", field + ".band: band given twice", field + ".band");
    seen[b] = true;
    editor::BandChange& change = out[b];
    if (auto e = Optional(o, "frequency", field + ".frequency", editor::kBandFreqLimit,
                          change.frequency))
      return e;
    // Taken at the resolution the editor records, so that what is sent is what is kept.
    if (change.frequency) change.frequency = editor::RecordedFrequency(*change.frequency);
    if (auto e = Optional(o, "gain", field + ".gain", editor::kBandGainLimit, change.gain))
      return e;
    if (auto e = Optional(o, "q", field + ".q", editor::kBandQLimit, change.q)) return e;
    if (whole && !(change.frequency && change.gain && change.q))
      return Error("bad_json", field + ": frequency, gain and q are wanted", field);
  }
  return std::nullopt;
}

const std::set<QString> kChangeFields{"inputGain", "attenuation", "delay", "mute",
                                      "ampLevel",  "flat",        "bands"};
const std::set<QString> kMachineFields{"id",        "slot",        "hardwarePreset", "userPreset",
                                       "inputGain", "attenuation", "delay",          "mute",
                                       "ampLevel",  "flat",        "bands"};

std::optional<JsonError> ChangeFields(const QJsonObject& json, bool whole,
                                      editor::MachineChange& c) {
  if (auto e = Pair(json, "inputGain", "a", "b", editor::kInputGainLimit, c.inputGainDb)) return e;
  if (auto e =
          Pair(json, "attenuation", "ch12", "ch34", editor::kAttenuationLimit, c.attenuationDb))
    return e;
  if (auto e = Pair(json, "delay", "ch12", "ch34", editor::kDelayLimit, c.delay)) return e;
  if (json.contains("mute"))
    if (auto e = Mutes(json.value("mute"), c.mute)) return e;
  if (auto e = Optional(json, "ampLevel", "ampLevel", editor::kAmpLevelLimit, c.ampLevelDb))
    return e;
  if (json.contains("flat"))
    if (auto e = Bool(json.value("flat"), "flat", c.flat)) return e;
  if (json.contains("bands"))
    if (auto e = Bands(json.value("bands"), whole, c.bands)) return e;
  return std::nullopt;
}

}  // namespace

QJsonObject JsonError::toJson() const {
  QJsonObject o{{"error", Q(code)}, {"message", Q(message)}};
  if (!field.empty()) o.insert("field", Q(field));
  if (min) o.insert("min", *min);
  if (max) o.insert("max", *max);
  return o;
}

QJsonObject MachineToJson(const editor::MachineValues& m) {
  QJsonArray mute;
  for (bool b : m.mute) mute.append(b);
  QJsonArray bands;
  for (std::size_t b = 0; b < m.bands.size(); ++b)
    bands.append(QJsonObject{{"band", static_cast<int>(b + 1)},
                             {"frequency", m.bands[b].frequency},
                             {"gain", m.bands[b].gain},
                             {"q", m.bands[b].q}});
  return QJsonObject{
      {"id", Latin1(m.id)},
      {"slot", m.slot},
      {"hardwarePreset", m.hardwarePreset},
      {"userPreset", Latin1(m.userPreset)},
      {"inputGain", QJsonObject{{"a", m.inputGainDb[0]}, {"b", m.inputGainDb[1]}}},
      {"attenuation", QJsonObject{{"ch12", m.attenuationDb[0]}, {"ch34", m.attenuationDb[1]}}},
      {"delay", QJsonObject{{"ch12", m.delay[0]}, {"ch34", m.delay[1]}}},
      {"mute", mute},
      {"ampLevel", m.ampLevelDb},
      {"flat", m.flat},
      {"bands", bands}};
}

std::optional<JsonError> ChangeFromJson(const QJsonObject& json, editor::MachineChange& change) {
  if (auto e = OnlyKnown(json, kChangeFields, "")) return e;
  return ChangeFields(json, /*whole=*/false, change);
}

std::optional<JsonError> MachineFromJson(const QJsonObject& json, editor::MachineValues& m) {
  // "inDoubt" is a reading of the service's, not a value to restore.
  std::set<QString> accepted = kMachineFields;
  accepted.insert("inDoubt");
  if (auto e = OnlyKnown(json, accepted, "")) return e;
  for (const QString& key : kMachineFields)
    if (!json.contains(key))
      return Error("bad_json", key.toStdString() + ": missing", key.toStdString());
  if (!json.value("id").isString()) return WrongType("id", "a text", json.value("id"));
  m.id = json.value("id").toString().toLatin1().toStdString();
  m.userPreset = json.value("userPreset").toString().toLatin1().toStdString();
  double number = 0;
  if (auto e = Number(json.value("slot"), "slot", Limit{1, 8, 1}, number)) return e;
  m.slot = static_cast<int>(number);
  if (auto e = Number(json.value("hardwarePreset"), "hardwarePreset", Limit{0, 7, 1}, number))
    return e;
  m.hardwarePreset = static_cast<int>(number);
  editor::MachineChange c;
  for (const char* pair : {"inputGain", "attenuation", "delay"}) {
    const QJsonObject o = json.value(QLatin1String(pair)).toObject();
    if (o.size() != 2)
      return Error("bad_json", std::string(pair) + ": both values are wanted", pair);
  }
  if (!json.value("mute").isArray())
    return Error("bad_json", "mute: an array of four is wanted", "mute");
  if (auto e = ChangeFields(json, /*whole=*/true, c)) return e;
  for (std::size_t i = 0; i < 2; ++i) {
    m.inputGainDb[i] = *c.inputGainDb[i];
    m.attenuationDb[i] = *c.attenuationDb[i];
    m.delay[i] = *c.delay[i];
  }
  for (std::size_t ch = 0; ch < 4; ++ch) m.mute[ch] = *c.mute[ch];
  m.ampLevelDb = *c.ampLevelDb;
  m.flat = *c.flat;
  for (std::size_t b = 0; b < m.bands.size(); ++b)
    m.bands[b] = {*c.bands[b].frequency, *c.bands[b].gain, *c.bands[b].q};
  return std::nullopt;
}

QJsonObject SnapshotToJson(const editor::ShowSnapshot& show) {
  QJsonArray machines;
  for (const auto& m : show) machines.append(MachineToJson(m));
  return QJsonObject{{"machines", machines}};
}

std::optional<JsonError> SnapshotFromJson(const QJsonObject& json, editor::ShowSnapshot& show) {
  if (auto e = OnlyKnown(json, {"machines"}, "")) return e;
  const QJsonValue v = json.value("machines");
  if (!v.isArray()) return WrongType("machines", "an array", v);
  const QJsonArray a = v.toArray();
  if (a.size() > 8) return Error("bad_json", "machines: at most eight", "machines");
  show.clear();
  for (int i = 0; i < a.size(); ++i) {
    const std::string prefix = "machines[" + std::to_string(i) + "].";
    if (!a.at(i).isObject()) return WrongType(prefix + "", "an object", a.at(i));
    editor::MachineValues m;
    if (auto e = MachineFromJson(a.at(i).toObject(), m)) {
      e->message = prefix + e->message;
      if (!e->field.empty()) e->field = prefix + e->field;
      return e;
    }
    show.push_back(std::move(m));
  }
  return std::nullopt;
}

std::optional<JsonError> ParseObject(const std::string& text, QJsonObject& out) {
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
  if (error.error != QJsonParseError::NoError)
    return Error("bad_json", "not JSON: " + error.errorString().toStdString() + " at offset " +
                                 std::to_string(error.offset));
  if (!doc.isObject()) return Error("bad_json", "a JSON object is wanted");
  out = doc.object();
  return std::nullopt;
}

QString Latin1(const std::string& bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

}  // namespace qubix::showfile
