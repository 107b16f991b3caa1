#include "host/not_exif_hint.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace veltora::host {
namespace {

// The EXIF segment and what precedes it lie in the first few segments of at
// most 64 KiB each; a hint is worth no more reading than this.
constexpr size_t kHeaderBytesRead = 256 << 10;

struct HeaderSegments {
  bool app0 = false;
  bool exif_app1 = false;
  bool app1_after_exif = false;  // another APP1 follows the EXIF one
};

HeaderSegments ScanHeaderSegments(const std::vector<uint8_t>& bytes) {
  HeaderSegments found;
  size_t at = 2;  // behind SOI
  while (at + 4 <= bytes.size() && bytes[at] == 0xFF) {
    const uint8_t marker = bytes[at + 1];
    if (marker == 0xDA || marker == 0xD9) break;  // start of scan, end of image
    const size_t length = size_t{bytes[at + 2]} << 8 | bytes[at + 3];
    if (marker == 0xE0) found.app0 = true;
    if (marker == 0xE1) {
      const bool exif = at + 10 <= bytes.size() && std::memcmp(&bytes[at + 4], "Exif\0", 5) == 0;
      if (found.exif_app1 && !exif) found.app1_after_exif = true;
      found.exif_app1 = found.exif_app1 || exif;
    }
    at += 2 + length;
  }
  return found;
}

}  // namespace

std::optional<Cause> NotExifHint(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  std::ifstream file(path, std::ios::binary);
  std::vector<uint8_t> bytes(kHeaderBytesRead);
  file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(file.gcount()));
  if (bytes.size() < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8) return std::nullopt;
  const HeaderSegments found = ScanHeaderSegments(bytes);
  if (!found.exif_app1) return std::nullopt;
  if (found.app0) {
    return Cause{"JFIF", "the file does carry EXIF data (an APP1 segment), but also an APP0 (JFIF) segment, "
           "and the plug-in takes a JPEG with an APP0 segment for one without EXIF data"};
  }
  if (found.app1_after_exif) {
    return Cause{"APP1 behind EXIF",
                 "the file does carry EXIF data (an APP1 segment), but another APP1 segment (XMP) follows "
           "it, and the plug-in looks for EXIF data in the last APP1 segment only"};
  }
  return std::nullopt;
}

}  // namespace veltora::host
