#include "editor/FilterImport.h"

#include <algorithm>
#include <cmath>
#include <span>

#include "files/DurableFile.h"
#include "files/RegularFile.h"

namespace qubix::editor {
namespace {

constexpr std::size_t kFilterFileLimit = 1 << 20;

std::string FileText(const std::filesystem::path& path) { return "\"" + path.string() + "\""; }

}  // namespace

filters::FilterReadResult ReadFilterFile(const std::filesystem::path& path) {
  std::string bytes;
  if (std::string why; !files::ReadFilePrefix(path, kFilterFileLimit + 1, bytes, &why))
    return {std::nullopt, FileText(path) + " cannot be read (" + why + ")"};
  if (bytes.size() > kFilterFileLimit)
    return {std::nullopt, FileText(path) + " is too large for a filter file"};
  filters::FilterReadResult result = filters::ParseFilterText(bytes);
  if (!result.ok()) result.error = FileText(path) + ", " + result.error;
  return result;
}

bool WriteFilterFile(const std::filesystem::path& path, const filters::FilterBands& bands,
                     std::string& error) {
  const std::string text = filters::WriteFilterText(bands);
  const auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
  return files::ReplaceFile(path, std::span(data, text.size()), error);
}

filters::FilterBands EditorFilterBands(const EditorState& state) { return state.bandSettings(); }

ImportOutcome ApplyImportedFilters(EditorState& state, const filters::FilterImport& filters,
                                   bool usePreamp) {
  ImportOutcome out;
  out.changes = filters.changes;
  if (state.editorNotShown() || state.selectedMachineId().empty() || !state.machineSelected()) {
    out.reason = importtexts::kNotOpen;
    return out;
  }
  const protocol::FaultWatch watch = state.watchFaults();
  bool sent = state.LoadBands(filters.bands);

  if (usePreamp && filters.preampDb) {
    const double db = *filters.preampDb;
    const double steps = std::round(db * 2.0);
    // The up-downs keep the gains within their range: what they took is what is sent.
    sent = state.SetBothInputGains(static_cast<int>(std::clamp(steps, -1000.0, 1000.0))) && sent;
    const double taken = state.gainUpDown()[0] * 0.5;
    if (taken != db)
      out.changes.push_back("Preamp " + ShortNumber(db) + " dB set as " + ShortNumber(taken) +
                            " dB on both input gains");
  }
  const protocol::Outcome outcome = state.BandsOutcome().also(watch.outcome());
  out.sent = sent && outcome.ok;
  if (!out.sent) out.reason = outcome.ok ? std::string(importtexts::kNotAllSent) : outcome.reason;
  return out;
}

void ImportFiltersFromFile(EditorState& state) {
  link::Frontend& fe = state.frontend();
  const auto path = fe.askOpenFile(importtexts::kImportCaption, importtexts::kFileFilter,
                                   state.dataDir().string());
  if (!path) return;
  const filters::FilterReadResult read = ReadFilterFile(*path);
  if (!read.ok()) {
    fe.messageBox(read.error, importtexts::kImportCaption, link::Buttons::Ok);
    return;
  }
  bool usePreamp = false;
  if (read.filters->preampDb) {
    const std::string question = "The file sets a preamp of " +
                                 ShortNumber(*read.filters->preampDb) +
                                 " dB. Set both input gains to it?";
    usePreamp = fe.messageBox(question, importtexts::kImportCaption, link::Buttons::YesNo) ==
                link::Answer::Yes;
  }
  if (state.editorNotShown() || state.selectedMachineId().empty()) {
    fe.messageBox(importtexts::kNotOpen, importtexts::kImportCaption, link::Buttons::Ok);
    return;
  }
  const ImportOutcome outcome = ApplyImportedFilters(state, *read.filters, usePreamp);
  std::string report;
  for (const auto& line : outcome.changes) report += (report.empty() ? "" : "\n") + line;
  if (!outcome.sent)
    fe.messageBox(std::string(importtexts::kNotAllSent) + (report.empty() ? "" : "\n\n" + report),
                  importtexts::kImportCaption, link::Buttons::Ok);
  else if (!report.empty())
    fe.messageBox("Changed to fit the bands:\n" + report, importtexts::kImportCaption,
                  link::Buttons::Ok);
}

void ExportFiltersToFile(EditorState& state) {
  link::Frontend& fe = state.frontend();
  const auto path = fe.askSaveFile(importtexts::kExportCaption, importtexts::kFileFilter,
                                   state.dataDir().string());
  if (!path) return;
  std::string error;
  if (!WriteFilterFile(*path, EditorFilterBands(state), error))
    fe.messageBox(error, importtexts::kExportCaption, link::Buttons::Ok);
}

}  // namespace qubix::editor
