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
#include <string_view>

namespace qubix::files {

enum class Existing {
  Replace,  // the new file takes the place of an existing one
  Keep,     // an existing file is left alone and the write reports that it exists
};

enum class WriteResult { Written, AlreadyExists, Failed };

// Writes bytes as the whole content of path. On Failed, error names the file and the reason
// (the system's text). The previous file, if any, is as it was, except when only the last step
// failed, flushing the folder after the rename: then the new file may be in place (until a power
// cut perhaps undoes the rename) and the reason says so. A caller that writes a pair of files
// therefore writes the second one even when the first reports Failed, or the pair may disagree.
// Where the file system has no hard links, Existing::Keep creates the name with
// renameat2(RENAME_NOREPLACE) or, lacking that too, by reserving it with O_EXCL first.
WriteResult WriteWholeFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                           std::string& error, Existing existing = Existing::Replace);

// Replaces path; true on success, else error as above.
inline bool ReplaceFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                        std::string& error) {
  return WriteWholeFile(path, bytes, error) == WriteResult::Written;
}

// Moves a file that must not be taken as valid out of the way as NAME.bad (NAME.bad2, … when
// that exists), so that nothing is lost and nothing reads it again. The new path, or empty with
// error set.
std::optional<std::filesystem::path> SetAside(const std::filesystem::path& path,
                                              std::string& error);

// The process id of the writer that made name (a file name without folder) as its temporary
// file; empty for any other name.
std::optional<long> TemporaryFileOwner(std::string_view name);

// Removes the temporary files a killed writer left in the folder dirFd refers to: those whose
// writer is no longer running. A running writer's files, this process's and anything that is
// not a regular file stay. Failures are ignored (a read-only folder keeps its leftovers). The
// number removed.
int RemoveLeftoverTemporaries(int dirFd);

// For tests of file systems that lack a feature or fail: link(2) fails with EPERM, renameat2's
// RENAME_NOREPLACE with EINVAL, and flushing a folder with EIO, as asked; all false turns it off.
struct SimulatedFileSystem {
  bool noHardLinks = false;
  bool noRenameNoReplace = false;
  bool folderFlushFails = false;
};
void SimulateFileSystem(SimulatedFileSystem faults);

// For tests of a full disk: every write of file contents fails with "No space left on device"
// once this many more bytes have been written by this process; empty turns it off.
void SimulateFullDiskAfter(std::optional<std::uint64_t> bytes);

}  // namespace qubix::files
