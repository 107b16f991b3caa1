#include "edit/rebuilt_output.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "edit/block_entries.h"
#include "edit/sub_image_data.h"
#include "exif/date_text.h"
#include "exif/jpeg_segments.h"
#include "frame/safe_replace.h"
#include "platform/local_time.h"
#include "platform/win32_error.h"

namespace veltora::edit {
namespace {

using platform::File;

// Scan data and image data are streamed through a buffer of this size: large
// enough that a copy costs few system calls, small enough to always allocate.
constexpr size_t kCopyChunk = 256 * 1024;
// An input up to this size is read whole and the new file assembled in
// memory and written at once: a few system calls instead of a read and a
// write per segment. Larger inputs, or any when memory is short, are streamed.
constexpr uint64_t kWholeFileLimit = 64ull << 20;
constexpr char kDateTemplate[] = "    :  :     :  :  ";

// Memory stand-ins with the File calls the layouts use.
class MemoryIn {
 public:
  explicit MemoryIn(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  uint32_t Size(uint64_t* size) const {
    *size = bytes_.size();
    return 0;
  }
  uint32_t ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got) const {
    *got = 0;
    if (offset >= bytes_.size()) return 0;
    // No more than the `size` bytes asked for, so it fits the size type.
    *got = static_cast<size_t>(std::min<uint64_t>(size, bytes_.size() - offset));
    std::memcpy(buffer, bytes_.data() + offset, *got);
    return 0;
  }
  // Up to `length` bytes from `offset`, as far as the input goes.
  std::span<const uint8_t> Run(uint64_t offset, uint64_t length) const {
    if (offset >= bytes_.size()) return {};
    return bytes_.subspan(static_cast<size_t>(offset),
                          static_cast<size_t>(std::min<uint64_t>(length, bytes_.size() - offset)));
  }

 private:
  std::span<const uint8_t> bytes_;
};

class MemoryOut {
 public:
  explicit MemoryOut(std::vector<uint8_t>* bytes) : bytes_(bytes) { bytes_->clear(); }
  uint32_t Seek(uint64_t offset) {
    position_ = offset;
    return 0;
  }
  uint32_t Write(const void* buffer, size_t size) {
    // A position read from the file may lie beyond what memory can hold.
    if (position_ > bytes_->max_size() || size > bytes_->max_size() - position_) {
      return kErrorNotEnoughMemory;
    }
    const size_t end = static_cast<size_t>(position_) + size;
    if (bytes_->size() < end) bytes_->resize(end);
    if (size > 0) std::memcpy(bytes_->data() + position_, buffer, size);
    position_ += size;
    return 0;
  }

 private:
  std::vector<uint8_t>* bytes_;
  uint64_t position_ = 0;
};

// Copies `length` bytes of `in` from `from` to the output's position, or to
// the end of `in` when `length` is UINT64_MAX. `complete` is false when `in`
// ended first.
template <typename In, typename Out>
uint32_t CopyRun(In& in, Out& out, uint64_t from, uint64_t length, bool* complete) {
  if constexpr (std::is_same_v<In, MemoryIn> && std::is_same_v<Out, MemoryOut>) {
    const auto run = in.Run(from, length);
    *complete = length == UINT64_MAX || run.size() == length;
    return out.Write(run.data(), run.size());
  }
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kCopyChunk]);
  if (buffer == nullptr) return kErrorNotEnoughMemory;
  *complete = false;
  uint64_t done = 0;
  while (done < length) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kCopyChunk, length - done));
    size_t got = 0;
    if (uint32_t error = in.ReadAt(from + done, buffer.get(), want, &got)) return error;
    if (got == 0) return length == UINT64_MAX ? (*complete = true, 0u) : 0u;
    if (uint32_t error = out.Write(buffer.get(), got)) return error;
    done += got;
  }
  *complete = true;
  return 0;
}

// Copies the source's APP1 segments that do not hold EXIF data (XMP, most
// often), whole and in their order, to the output's position. The rebuilt
// file drops the source's APP1 segments to put its own EXIF block in their
// place; those others are the user's data and are kept. They go in front of
// the new EXIF block: EXIF data is read from the last APP1 segment, and in
// the source too these came before it (a file with APP1 segments behind its
// EXIF data is not edited at all).
template <typename In, typename Out, typename ReadAt>
uint32_t CopyOtherApp1s(In& in, Out& out, ReadAt& read_at) {
  exif::JpegSegmentWalker walk(0, exif::SoiRule::kStandalone);
  while (const auto s = walk.Next(read_at)) {
    if (s->marker != exif::kJpegApp1 || s->cut || s->length < 2) continue;
    uint8_t signature[5] = {};
    size_t got = 0;
    if (uint32_t error = in.ReadAt(s->position + 4, signature, sizeof signature, &got)) return error;
    if (got == sizeof signature && std::memcmp(signature, "Exif\0", sizeof signature) == 0) continue;
    bool complete = false;
    if (uint32_t error = CopyRun(in, out, s->position, s->length + 2u, &complete)) return error;
    if (!complete) return kErrorInvalidData;
  }
  return 0;
}

