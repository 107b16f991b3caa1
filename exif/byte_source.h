// Where a reader's file bytes come from: a file named by a path, opened for
// one access and closed again, or a block of memory that stands for the whole
// file (loaded files, and the fuzzers). Both are read through the same calls,
// so the same parsing code serves both.
#ifndef VELTORA_EXIF_BYTE_SOURCE_H_
#define VELTORA_EXIF_BYTE_SOURCE_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/file.h"

namespace veltora::exif {

class SourceReader;

// The allocator of a buffer that a read fills at once: growing it leaves the
// new bytes as they are instead of zeroing what the read then overwrites.
template <typename T>
struct FilledByReadAllocator : std::allocator<T> {
  FilledByReadAllocator() = default;
  template <typename U>
  FilledByReadAllocator(const FilledByReadAllocator<U>&) noexcept {}
  template <typename U>
  void construct(U* at) noexcept {
    ::new (static_cast<void*>(at)) U;
  }
  template <typename U, typename... Args>
  void construct(U* at, Args&&... args) {
    ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
  }
};

// A description of the bytes, cheap to copy; nothing is open, unless the
// source keeps its file open (see FromPath).
class ByteSource {
 public:
  ByteSource() = default;
  // A null path gives a source that never opens. With `keep_open` the file is
  // opened once, by the first access, and stays open with what was read of it
  // until the last copy of the source is gone: a reader that looks at a few
  // scattered fields then costs one open, and each page it needs one read.
  // A first opening that fails is not retried.
  static ByteSource FromPath(const char* path, bool keep_open = false);
  // The memory must outlive every reader built on the source.
  static ByteSource FromMemory(std::span<const uint8_t> file_bytes);
  // Reads through `file`, which the caller opened and keeps open for as long
  // as any reader uses the source (a call that reads a file and then writes
  // it in place opens it once); `path` names it.
  static ByteSource FromOpenFile(platform::File* file, const char* path);

  bool has_path() const { return has_path_; }
  bool in_memory() const { return in_memory_; }
  const std::string& path() const { return path_; }
  std::span<const uint8_t> memory() const { return memory_; }
  // A source that keeps its file open ends, for every later access, at
  // `end` when the file is longer: the bounds of bytes the reader would
  // otherwise have loaded. No effect on other sources.
  void LimitTo(uint64_t end);

 private:
  friend class SourceReader;
  std::string path_;
  bool has_path_ = false;
  bool in_memory_ = false;
  std::span<const uint8_t> memory_;
  platform::File* open_file_ = nullptr;  // the caller's, for FromOpenFile
  std::shared_ptr<SourceReader> kept_;  // the open access of a source that keeps it
};

// One open access to a source: the file is open from a successful Open until
// the reader is destroyed. Reads are served from a window of the file so that
// walking segment headers and directories costs one system call per
// kReadAheadSize bytes, not one per field. A short forward jump extends the
// window instead of moving it: the walk jumps over the APP1 segment that the
// load reads next, so reading the gap once serves both. Large reads outside
// the window go straight to the file.
//
// The access of a source that keeps its file open loads nothing whole, so
// it reads no gap: its first read takes the file's first kHeadSize bytes,
// which it keeps apart, and it moves its window on every jump. It asks the
// file's size only when a read or a question goes beyond those bytes.
class SourceReader {
 public:
  // Segment headers, a directory entry table and an IFD are all read in pieces
  // well under one page; a page-sized window catches most neighbours.
  static constexpr size_t kReadAheadSize = 4096;
  // The segments in front of the compressed data, the TIFF header and the
  // first directories of most camera files lie within this many bytes (five
  // in six files of the test corpus), so one read answers a query; copying
  // them costs less than a second read.
  static constexpr size_t kHeadSize = 16 * 1024;
  // An APP1 segment is at most 64 KiB; together with the segments around it a
  // window of this size holds everything a query reads in almost every file,
  // while a query's memory stays far below half a megabyte.
  static constexpr size_t kMaxWindow = 192 * 1024;

  SourceReader() = default;
  SourceReader(const SourceReader&) = delete;
  SourceReader& operator=(const SourceReader&) = delete;

  // False when the source has no path or its file cannot be opened or sized
  // (a kept source: or its first read fails, as it does on a directory or a
  // FIFO).
  bool Open(const ByteSource& source);
  bool is_open() const { return kept_ != nullptr ? kept_->open_ : open_; }
  // The size of the file within its limit. A kept source that has not read
  // its end yet asks the system here, once; a file that then proves not to
  // be a regular file is closed to every later read and has size 0.
  uint64_t size();
  // True when the source holds at least `end` bytes: answered from the first
  // read of a kept source when that covers `end`, without asking the size.
  bool HasBytes(uint64_t end);

  // Reads up to n bytes at `offset`; the count read is less than n only at
  // the end of the file or after a read error.
  size_t ReadAt(uint64_t offset, void* out, size_t n);
  // All n bytes or false.
  bool ReadExact(uint64_t offset, void* out, size_t n) { return ReadAt(offset, out, n) == n; }
  // The n bytes at `offset` where the access already holds them all (a kept
  // source's first read, or memory), valid while the source lives; empty
  // otherwise, when they must be read with ReadAt.
  std::span<const uint8_t> Held(uint64_t offset, size_t n);

 private:
  friend class ByteSource;
  // Opens the kept access of `path` and makes its first read.
  void OpenKept(const std::string& path);
  size_t ReadFile(uint64_t offset, void* out, size_t n);
  // Makes the window cover [offset, offset + n) when that is cheap; false
  // when the bytes are better read straight into the caller's buffer.
  bool CoverWithWindow(uint64_t offset, size_t n);

  // Set on the access a kept source holds; the accesses made on that source
  // forward every call to it.
  SourceReader* kept_ = nullptr;
  bool keeps_head_ = false;
  uint8_t* head_ = nullptr;          // the first bytes of a kept source's file (not owned)
  size_t head_size_ = 0;             // how many of them the file has
  uint64_t limit_ = UINT64_MAX;      // see ByteSource::LimitTo
  bool open_ = false;
  bool in_memory_ = false;
  std::span<const uint8_t> memory_;
  platform::File file_;
  platform::File* borrowed_ = nullptr;  // read instead of file_ (FromOpenFile)
  uint64_t size_ = 0;
  bool size_known_ = false;
  // File bytes from window_offset_ on; every byte of it was read before it
  // is looked at (a short read shrinks it to what came).
  std::vector<uint8_t, FilledByReadAllocator<uint8_t>> window_;
  uint64_t window_offset_ = 0;
};

}  // namespace veltora::exif

#endif  // VELTORA_EXIF_BYTE_SOURCE_H_
