#include "exif/byte_source.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/hot_path.h"

namespace veltora::exif {
namespace {

// Room for a kept source's first read. A query asks the heap for no block of
// this size: a request this large makes the allocator first sort every small
// block the host freed before, and after a host's own heavy work that cost
// more than the query's reads. The plug-in lends rooms of its own instead; a
// source opened while every room is lent (more queries at once than rooms)
// takes one from the heap. A room is left uninitialised: the read fills what
// it uses.
struct Room {
  std::atomic<bool> lent{false};
  uint8_t bytes[SourceReader::kHeadSize];
};
// A host asks a few queries at once, one per worker thread; more than this
// many at once take their rooms from the heap, which is correct, only slower.
constexpr size_t kRooms = 8;
Room rooms[kRooms];

// A room lent for as long as the access that reads into it lives.
class RoomLease {
 public:
  RoomLease() {
    for (Room& room : rooms) {
      if (!room.lent.exchange(true, std::memory_order_acquire)) {
        room_ = &room;
        return;
      }
    }
    own_ = std::make_unique_for_overwrite<uint8_t[]>(SourceReader::kHeadSize);
  }
  RoomLease(const RoomLease&) = delete;
  RoomLease& operator=(const RoomLease&) = delete;
  ~RoomLease() {
    if (room_ != nullptr) room_->lent.store(false, std::memory_order_release);
  }
  uint8_t* bytes() const { return room_ != nullptr ? room_->bytes : own_.get(); }