template <typename In, typename Out>
uint32_t JpegLayout(const ExifEditor& editor, Out& out, In& in) {
  const uint64_t segment = editor.TotalSegmentSize() + kApp1Overhead;
  if (segment > kMaxSegmentLength) return kErrorInvalidData;
  uint32_t read_error = 0;
  const auto read_at = [&in, &read_error](uint64_t offset, std::span<uint8_t> head) -> size_t {
    size_t got = 0;
    read_error = in.ReadAt(offset, head.data(), head.size(), &got);
    return read_error == 0 ? got : 0;
  };
  exif::JpegSegmentWalker walk(0, exif::SoiRule::kStandalone);
  while (const auto s = walk.Next(read_at)) {
    const uint8_t head[4] = {static_cast<uint8_t>(s->marker >> 8), static_cast<uint8_t>(s->marker),
                             static_cast<uint8_t>(s->length >> 8), static_cast<uint8_t>(s->length)};
    bool complete = true;
    if (s->marker == exif::kJpegSoi && s->position == 0) {
      uint8_t app1[10] = {0xFF, 0xE1, static_cast<uint8_t>(segment >> 8),
                          static_cast<uint8_t>(segment), 'E', 'x', 'i', 'f', 0, 0};
      if (uint32_t error = out.Write(head, 2)) return error;
      if (uint32_t error = CopyOtherApp1s(in, out, read_at)) return error;
      if (read_error != 0) return read_error;
      if (uint32_t error = out.Write(app1, sizeof app1)) return error;
      const auto block = editor.Block();
      if (uint32_t error = out.Write(block.data(), block.size())) return error;
      const auto thumbnail = editor.Thumbnail();
      if (!thumbnail.empty()) {
        if (uint32_t error = out.Write(thumbnail.data(), thumbnail.size())) return error;
      }
    } else if (s->marker == exif::kJpegEoi) {
      return out.Write(head, 2);
    } else if (s->marker == exif::kJpegSoi) {
      // A later SOI (EXIF-only files end with an empty SOI-EOI picture) is
      // the source's own bytes: the EXIF block goes behind the first only.
      if (uint32_t error = out.Write(head, 2)) return error;
    } else if (s->cut || s->length < 2) {
      break;
    } else if (s->marker == exif::kJpegSos) {
      if (uint32_t error = out.Write(head, 4)) return error;
      return CopyRun(in, out, s->position + 4, UINT64_MAX, &complete);
    } else if (s->marker == exif::kJpegApp0 || s->marker == exif::kJpegApp1) {
      // the source's APP0 and EXIF are replaced; its other APP1s were copied
      // in front of the new EXIF block
    } else {
      if (uint32_t error = out.Write(head, 4)) return error;
      if (uint32_t error = CopyRun(in, out, s->position + 4, s->length - 2u, &complete)) {
        return error;
      }
      if (!complete) break;  // a segment cut off by the end of the file ends the copy
    }
  }
  return read_error;
}

// Lays out behind the main image what the sub-images need there (see
// sub_image_data.h), repointing `block`, the copy of the work block that is
// written. A read error of `source` is left in `read_error`.
template <typename Source>
SubImageTail LayOutSubImages(ExifEditor& editor, std::span<uint8_t> block, uint64_t source_size,
                             Source& source, uint32_t* read_error) {
  const uint64_t header = editor.Source().TiffHeaderOffset();
  const PlacedData image = editor.Placed(exif::kIfd0);
  const PlacedData thumbnail = editor.Placed(exif::kIfd1);
  SubImagePlacement placement;
  placement.pinned_end = editor.PinnedEnd();
  placement.source_size = source_size - std::min(source_size, header);
  placement.tail = std::max({uint64_t{block.size()}, uint64_t{image.offset} + image.length,
                             uint64_t{thumbnail.offset} + editor.Thumbnail().size()});
  placement.image_moves = editor.ImageDataPicture().empty();
  placement.image_from = editor.ImageDataStart() - std::min<uint64_t>(editor.ImageDataStart(), header);
  placement.image_length = image.length;
  placement.image_to = image.offset;
  const SourceBytes read = [&](uint64_t offset, std::span<uint8_t> bytes) {
    size_t got = 0;
    if (*read_error == 0) *read_error = source.ReadAt(header + offset, bytes.data(), bytes.size(), &got);
    return *read_error == 0 && got == bytes.size();
  };
  return CarrySubImages(block, editor.Order(), editor.DirectoryOffset(exif::kIfd0), placement,
                        read);
}

