#include "query/query_support.h"

#include <cstring>
#include <new>
#include <vector>

#include "frame/format_detection.h"
#include "platform/hot_path.h"
#include "platform/local_time.h"

namespace veltora::query {

VELTORA_HOT bool IsJpegOrTiffPath(const char* path) {
  const ImageFormat format = DetectImageFormat(path);
  return format == ImageFormat::kJpeg || format == ImageFormat::kTiff;
}

VELTORA_HOT bool IsCalendarDateTime(const SYSTEMTIME& t) {
  return platform::IsValidDateTime(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
}

std::optional<std::string> FetchText(const exif::IfdEntry& entry, uint32_t available_bytes,
                                     const ValueFetch& fetch) {
  // Values of four bytes or less sit in the entry itself, whatever is loaded.
  const uint32_t limit = available_bytes < 4 ? 4 : available_bytes;
  if (entry.count == 0 || entry.count > limit) return std::nullopt;
  std::vector<char> buffer(entry.count);
  const uint32_t items = fetch(&entry, buffer.data(), entry.count);
  if (items == 0) return std::nullopt;
  return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

void RequireGrowth(bool grown) {
  if (!grown) throw std::bad_alloc();
}

}  // namespace veltora::query
