// What every fuzz target shares: the entry point's declaration, a scratch folder of the process's
// own for readers that take a path (emptied for each input), and a stop that no build type can
// compile away.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace qubix::fuzz {

// A folder made once per process and removed when it ends, so that parallel runs never share
// files.
inline const std::filesystem::path& ScratchDir() {
  struct Dir {
    std::filesystem::path path;
    Dir() {
      std::string pattern = (std::filesystem::temp_directory_path() / "qubix-fuzz-XXXXXX").string();
      if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
      }
      path = pattern;
    }
    ~Dir() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  };
  static const Dir dir;
  return dir.path;
}

// The scratch folder emptied: each input starts from the same state, whatever the input before
// left there (files it wrote, copies of bad files set aside, folders made).
inline const std::filesystem::path& CleanScratchDir() {
  const auto& dir = ScratchDir();
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator(dir, ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
    std::filesystem::remove_all(it->path(), ec);
  return dir;
}

// Writes the input to a file of this name in the scratch folder and returns its path.
inline std::filesystem::path WriteScratchFile(std::string_view name,
                                              std::span<const std::uint8_t> bytes) {
  auto path = ScratchDir() / name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() ||
      std::fclose(f) != 0) {
    std::perror(path.c_str());
    std::abort();
  }
  return path;
}

// A broken promise of a reader: ends the run so that the input is kept as a crasher.
[[noreturn]] inline void Broken(const char* what) {
  std::fprintf(stderr, "broken: %s\n", what);
  std::abort();
}

}  // namespace qubix::fuzz