// `in` holds the main image data; `source`, the edited file, the sub-images'
// (the same file unless the main image is a new picture).
template <typename In, typename Out, typename Source>
uint32_t TiffLayout(ExifEditor& editor, Out& out, In& in, Source& source) {
  const uint64_t from = editor.ImageDataStart();
  std::span<const uint8_t> block = editor.Block();
  std::vector<uint8_t> repointed;
  SubImageTail tail;
  if (HasSubImages(block, editor.Order(), editor.DirectoryOffset(exif::kIfd0))) {
    uint64_t source_size = 0;
    if (uint32_t error = source.Size(&source_size)) return error;
    repointed.assign(block.begin(), block.end());
    uint32_t read_error = 0;
    tail = LayOutSubImages(editor, repointed, source_size, source, &read_error);
    if (read_error != 0) return read_error;
    block = repointed;
  }
  if (uint32_t error = out.Seek(0)) return error;
  if (uint32_t error = out.Write(block.data(), block.size())) return error;
  const PlacedData thumbnail = editor.Placed(exif::kIfd1);
  if (thumbnail.offset != 0 && thumbnail.length != 0 && !editor.Thumbnail().empty()) {
    if (uint32_t error = out.Seek(thumbnail.offset)) return error;
    if (uint32_t error = out.Write(editor.Thumbnail().data(), editor.Thumbnail().size())) {
      return error;
    }
  }
  const PlacedData image = editor.Placed(exif::kIfd0);
  if (image.offset == 0 || image.length == 0) return kErrorInvalidData;
  if (uint32_t error = out.Seek(image.offset)) return error;
  bool complete = false;
  if (uint32_t error = CopyRun(in, out, from, image.length, &complete)) return error;
  if (!complete) return kErrorInvalidData;
  for (const SubImageTail::Bytes& bytes : tail.written) {
    if (uint32_t error = out.Seek(bytes.to)) return error;
    if (uint32_t error = out.Write(bytes.bytes.data(), bytes.bytes.size())) return error;
  }
  const uint64_t header = editor.Source().TiffHeaderOffset();
  for (const SubImageTail::Copy& copy : tail.copied) {
    if (uint32_t error = out.Seek(copy.to)) return error;
    if (uint32_t error = CopyRun(source, out, header + copy.from, copy.length, &complete)) return error;
    if (!complete) return kErrorInvalidData;
  }
  return 0;
}

}  // namespace

namespace {

// Runs `layout` in memory when the input is small enough to hold (one read,
// one write), else streams it between the files.
template <typename MemoryLayout, typename FileLayout>
uint32_t RunLayout(File& out, File& in, MemoryLayout memory_layout, FileLayout file_layout) {
  std::vector<uint8_t> input;
  const uint32_t read = in.ReadAll(&input, kWholeFileLimit);
  if (read == platform::kErrorFileTooLarge || read == platform::kErrorNotEnoughMemory) {
    return file_layout();
  }
  if (read != 0) return read;  // a file that ends early is not copied short
  std::vector<uint8_t> output;
  if (uint32_t error = memory_layout(std::span<const uint8_t>(input), &output)) return error;
  return out.Write(output.data(), output.size());
}

}  // namespace

uint32_t WriteJpegLayout(const ExifEditor& editor, File& out, File& in) {
  return RunLayout(
      out, in,
      [&](std::span<const uint8_t> bytes, std::vector<uint8_t>* output) {
        return WriteJpegLayout(editor, bytes, output);
      },
      [&] { return JpegLayout(editor, out, in); });
}

uint32_t WriteTiffLayout(ExifEditor& editor, File& out, File& in) {
  return RunLayout(
      out, in,
      [&](std::span<const uint8_t> bytes, std::vector<uint8_t>* output) {
        return WriteTiffLayout(editor, bytes, output);
      },
      [&] { return TiffLayout(editor, out, in, in); });
}

uint32_t WriteJpegLayout(const ExifEditor& editor, std::span<const uint8_t> in,
                         std::vector<uint8_t>* out) {
  MemoryIn source(in);
  MemoryOut sink(out);
  return JpegLayout(editor, sink, source);
}

uint32_t WriteTiffLayout(ExifEditor& editor, std::span<const uint8_t> in,
                         std::vector<uint8_t>* out) {
  MemoryIn source(in);
  MemoryOut sink(out);
  return TiffLayout(editor, sink, source, source);
}

std::optional<std::string> DateText(const SYSTEMTIME& time) {
  std::string text = kDateTemplate;
  if (!exif::FormatDateText(&text, nullptr, time) || text.size() != exif::kDateTextLength) {
    return std::nullopt;
  }
  return text;
}

