#include "exif/byte_source.h"

#include <algorithm>
#include <cstring>

namespace veltora::exif {

ByteSource ByteSource::FromPath(const char* path, bool keep_open) {
  ByteSource s;
  if (path != nullptr) {
    s.path_ = path;
    s.has_path_ = true;
    if (keep_open) s.kept_ = std::make_shared<SourceReader>();
  }
  return s;
}

void ByteSource::LimitTo(uint64_t end) {
  if (kept_ != nullptr) kept_->limit_ = end;
}

ByteSource ByteSource::FromMemory(std::span<const uint8_t> file_bytes) {
  ByteSource s;
  s.in_memory_ = true;
  s.memory_ = file_bytes;
  return s;
}

bool SourceReader::Open(const ByteSource& source) {
  open_ = false;
  kept_ = nullptr;
  window_.clear();
  window_offset_ = 0;
  if (source.kept_ != nullptr) {
    SourceReader& kept = *source.kept_;
    if (!kept.keeps_head_) {
      kept.keeps_head_ = true;
      ByteSource once = source;
      once.kept_ = nullptr;
      kept.Open(once);
    }
    kept_ = &kept;
    open_ = kept.open_;
    size_ = kept.size_;
    limit_ = kept.limit_;
    return open_;
  }
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

bool SourceReader::ReadFromHead(uint64_t offset, void* out, size_t n) {
  if (offset >= kReadAheadSize) return false;
  if (head_.empty()) {
    head_.resize(static_cast<size_t>(std::min<uint64_t>(size_, kReadAheadSize)));
    head_.resize(ReadFile(0, head_.data(), head_.size()));
  }
  if (n > head_.size() - std::min<uint64_t>(offset, head_.size())) return false;
  std::memcpy(out, head_.data() + offset, n);
  return true;
}

bool SourceReader::CoverWithWindow(uint64_t offset, size_t n) {
  const uint64_t window_end = window_offset_ + window_.size();
  if (offset >= window_offset_ && n <= window_end - std::min(offset, window_end) &&
      offset <= window_end) {
    return true;  // already inside
  }
  // Read a page beyond what is asked, but never past the end of the file.
  const uint64_t want_end = std::min<uint64_t>(size_, offset + std::max<uint64_t>(n, kReadAheadSize));
  if (!keeps_head_ && !window_.empty() && offset >= window_offset_ &&
      offset <= window_end + kMaxWindow && want_end - window_offset_ <= kMaxWindow) {
    const size_t old_size = window_.size();
    window_.resize(static_cast<size_t>(want_end - window_offset_));
    size_t got = ReadFile(window_end, window_.data() + old_size, window_.size() - old_size);
    window_.resize(old_size + got);
    return true;
  }
  if (n > kReadAheadSize) return false;
  window_offset_ = offset;
  window_.resize(static_cast<size_t>(want_end - offset));
  window_.resize(ReadFile(offset, window_.data(), window_.size()));
  return true;
}

size_t SourceReader::ReadAt(uint64_t offset, void* out, size_t n) {
  if (!open_ || offset >= size() || n == 0) return 0;
  const size_t want = static_cast<size_t>(std::min<uint64_t>(n, size() - offset));
  if (kept_ != nullptr) return kept_->ReadAt(offset, out, want);
  if (in_memory_) {
    std::memcpy(out, memory_.data() + offset, want);
    return want;
  }
  if (keeps_head_ && ReadFromHead(offset, out, want)) return want;
  if (!CoverWithWindow(offset, want)) return ReadFile(offset, out, want);
  const uint64_t window_end = window_offset_ + window_.size();
  if (offset >= window_end) return 0;
  const size_t at = static_cast<size_t>(offset - window_offset_);
  const size_t got = std::min(want, window_.size() - at);
  std::memcpy(out, window_.data() + at, got);
  return got;
}

}  // namespace veltora::exif
