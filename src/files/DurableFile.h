// Whole-file writes that never leave half a file behind. Every binary file of the program goes
// through here: the bytes go to a uniquely named temporary file in the target's folder, which is
// flushed to disk and then renamed over the target; the folder is flushed last so that the
// rename itself survives a power cut. Two processes writing the same name never share a
// temporary file, and a reader sees either the old file or the new one, never a mixture.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace qubix::files {

enum class Existing {
  Replace,  // the new file takes the place of an existing one
  Keep,     // an existing file is left alone and the write reports that it exists
};

enum class WriteResult { Written, AlreadyExists, Failed };

// Writes bytes as the whole content of path. On Failed, error names the file and the reason
// (the system's text), and the previous file, if any, is as it was.
WriteResult WriteWholeFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                           std::string& error, Existing existing = Existing::Replace);

// Replaces path; true on success, else error as above.
inline bool ReplaceFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                        std::string& error) {
  return WriteWholeFile(path, bytes, error) == WriteResult::Written;
}

// Reads at most limit bytes from the start of a file; false when it cannot be opened or read.
bool ReadFilePrefix(const std::filesystem::path& path, std::size_t limit, std::string& bytes);

// Moves a file that must not be taken as valid out of the way as NAME.bad (NAME.bad2, … when
// that exists), so that nothing is lost and nothing reads it again. The new path, or empty with
// error set.
std::optional<std::filesystem::path> SetAside(const std::filesystem::path& path,
                                              std::string& error);

// For tests of a full disk: every write of file contents fails with "No space left on device"
// once this many more bytes have been written by this process; empty turns it off.
void SimulateFullDiskAfter(std::optional<std::uint64_t> bytes);

}  // namespace qubix::files