Outcome StampDateTime(std::span<uint8_t> block, bytes::ByteOrder order, uint32_t ifd0_offset,
                  const SYSTEMTIME& now) {
  const auto dir = ReadBlockDirectory(block, order, ifd0_offset);
  if (!dir) return Outcome::kAbsent;
  for (const BlockEntry& e : dir->entries) {
    if (e.entry.tag != exif::kTagDateTime) continue;
    // A damaged block may let the value share bytes with the maker note,
    // which is never written: the old date then stays.
    if (e.entry.type != exif::kTypeAscii || e.entry.count != exif::kDateTextStoredSize ||
        e.entry.value == 0 || !ValueBytes(block, e) ||
        MakerNoteBytes(block, order, ifd0_offset).Meets(e.entry.value, e.size)) {
      return Outcome::kAbsent;
    }
    const auto text = DateText(now);
    if (!text) return Outcome::kAbsent;
    std::memcpy(block.data() + e.entry.value, text->c_str(), exif::kDateTextStoredSize);
    return Outcome::kDone;
  }
  return Outcome::kAbsent;
}

void StampDateTime(ExifEditor& editor) {
  // A block without a DateTime of the stamp's shape keeps its own: the stamp
  // is no part of the edit's success.
  (void)StampDateTime(editor.Block(), editor.Order(), editor.DirectoryOffset(exif::kIfd0),
                      platform::GetLocalTime());
}

namespace {

// The new file of an editor whose picture was encoded in memory, assembled
// there and written at once; a TIFF's sub-images' data is still read from
// the edited file.
uint32_t WriteWithNewPicture(ExifEditor& editor, File& out) {
  MemoryIn picture(editor.ImageDataPicture());
  std::vector<uint8_t> output;
  MemoryOut sink(&output);
  uint32_t error = 0;
  if (!editor.IsTiffSource()) {
    error = JpegLayout(editor, sink, picture);
  } else if (!HasSubImages(editor.Block(), editor.Order(), editor.DirectoryOffset(exif::kIfd0))) {
    error = TiffLayout(editor, sink, picture, picture);
  } else {
    File edited;
    error = File::Open(editor.Source().Path().c_str(), File::Access::kRead, &edited);
    if (error == 0) error = TiffLayout(editor, sink, picture, edited);
  }
  return error != 0 ? error : out.Write(output.data(), output.size());
}

}  // namespace

HRESULT WriteEditedFile(ExifEditor& editor, const char* target) {
  return WriteResultFile(target, [&editor](File& out) -> uint32_t {
    if (!editor.ImageDataPicture().empty()) return WriteWithNewPicture(editor, out);
    // The source stays whole until the new file takes its place, so it is
    // read where it is even when it is the target.
    File in;
    if (const uint32_t error = File::Open(editor.Source().Path().c_str(), File::Access::kRead, &in)) {
      return error;
    }
    return editor.IsTiffSource() ? WriteTiffLayout(editor, out, in) : WriteJpegLayout(editor, out, in);
  });
}

HRESULT WriteLoadedBlockInPlace(const exif::ExifReader& reader, std::span<const uint8_t> patched,
                                File* open_file) {
  const std::span<const uint8_t> loaded = reader.LoadedData();
  if (loaded.empty() || loaded.size() != patched.size()) return E_FAIL;
  // Compared a run at a time: the changes lie between a thumbnail and a
  // header that stay as they were.
  constexpr size_t kRun = 64;
  const size_t size = patched.size();
  size_t from = 0;
  while (from + kRun <= size && std::memcmp(&patched[from], &loaded[from], kRun) == 0) from += kRun;
  while (from < size && patched[from] == loaded[from]) ++from;
  size_t to = size;
  while (to >= from + kRun && std::memcmp(&patched[to - kRun], &loaded[to - kRun], kRun) == 0) to -= kRun;
  while (to > from && patched[to - 1] == loaded[to - 1]) --to;
  // One write, so that a killed call leaves every value old or every value
  // new; nothing changed still writes a byte, so the file is stamped as modified.
  if (from == size) {
    from = 0;
    to = 1;
  }
  return WriteBlockInPlace(reader.Path().c_str(), reader.FileOffset(0) + from,
                           patched.data() + from, to - from, open_file);
}

HRESULT CopyAndPatch(const exif::ExifReader& reader, std::span<const uint8_t> patched,
                     const char* target) {
  if (patched.empty()) return E_FAIL;
  // The copy takes the source's permissions, as a file copy does; a
  // read-only existing target is not copied over.
  const char* source = reader.Path().c_str();
  return ReplaceWithNewFile(target, {source, true, MapWin32Error}, [&](File& out, const std::string&) {
    if (uint32_t error = platform::CopyFileContents(source, out)) return MapWin32Error(error);
    return MapWin32Error(out.WriteAt(reader.FileOffset(0), patched.data(), patched.size()));
  });
}

}  // namespace veltora::edit
