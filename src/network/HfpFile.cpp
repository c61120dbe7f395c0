#include "network/HfpFile.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "files/LittleEndian.h"
#include "network/MachineList.h"

namespace qubix::network {

std::int32_t HfpChecksum(const HfpImage& image) {
  std::int32_t sum = 0;
  for (std::size_t i = 0; i < kHfpSummedBytes; ++i) sum += static_cast<std::int8_t>(image[i]);
  return sum;
}

std::int32_t HfpStoredChecksum(const HfpImage& image) {
  return static_cast<std::int32_t>(files::GetLe32(image.data() + kHfpChecksumOffset));
}

bool HfpChecksumOk(const HfpImage& image) { return HfpChecksum(image) == HfpStoredChecksum(image); }

void SealHfpImage(HfpImage& image) {
  files::PutLe32(image.data() + kHfpChecksumOffset, static_cast<std::uint32_t>(HfpChecksum(image)));
}

HfpReadResult ReadHfpFile(const std::string& path) {
  HfpReadResult result;
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    result.error = HfpFileError::Missing;
    result.detail = "no such file: " + path;
    return result;
  }
  std::string bytes;
  if (!ReadWholeFile(path, kHfpFileSize, bytes, &result.detail)) {
    result.error = HfpFileError::Unreadable;
    return result;
  }
  result.fileSize = std::filesystem::file_size(path, ec);
  if (ec) {
    result.error = HfpFileError::Unreadable;
    result.detail = "cannot size " + path + ": " + ec.message();
    return result;
  }
  std::copy(bytes.begin(), bytes.end(), result.image.begin());
  const std::size_t got = bytes.size();
  if (result.fileSize != kHfpFileSize || got != kHfpFileSize) {
    result.error = HfpFileError::WrongSize;
    result.detail = path + " is " + std::to_string(result.fileSize) +
                    " bytes, an Extra preset is " + std::to_string(kHfpFileSize);
  }
  return result;
}

std::string HfpPicturePath(const std::string& hfpPath) {
  std::filesystem::path p(hfpPath);
  p.replace_extension(".jpg");
  return p.string();
}

}  // namespace qubix::network
