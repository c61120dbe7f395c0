// Opening a file for reading without waiting for anything. A named pipe in the place of a file
// holds an ordinary open(2) until some other program opens it for writing, and a read of it
// until that program writes: the program would stop for good. Every reader of the program's
// files opens them here, without blocking, and takes only a regular file.
#pragma once

#include <filesystem>
#include <string>

namespace qubix::files {

// open(2) with O_RDONLY | O_NONBLOCK | O_CLOEXEC and the extra flags (O_NOFOLLOW, say): never
// waits, whatever path names. The descriptor keeps O_NONBLOCK (no regular file minds it), so a
// caller that checks the kind of file itself after fstat(2) cannot be held either. -1 with errno
// set when it cannot be opened.
int OpenWithoutWaiting(const std::filesystem::path& path, int extraFlags = 0);

// Opens path for reading when it is a regular file. Else -1, with errno set (ENOENT when there is
// no such file; EINVAL for a named pipe, a folder, a device or a socket) and error naming the
// file and the reason ("/data/maclist.dat is a named pipe, not a file").
int OpenRegularFile(const std::filesystem::path& path, std::string& error, int extraFlags = 0);

// Reads at most limit bytes from the start of a regular file; false when it cannot be opened or
// read, or is no regular file, with error (when given) naming the file and the reason.
bool ReadFilePrefix(const std::filesystem::path& path, std::size_t limit, std::string& bytes,
                    std::string* error = nullptr);

}  // namespace qubix::files
