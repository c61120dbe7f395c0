// Measured filters in and out of the editor: a filter text file read into the ten bands and sent
// to the processor, and the bands written out as a filter text file (filters/FilterText.h).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "editor/EditorState.h"
#include "filters/FilterText.h"

namespace qubix::editor {

namespace importtexts {
inline constexpr std::string_view kImportCaption = "Import Filters";
inline constexpr std::string_view kExportCaption = "Export Filters";
inline constexpr std::string_view kFileFilter = "Filter text (*.txt)";
inline constexpr std::string_view kNotOpen =
    "The editor is not open on a processor: nothing was sent.";
inline constexpr std::string_view kNotAllSent =
    "The processor did not take every imported band: what it holds may differ from the editor.";
}  // namespace importtexts

// Reads a filter text file (at most 1 MiB); a file that cannot be read is an error naming it.
filters::FilterReadResult ReadFilterFile(const std::filesystem::path& path);
// Writes the bands in the equaliser-script form, durably; false with error naming the file.
bool WriteFilterFile(const std::filesystem::path& path, const filters::FilterBands& bands,
                     std::string& error);

// The bands the editor's strips hold.
filters::FilterBands EditorFilterBands(const EditorState& state);

struct ImportOutcome {
  bool sent = false;                 // every band (and the input gains) went out and was taken
  std::string reason;                // when not sent: the first thing that was not taken
  std::vector<std::string> changes;  // the reader's limits, then the preamp's
};

// The one place an import changes the editor (an undo step wraps this call): the ten bands go to
// the strips and out to the processor one by one as the operator's own band changes do, and with
// usePreamp a "Preamp" of the file becomes both input gains (one input gain frame), limited to
// their half-dB steps. A "Flat" editor shows the imported bands ("EQ"). Nothing is sent when the
// editor is not open on a processor.
ImportOutcome ApplyImportedFilters(EditorState& state, const filters::FilterImport& filters,
                                   bool usePreamp);

// The response graph's menu: asks for the file (and, when it has a preamp, whether to apply it),
// imports or exports, and shows every refusal, change and failure in a box.
void ImportFiltersFromFile(EditorState& state);
void ExportFiltersToFile(EditorState& state);

}  // namespace qubix::editor