 private:
  Room* room_ = nullptr;
  std::unique_ptr<uint8_t[]> own_;
};

// The access a kept source holds and its room, given back after the access
// is gone.
struct KeptAccess {
  RoomLease room;
  SourceReader reader;
};

}  // namespace

VELTORA_HOT ByteSource ByteSource::FromPath(const char* path, bool keep_open) {
  ByteSource s;
  if (path != nullptr) {
    s.path_ = path;
    s.has_path_ = true;
    if (keep_open) {
      auto kept = std::make_shared<KeptAccess>();
      kept->reader.head_ = kept->room.bytes();
      s.kept_ = std::shared_ptr<SourceReader>(kept, &kept->reader);
    }
  }
  return s;
}

VELTORA_HOT void ByteSource::LimitTo(uint64_t end) {
  if (kept_ != nullptr) kept_->limit_ = end;
}

ByteSource ByteSource::FromOpenFile(platform::File* file, const char* path) {
  ByteSource s = FromPath(path);
  s.open_file_ = file;
  return s;
}

ByteSource ByteSource::FromMemory(std::span<const uint8_t> file_bytes) {
  ByteSource s;
  s.in_memory_ = true;
  s.memory_ = file_bytes;
  return s;
}

VELTORA_HOT bool SourceReader::Open(const ByteSource& source) {
  open_ = false;
  kept_ = nullptr;
  borrowed_ = nullptr;
  window_.clear();
  window_offset_ = 0;
  if (source.kept_ != nullptr) {
    SourceReader& kept = *source.kept_;
    if (!kept.keeps_head_) {
      kept.keeps_head_ = true;
      kept.OpenKept(source.path());
    }
    kept_ = &kept;
    return kept.open_;
  }
  if (source.in_memory()) {
    in_memory_ = true;
    memory_ = source.memory();
    size_ = memory_.size();
    size_known_ = true;
    open_ = true;
    return true;
  }
  if (!source.has_path()) return false;
  if (source.open_file_ != nullptr) {
    if (source.open_file_->Size(&size_) != 0) return false;
    borrowed_ = source.open_file_;
    size_known_ = true;
    in_memory_ = false;
    open_ = true;
    return true;
  }
  platform::File file;
  if (platform::File::Open(source.path().c_str(), platform::File::Access::kRead, &file) != 0) {
    return false;
  }
  uint64_t size = 0;
  if (file.Size(&size) != 0) return false;
  file_ = std::move(file);
  size_ = size;
  size_known_ = true;
  in_memory_ = false;
  open_ = true;
  return true;
}

VELTORA_HOT void SourceReader::OpenKept(const std::string& path) {
  if (platform::File::Open(path.c_str(), platform::File::Access::kReadExaminedLater, &file_) !=
      0) {
    return;
  }
  size_t got = 0;
  // A directory or a FIFO fails here, as its open would have.
  if (file_.ReadAt(0, head_, kHeadSize, &got) != 0) {
    file_.Close();
    return;
  }
  head_size_ = got;
  // A regular file that ends within the first read is as long as the read:
  // it need not be asked. (A device that answers a short read is taken at its
  // word too: like an empty file it holds no EXIF data that a query could
  // answer differently.)
  if (got < kHeadSize) {
    size_ = got;
    size_known_ = true;
  }
  open_ = true;
}

VELTORA_HOT uint64_t SourceReader::size() {
  if (kept_ != nullptr) return kept_->size();
  if (!size_known_) {
    size_known_ = true;
    if (file_.Size(&size_) != 0) {
      // Not a regular file after all: nothing more is read from it.
      size_ = 0;
      head_size_ = 0;
      open_ = false;
    }
  }
  return std::min(size_, limit_);
}

VELTORA_HOT bool SourceReader::HasBytes(uint64_t end) {
  if (kept_ != nullptr) return kept_->HasBytes(end);
  if (end <= head_size_ && end <= limit_) return true;
  return size() >= end;
}

VELTORA_HOT std::span<const uint8_t> SourceReader::Held(uint64_t offset, size_t n) {
  if (kept_ != nullptr) return kept_->Held(offset, n);
  if (!open_ || n == 0 || offset + n > limit_) return {};
  if (offset < head_size_ && n <= head_size_ - offset) return {head_ + offset, n};
  // offset < size_, the size of the memory span, so it fits a size_t.
  if (in_memory_ && offset < size_ && n <= size_ - offset) return memory_.subspan(static_cast<size_t>(offset), n);
  return {};
}

VELTORA_HOT size_t SourceReader::ReadFile(uint64_t offset, void* out, size_t n) {
  size_t got = 0;
  platform::File& file = borrowed_ != nullptr ? *borrowed_ : file_;
  if (file.ReadAt(offset, out, n, &got) != 0) return 0;
  return got;
}

VELTORA_HOT bool SourceReader::CoverWithWindow(uint64_t offset, size_t n) {
  const uint64_t window_end = window_offset_ + window_.size();
  if (offset >= window_offset_ && n <= window_end - std::min(offset, window_end) &&
      offset <= window_end) {
    return true;  // already inside
  }
  // Read a page beyond what is asked, but never past the end of the file. The
  // first read takes what a query's first read takes: the segments up to the
  // compressed data and the EXIF block of most files, so the load that
  // follows the walk needs no second read.
  const size_t ahead = !keeps_head_ && window_.empty() ? kHeadSize : kReadAheadSize;
  const uint64_t want_end = std::min<uint64_t>(size_, offset + std::max<uint64_t>(n, ahead));
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

VELTORA_HOT size_t SourceReader::ReadAt(uint64_t offset, void* out, size_t n) {
  if (kept_ != nullptr) return kept_->ReadAt(offset, out, n);
  if (!open_ || n == 0) return 0;
  // Within the first read: no size needed.
  if (offset < head_size_ && n <= head_size_ - offset && offset + n <= limit_) {
    std::memcpy(out, head_ + offset, n);
    return n;
  }
  // Asking the size may close a file found not to be regular: its size is 0.
  if (offset >= size()) return 0;
  const size_t want = static_cast<size_t>(std::min<uint64_t>(n, size() - offset));
  if (in_memory_) {
    std::memcpy(out, memory_.data() + offset, want);
    return want;
  }
  if (offset < head_size_ && want <= head_size_ - offset) {
    std::memcpy(out, head_ + offset, want);
    return want;
  }
  if (!CoverWithWindow(offset, want)) return ReadFile(offset, out, want);
  const uint64_t window_end = window_offset_ + window_.size();
  if (offset >= window_end) return 0;
  const size_t at = static_cast<size_t>(offset - window_offset_);
  const size_t got = std::min(want, window_.size() - at);
  std::memcpy(out, window_.data() + at, got);
  return got;
}

}  // namespace veltora::exif
