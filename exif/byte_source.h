// Where a reader's file bytes come from: a file named by a path, opened for
// one access and closed again, or a block of memory that stands for the whole
// file (loaded files, and the fuzzers). Both are read through the same calls,
// so the same parsing code serves both.
#ifndef VELTORA_EXIF_BYTE_SOURCE_H_
#define VELTORA_EXIF_BYTE_SOURCE_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/file.h"

namespace veltora::exif {

// A description of the bytes, cheap to copy; nothing is open.
class ByteSource {
 public:
  ByteSource() = default;
  // A null path gives a source that never opens.
  static ByteSource FromPath(const char* path);
  // The memory must outlive every reader built on the source.
  static ByteSource FromMemory(std::span<const uint8_t> file_bytes);

  bool has_path() const { return has_path_; }
  bool in_memory() const { return in_memory_; }
  const std::string& path() const { return path_; }
  std::span<const uint8_t> memory() const { return memory_; }

 private:
  std::string path_;
  bool has_path_ = false;
  bool in_memory_ = false;
  std::span<const uint8_t> memory_;
};

// One open access to a source: the file is open from a successful Open until
// the reader is destroyed. Reads are served from a window of the file so that
// walking segment headers and directories costs one system call per
// kReadAheadSize bytes, not one per field. A short forward jump extends the
// window instead of moving it: the walk jumps over the APP1 segment that the
// load reads next, so reading the gap once serves both. Large reads outside
// the window go straight to the file.
class SourceReader {
 public:
  // Segment headers, a directory entry table and an IFD are all read in pieces
  // well under one page; a page-sized window catches most neighbours.
  static constexpr size_t kReadAheadSize = 4096;
  // An APP1 segment is at most 64 KiB; together with the segments around it a
  // window of this size holds everything a query reads in almost every file,
  // while a query's memory stays far below half a megabyte.
  static constexpr size_t kMaxWindow = 192 * 1024;

  SourceReader() = default;
  SourceReader(const SourceReader&) = delete;
  SourceReader& operator=(const SourceReader&) = delete;

  // False when the source has no path or its file cannot be opened or sized.
  bool Open(const ByteSource& source);
  bool is_open() const { return open_; }
  uint64_t size() const { return size_; }

  // Reads up to n bytes at `offset`; the count read is less than n only at
  // the end of the file or after a read error.
  size_t ReadAt(uint64_t offset, void* out, size_t n);
  // All n bytes or false.
  bool ReadExact(uint64_t offset, void* out, size_t n) { return ReadAt(offset, out, n) == n; }

 private:
  size_t ReadFile(uint64_t offset, void* out, size_t n);
  // Makes the window cover [offset, offset + n) when that is cheap; false
  // when the bytes are better read straight into the caller's buffer.
  bool CoverWithWindow(uint64_t offset, size_t n);

  bool open_ = false;
  bool in_memory_ = false;
  std::span<const uint8_t> memory_;
  platform::File file_;
  uint64_t size_ = 0;
  std::vector<uint8_t> window_;  // file bytes from window_offset_ on
  uint64_t window_offset_ = 0;
};

}  // namespace veltora::exif

#endif  // VELTORA_EXIF_BYTE_SOURCE_H_
