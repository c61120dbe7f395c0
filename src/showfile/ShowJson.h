// A machine's settings and a show file as JSON, for the service's API and the command-line
// tool's snapshot files: one writer, and strict readers that name the field at fault (an
// unknown field, a value of the wrong type, a value outside the editor's limits; never
// clamped).
#pragma once

#include <QJsonObject>
#include <optional>
#include <string>

#include "editor/ShowSnapshot.h"

namespace qubix::showfile {

// Bytes from a processor or a file (identifiers, names), each one a Latin-1 character.
QString Latin1(const std::string& bytes);

// Why a JSON body was refused: status 400 with code "bad_json", "unknown_field" or
// "out_of_range" (the latter with the field's limits).
struct JsonError {
  std::string code;
  std::string message;
  std::string field;
  std::optional<double> min, max;
  QJsonObject toJson() const;
};

QJsonObject MachineToJson(const editor::MachineValues& machine);
// Every field of a machine (as MachineToJson writes it) must be there.
std::optional<JsonError> MachineFromJson(const QJsonObject& json, editor::MachineValues& machine);
// Any subset of the changeable fields: inputGain, attenuation, delay, mute (an array of four or
// {"1": true, ...}), ampLevel, flat, bands ([{"band": 4, "gain": 6}, ...]).
std::optional<JsonError> ChangeFromJson(const QJsonObject& json, editor::MachineChange& change);

// {"machines": [machine, ...]}
QJsonObject SnapshotToJson(const editor::ShowSnapshot& show);
std::optional<JsonError> SnapshotFromJson(const QJsonObject& json, editor::ShowSnapshot& show);

// A text as a JSON document's object, or the reason it is not one.
std::optional<JsonError> ParseObject(const std::string& text, QJsonObject& out);

}  // namespace qubix::showfile
