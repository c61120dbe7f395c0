// User preset files: whatever the reader accepts fits the editor's controls and, once written,
// reads back as written.
#include "FuzzSupport.h"
#include "editor/UserPresetFile.h"

using namespace qubix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::CleanScratchDir();
  const auto path = fuzz::WriteScratchFile("preset.vup", {data, size});
  const auto read = editor::ReadUserPresetFile(path.string());
  if (!read.ok()) {
    if (read.detail.empty()) fuzz::Broken("a refused file without a reason");
    return 0;
  }
  if (size < editor::kUserPresetFileSize) fuzz::Broken("a short file accepted");
  if (!editor::CheckUserPreset(read.record).empty())
    fuzz::Broken("an accepted value no control fits");
  const auto image = editor::EncodeUserPreset(read.record);
  if (editor::EncodeUserPreset(editor::DecodeUserPreset(image)) != image)
    fuzz::Broken("not read back as written");
  return 0;
}
