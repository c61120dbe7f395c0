// The part of JSON Schema the service's OpenAPI document uses, checked against a value: type
// (one or several), required, properties, additionalProperties false, enum, minimum, maximum,
// items, oneOf and $ref into the document's components. Returns the first mismatch with its
// path, or empty.
#pragma once

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <cmath>
#include <string>

namespace qubix::test {

class OpenApi {
 public:
  OpenApi() {
    QFile f(QStringLiteral(QUBIX_SOURCE_DIR "/src/service/openapi.json"));
    f.open(QIODevice::ReadOnly);
    doc_ = QJsonDocument::fromJson(f.readAll()).object();
  }
  const QJsonObject& doc() const { return doc_; }

  // The schema of the JSON answer to method on path with status, or an empty object when the
  // document has none.
  QJsonObject responseSchema(const std::string& method, const std::string& path, int status) const {
    const QJsonObject op = operation(method, path);
    return response(op, status)
        .value("content")
        .toObject()
        .value("application/json")
        .toObject()
        .value("schema")
        .toObject();
  }
  // The operation of method on the path item that path matches, or an empty object.
  QJsonObject operation(const std::string& method, const std::string& path) const {
    return pathItem(path).value(QString::fromStdString(method).toLower()).toObject();
  }
  QJsonObject pathItem(const std::string& path) const {
    const QString p = QString::fromStdString(path.substr(0, path.find('?')));
    const QJsonObject paths = doc_.value("paths").toObject();
    for (auto it = paths.begin(); it != paths.end(); ++it) {
      QString pattern = QRegularExpression::escape(it.key());
      pattern.replace(QRegularExpression(QStringLiteral("\\\\\\{[a-z]+\\\\\\}")),
                      QStringLiteral("[^/]+"));
      if (QRegularExpression("^" + pattern + "$").match(p).hasMatch()) return it.value().toObject();
    }
    return {};
  }
  // An operation's response for status, its reference to the shared ones followed.
  QJsonObject response(const QJsonObject& op, int status) const {
    QJsonObject r = op.value("responses").toObject().value(QString::number(status)).toObject();
    if (r.contains("$ref"))
      r = doc_["components"]["responses"][r.value("$ref").toString().section('/', -1)].toObject();
    return r;
  }

  std::string check(const QJsonValue& v, const QJsonObject& schema,
                    const std::string& at = "$") const {
    if (schema.contains("$ref")) {
      const QString name = schema.value("$ref").toString().section('/', -1);
      return check(v, doc_["components"]["schemas"][name].toObject(), at);
    }
    if (schema.contains("oneOf")) {
      int matches = 0;
      for (const auto& s : schema.value("oneOf").toArray())
        matches += check(v, s.toObject(), at).empty() ? 1 : 0;
      return matches == 1 ? std::string()
                          : at + ": matches " + std::to_string(matches) + " of oneOf";
    }
    if (schema.contains("type")) {
      const QJsonValue t = schema.value("type");
      const QJsonArray types = t.isArray() ? t.toArray() : QJsonArray{t};
      bool ok = false;
      for (const auto& type : types) ok = ok || is(v, type.toString());
      if (!ok) return at + ": not " + QJsonDocument(QJsonArray(types)).toJson().toStdString();
    }
    if (schema.contains("enum") && !schema.value("enum").toArray().contains(v))
      return at + ": not one of the enum";
    if (v.isDouble()) {
      if (schema.contains("minimum") && v.toDouble() < schema.value("minimum").toDouble())
        return at + ": below minimum";
      if (schema.contains("maximum") && v.toDouble() > schema.value("maximum").toDouble())
        return at + ": above maximum";
    }
    if (v.isObject()) {
      const QJsonObject o = v.toObject();
      const QJsonObject props = schema.value("properties").toObject();
      for (const auto& r : schema.value("required").toArray())
        if (!o.contains(r.toString())) return at + ": lacks " + r.toString().toStdString();
      for (auto it = o.begin(); it != o.end(); ++it) {
        const std::string here = at + "." + it.key().toStdString();
        if (!props.contains(it.key())) {
          if (schema.value("additionalProperties") == QJsonValue(false))
            return here + ": not in the schema";
          continue;
        }
        if (auto e = check(it.value(), props.value(it.key()).toObject(), here); !e.empty())
          return e;
      }
    }
    if (v.isArray() && schema.contains("items")) {
      const QJsonArray a = v.toArray();
      for (int i = 0; i < a.size(); ++i)
        if (auto e = check(a.at(i), schema.value("items").toObject(),
                           at + "[" + std::to_string(i) + "]");
            !e.empty())
          return e;
    }
    return {};
  }

 private:
  static bool is(const QJsonValue& v, const QString& type) {
    if (type == "object") return v.isObject();
    if (type == "array") return v.isArray();
    if (type == "string") return v.isString();
    if (type == "boolean") return v.isBool();
    if (type == "null") return v.isNull();
    if (type == "number") return v.isDouble();
    if (type == "integer") return v.isDouble() && std::trunc(v.toDouble()) == v.toDouble();
    return false;
  }
  QJsonObject doc_;
};

}  // namespace qubix::test
