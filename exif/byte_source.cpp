#include "exif/byte_source.h"

#include <algorithm>
#include <cstring>

namespace veltora::exif {

ByteSource ByteSource::FromPath(const char* path) {
  ByteSource s;
  if (path != nullptr) {
    s.path_ = path;
    s.has_path_ = true;
  }
  return s;
}

ByteSource ByteSource::FromMemory(std::span<const uint8_t> file_bytes) {
  ByteSource s;
  s.in_memory_ = true;
  s.memory_ = file_bytes;
  return s;
}

bool SourceReader::Open(const ByteSource& source) {
  open_ = false;
  ahead_size_ = 0;
  if (source.in_memory()) {
    in_memory_ = true;
    memory_ = source.memory();
    size_ = memory_.size();
    open_ = true;
    return true;
  }
  if (!source.has_path()) return false;
  platform::File file;
  if (platform::File::Open(source.path().c_str(), platform::File::Access::kRead, &file) != 0) {
    return false;
  }
  uint64_t size = 0;
  if (file.Size(&size) != 0) return false;
  file_ = std::move(file);
  size_ = size;
  in_memory_ = false;
  open_ = true;
  return true;
}

size_t SourceReader::ReadFile(uint64_t offset, void* out, size_t n) {
  size_t got = 0;
  if (file_.ReadAt(offset, out, n, &got) != 0) return 0;
  return got;
}

size_t SourceReader::ReadAt(uint64_t offset, void* out, size_t n) {
  if (!open_ || offset >= size_ || n == 0) return 0;
  const size_t want = static_cast<size_t>(std::min<uint64_t>(n, size_ - offset));
  if (in_memory_) {
    std::memcpy(out, memory_.data() + offset, want);
    return want;
  }
  if (want > kReadAheadSize) return ReadFile(offset, out, want);
  const bool buffered = offset >= ahead_offset_ && offset - ahead_offset_ <= ahead_size_ &&
                        want <= ahead_size_ - (offset - ahead_offset_);
  if (!buffered) {
    ahead_offset_ = offset;
    ahead_size_ = ReadFile(offset, ahead_.data(), kReadAheadSize);
  }
  const size_t at = static_cast<size_t>(offset - ahead_offset_);
  const size_t got = std::min(want, ahead_size_ - std::min(at, ahead_size_));
  std::memcpy(out, ahead_.data() + at, got);
  return got;
}

}  // namespace veltora::exif
