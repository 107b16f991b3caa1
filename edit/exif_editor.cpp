#include "edit/exif_editor.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "edit/block_entries.h"
#include "exif/byte_view.h"

namespace veltora::edit {
namespace {

using exif::ByteView;
using exif::kEntrySize;
using exif::kExifIfd;
using exif::kGpsIfd;
using exif::kIfd0;
using exif::kIfd1;
using exif::kInteropIfd;
using exif::kMakerNoteIfd;
using exif::kTypeLong;
using exif::kTypeShort;
using exif::kTypeUndefined;

constexpr uint16_t kTagStripByteCounts = 279;
constexpr uint16_t kTagInteropPointer = 40965;
// A maker note whose leading text is this long or longer is no signature: its
// directory is taken to start at its first byte.
constexpr size_t kMaxSignatureLength = 19;

// Bytes of a directory with `count` entries: count, entries, next-IFD link.
uint64_t DirectorySize(uint64_t count) { return 2 + uint64_t{kEntrySize} * count + 4; }

uint32_t ClampU32(uint64_t v) {
  return static_cast<uint32_t>(std::min<uint64_t>(v, std::numeric_limits<uint32_t>::max()));
}

bool IsDirectoryPointer(uint16_t tag) {
  return tag == exif::kTagExifIfdPointer || tag == exif::kTagGpsIfdPointer ||
         tag == kTagInteropPointer;
}

// Whether an inline value of this directory is an offset that moves with the
// block (the pointers to other directories, strips and the thumbnail).
bool IsInlinePointer(uint32_t code, uint16_t tag) {
  switch (code) {
    case kIfd0:
      return tag == exif::kTagStripOffsets || tag == exif::kTagExifIfdPointer ||
             tag == exif::kTagGpsIfdPointer;
    case kExifIfd:
      return tag == kTagInteropPointer;
    case kIfd1:
      return tag == exif::kTagStripOffsets || tag == exif::kTagJpegInterchangeFormat;
    default:
      return false;
  }
}

// Shifts an inline pointer value held in `e.field`.
void ShiftInlineField(BlockEntry* e, exif::ByteOrder order, const RangeList& ranges) {
  if (e->entry.type == kTypeLong && e->entry.count == 1) {
    exif::Write32(e->field, ranges.Shift(exif::Read32(e->field, order)), order);
  } else if (e->entry.type == kTypeShort && (e->entry.count == 1 || e->entry.count == 2)) {
    for (uint32_t half = 0; half < e->entry.count; ++half) {
      const uint32_t moved = ranges.Shift(exif::Read16(e->field + 2 * half, order));
      exif::Write16(e->field + 2 * half, static_cast<uint16_t>(std::min<uint32_t>(moved, 0xFFFF)),
                    order);
    }
  }
}

// Strip positions and sizes of a directory: (offset, byte count) pairs.
struct Strip {
  uint32_t offset = 0;
  uint32_t count = 0;
};

// The elements of a SHORT or LONG array entry, inline or out of line.
std::optional<std::vector<uint32_t>> ReadNumbers(std::span<const uint8_t> block,
                                                 exif::ByteOrder order, const BlockEntry& e) {
  if (e.entry.type != kTypeShort && e.entry.type != kTypeLong) return std::nullopt;
  const uint32_t unit = exif::TypeSize(e.entry.type);
  std::span<const uint8_t> bytes;
  if (e.OutOfLine()) {
    auto value = ValueBytes(block, e);
    if (!value) return std::nullopt;
    bytes = *value;
  } else {
    bytes = std::span<const uint8_t>(e.field, static_cast<size_t>(e.size));
  }
  std::vector<uint32_t> out;
  out.reserve(bytes.size() / unit);
  for (size_t i = 0; i + unit <= bytes.size(); i += unit) {
    out.push_back(unit == 2 ? exif::Read16(bytes.data() + i, order)
                            : exif::Read32(bytes.data() + i, order));
  }
  return out;
}

std::vector<Strip> ReadStrips(std::span<const uint8_t> block, exif::ByteOrder order,
                              const BlockDirectory& dir) {
  const BlockEntry* offsets = nullptr;
  const BlockEntry* counts = nullptr;
  for (const BlockEntry& e : dir.entries) {
    if (e.entry.tag == exif::kTagStripOffsets && offsets == nullptr) offsets = &e;
    if (e.entry.tag == kTagStripByteCounts && counts == nullptr) counts = &e;
  }
  if (offsets == nullptr || counts == nullptr) return {};
  auto o = ReadNumbers(block, order, *offsets);
  auto c = ReadNumbers(block, order, *counts);
  if (!o || !c) return {};
  std::vector<Strip> strips;
  for (size_t i = 0; i < o->size() && i < c->size(); ++i) strips.push_back({(*o)[i], (*c)[i]});
  return strips;
}

}  // namespace

ExifEditor::ExifEditor(const char* path_arg, uint32_t load_data)
    : ExifReader(path_arg, load_data, 0) {}

ExifEditor::ExifEditor(std::span<const uint8_t> file_bytes, uint32_t load_data)
    : ExifReader(file_bytes, load_data, 0) {}

ExifEditor::~ExifEditor() = default;

bool ExifEditor::IsTiffSource() const {
  // A JPEG's TIFF header always lies behind its SOI and APP1 header, so only
  // a bare TIFF file has it at 0. Camera JPEGs that also carry ImageWidth
  // and ImageLength in IFD0 must keep the JPEG layout.
  return valid != 0 && tiffHeaderOffset == 0 && HasTiffDimensions() != 0;
}

bool ExifEditor::KnownCode(uint32_t code) const {
  return code == kIfd0 || code == kExifIfd || code == kGpsIfd || code == kInteropIfd ||
         code == kMakerNoteIfd || code == kIfd1;
}

uint32_t* ExifEditor::CachedOffset(uint32_t code) {
  switch (code) {
    case kIfd0:
      return &ifd0.ifdOffset;
    case kExifIfd:
      return &exifHeader.offset;
    case kGpsIfd:
      return &gpsHeader.offset;
    case kInteropIfd:
      return &interopHeader.offset;
    case kMakerNoteIfd:
      return &makerNoteIfd.offset;
    case kIfd1:
      return &ifd1.ifdOffset;
    default:
      return nullptr;
  }
}

void ExifEditor::SetCachedCount(uint32_t code, uint16_t count) {
  switch (code) {
    case kIfd0:
      ifd0.entryCount = count;
      break;
    case kExifIfd:
      exifHeader.entryCount = count;
      break;
    case kGpsIfd:
      gpsHeader.entryCount = count;
      break;
    case kInteropIfd:
      interopHeader.entryCount = count;
      break;
    case kMakerNoteIfd:
      makerNoteIfd.entryCount = count;
      break;
    case kIfd1:
      ifd1.entryCount = count;
      break;
    default:
      break;
  }
}

void ExifEditor::SetHeader(uint32_t code, uint32_t offset, uint16_t count) {
  if (uint32_t* cached = CachedOffset(code)) *cached = offset;
  SetCachedCount(code, count);
}

std::optional<ExifEditor::Located> ExifEditor::Locate(uint32_t code) {
  if (!HasWorkBlock()) return std::nullopt;
  if (code == kMakerNoteIfd) LocateMakerNoteIfd();
  const uint32_t* cached = CachedOffset(code);
  if (cached == nullptr || *cached == 0) return std::nullopt;
  const ByteView view(Block(), byteOrder);
  if (*cached < kMinDirectoryOffset) return std::nullopt;
  const auto count = view.U16(*cached);
  if (!count || !view.Contains(uint64_t{*cached} + 2, uint64_t{kEntrySize} * *count)) {
    return std::nullopt;
  }
  SetCachedCount(code, *count);
  return Located{*cached, *count};
}

bool ExifEditor::Allocate(uint32_t length) {
  const uint64_t capacity = uint64_t{length} + kHeadroom;
  if (capacity > std::numeric_limits<uint32_t>::max()) return false;
  workBlock_.reset(new (std::nothrow) uint8_t[capacity]());
  if (workBlock_ == nullptr) return false;
  workCapacity_ = static_cast<uint32_t>(capacity);
  blockLength = length;
  return true;
}

int ExifEditor::LoadSource(bool* loaded_here) {
  *loaded_here = data == nullptr;
  if (data == nullptr && LoadExifData(0, nullptr) == nullptr) return 0;
  return data != nullptr && dataLoadedSize > 0 ? 1 : 0;
}

std::optional<uint32_t> ExifEditor::Append(std::span<const uint8_t> bytes, bool even) {
  if (!HasWorkBlock()) return std::nullopt;
  const uint64_t start = even ? PaddedSize(blockLength) : blockLength;
  if (start + bytes.size() > workCapacity_) return std::nullopt;
  std::memset(workBlock_.get() + blockLength, 0, static_cast<size_t>(start - blockLength));
  if (!bytes.empty()) std::memcpy(workBlock_.get() + start, bytes.data(), bytes.size());
  blockLength = static_cast<uint32_t>(start + bytes.size());
  return static_cast<uint32_t>(start);
}

bool ExifEditor::PadToEven() { return Append({}, true).has_value(); }

std::optional<uint32_t> ExifEditor::NextLinkPosition(uint32_t code) {
  const auto loc = Locate(code);
  if (!loc) return std::nullopt;
  const uint64_t at = uint64_t{loc->offset} + 2 + uint64_t{kEntrySize} * loc->count;
  if (!ByteView(Block(), byteOrder).Contains(at, 4)) return std::nullopt;
  return static_cast<uint32_t>(at);
}

void ExifEditor::LocateMakerNoteIfd() {
  if (makerNoteOffset == 0 || makerNoteIfd.offset != 0) return;
  const ByteView view(Block(), byteOrder);
  const auto note = view.Sub(makerNoteOffset, makerNoteLength);
  if (!note || note->empty()) return;
  const auto* chars = reinterpret_cast<const char*>(note->data());
  const size_t text = strnlen(chars, static_cast<size_t>(note->size()));
  uint64_t start = 0;
  if (text < 2 || text >= kMaxSignatureLength) {
    start = 0;
  } else if (text + 5 < note->size()) {
    start = text + 3;  // behind the NUL and the two bytes that follow it
  } else {
    return;
  }
  const uint64_t at = uint64_t{makerNoteOffset} + start;
  const auto count = view.U16(at);
  if (!count || !view.Contains(at + 2, uint64_t{kEntrySize} * *count)) return;
  makerNoteIfd.offset = static_cast<uint32_t>(at);
  makerNoteIfd.entryCount = *count;
  makerNoteIfd.bytesFromIfd = static_cast<uint16_t>(std::min<uint64_t>(note->size() - start, 0xFFFF));
}

void ExifEditor::ReadHeadersFromBlock() {
  const std::span<const uint8_t> block = Block();
  const ByteView view(block, byteOrder);
  ifd0 = ImageDescription{};
  ifd1 = ImageDescription{};
  exifHeader = gpsHeader = interopHeader = IfdLocation{};
  makerNoteIfd = MakerNoteIfd{};
  makerNoteOffset = makerNoteLength = 0;
  ifd0.ifdOffset = view.U32(4).value_or(0);
  if (auto dir = ReadBlockDirectory(block, byteOrder, ifd0.ifdOffset)) {
    ifd0.entryCount = dir->count;
    for (const BlockEntry& e : dir->entries) {
      if (e.entry.type != kTypeLong || e.entry.count != 1) continue;
      if (e.entry.tag == exif::kTagExifIfdPointer) exifHeader.offset = e.entry.value;
      if (e.entry.tag == exif::kTagGpsIfdPointer) gpsHeader.offset = e.entry.value;
    }
    const uint32_t link = dir->link.value_or(0);
    if (ReadBlockDirectory(block, byteOrder, link)) ifd1.ifdOffset = link;
  } else {
    ifd0.ifdOffset = 0;
  }
  if (auto dir = ReadBlockDirectory(block, byteOrder, exifHeader.offset)) {
    exifHeader.entryCount = dir->count;
    for (const BlockEntry& e : dir->entries) {
      if (e.entry.tag == kTagInteropPointer && e.entry.type == kTypeLong && e.entry.count == 1) {
        interopHeader.offset = e.entry.value;
      }
      if (e.entry.tag == exif::kTagMakerNote && e.entry.type == kTypeUndefined &&
          makerNoteOffset == 0 && e.OutOfLine() && ValueBytes(block, e)) {
        makerNoteOffset = e.entry.value;
        makerNoteLength = e.entry.count;
      }
    }
  }
  for (IfdLocation* h : {&gpsHeader, &interopHeader}) {
    if (auto dir = ReadBlockDirectory(block, byteOrder, h->offset)) {
      h->entryCount = dir->count;
    }
  }
  LocateMakerNoteIfd();
  RefreshDescriptors();
}

bool ExifEditor::DescribeImage(uint32_t code, ImageDescription* d) {
  const auto loc = Locate(code);
  if (!loc) return false;
  const auto dir = ReadBlockDirectory(Block(), byteOrder, loc->offset);
  if (!dir) return false;
  const uint32_t offset = d->ifdOffset;
  *d = ImageDescription{};
  d->ifdOffset = offset;
  d->entryCount = dir->count;
  for (const BlockEntry& e : dir->entries) {
    const bool short_or_long = e.entry.type == kTypeShort || e.entry.type == kTypeLong;
    const uint32_t v = e.OutOfLine() ? 0 : e.entry.value;
    switch (e.entry.tag) {
      case exif::kTagImageWidth:
        if (short_or_long) d->width = v;
        break;
      case exif::kTagImageLength:
        if (short_or_long) d->length = v;
        break;
      case exif::kTagSamplesPerPixel:
        if (e.entry.type == kTypeShort) d->samplesPerPixel = v;
        break;
      case exif::kTagRowsPerStrip:
        if (short_or_long) d->rowsPerStrip = v;
        break;
      case exif::kTagPlanarConfiguration:
        if (e.entry.type == kTypeShort) d->planarConfiguration = v;
        break;
      case exif::kTagJpegInterchangeFormat:
        // In a JPEG the thumbnail's position is the IFD1 data position.
        if (code == kIfd1 && !IsTiffSource() && !e.OutOfLine()) d->firstStripOffset = v;
        break;
      case exif::kTagStripOffsets:
        if (code == kIfd1 && !IsTiffSource()) break;
        if (auto numbers = ReadNumbers(Block(), byteOrder, e); numbers && !numbers->empty()) {
          d->firstStripOffset = numbers->front();
        }
        break;
      default:
        break;
    }
  }
  if (d->planarConfiguration == 0) d->planarConfiguration = 1;
  // RowsPerStrip 0 would make the strip count undefined: such an image is
  // described with no strips, and its data is measured from the strip arrays.
  if (IsTiffSource() && d->rowsPerStrip != 0) {
    const uint64_t rows = d->rowsPerStrip;
    d->stripsPerImage = ClampU32((uint64_t{d->length} + rows - 1) / rows);
  }
  return true;
}

void ExifEditor::RefreshDescriptors() {
  if (ifd0.ifdOffset != 0) DescribeImage(kIfd0, &ifd0);
  if (ifd1.ifdOffset != 0) DescribeImage(kIfd1, &ifd1);
}

int ExifEditor::FixUpOffsets(uint32_t code, const RangeList& ranges) {
  if (!KnownCode(code)) return -1;
  const auto loc = Locate(code);
  if (!loc) return 0;
  const auto dir = ReadBlockDirectory(Block(), byteOrder, loc->offset);
  if (!dir) return 0;
  for (BlockEntry e : dir->entries) {
    const uint8_t before[4] = {e.field[0], e.field[1], e.field[2], e.field[3]};
    if (e.OutOfLine()) {
      exif::Write32(e.field, ranges.Shift(e.entry.value), byteOrder);
    } else if (IsInlinePointer(code, e.entry.tag)) {
      ShiftInlineField(&e, byteOrder, ranges);
      const uint32_t moved = exif::Read32(e.field, byteOrder);
      if (e.entry.type == kTypeLong && e.entry.count == 1) {
        if (code == kIfd0 && e.entry.tag == exif::kTagExifIfdPointer) exifHeader.offset = moved;
        if (code == kIfd0 && e.entry.tag == exif::kTagGpsIfdPointer) gpsHeader.offset = moved;
        if (code == kExifIfd && e.entry.tag == kTagInteropPointer) interopHeader.offset = moved;
        if (code == kIfd1 && e.entry.tag == exif::kTagJpegInterchangeFormat) {
          ifd1.firstStripOffset = moved;
        }
      }
    }
    if (code == kExifIfd && e.entry.tag == exif::kTagMakerNote && e.entry.type == kTypeUndefined &&
        e.OutOfLine()) {
      makerNoteOffset = exif::Read32(e.field, byteOrder);
      makerNoteLength = e.entry.count;
      makerNoteIfd = MakerNoteIfd{};
    }
    if (std::memcmp(before, e.field, 4) != 0) WriteRawEntry(Block(), byteOrder, e.position, e);
  }
  if (dir->link && *dir->link != 0) {
    exif::Write32(Block().data() + dir->LinkPosition(), ranges.Shift(*dir->link), byteOrder);
  }
  return 1;
}

void ExifEditor::ShiftAll(const RangeList& ranges, uint32_t skip_code) {
  const ByteView view(Block(), byteOrder);
  // The header's IFD0 pointer moves like any other offset.
  if (auto header_ifd0 = view.U32(4); header_ifd0 && *header_ifd0 != 0) {
    exif::Write32(Block().data() + 4, ranges.Shift(*header_ifd0), byteOrder);
  }
  for (uint32_t code : {kIfd0, kExifIfd, kGpsIfd, kInteropIfd, kIfd1}) {
    uint32_t* cached = CachedOffset(code);
    if (code != skip_code && *cached != 0) *cached = ranges.Shift(*cached);
  }
  if (makerNoteOffset != 0) makerNoteOffset = ranges.Shift(makerNoteOffset);
  const bool exif_rewritten = skip_code == kExifIfd;
  makerNoteIfd = MakerNoteIfd{};
  for (uint32_t code : {kIfd0, kExifIfd, kGpsIfd, kInteropIfd, kIfd1}) {
    if (code != skip_code) FixUpOffsets(code, ranges);
  }
  // A rewritten Exif IFD moved the maker note into its new value area by a
  // distance the range list does not describe; its inner offsets are left.
  if (!exif_rewritten && skip_code != kMakerNoteIfd) FixUpOffsets(kMakerNoteIfd, ranges);
}

void ExifEditor::DropMakerNoteWithoutDirectory() {
  if (makerNoteOffset == 0) return;
  LocateMakerNoteIfd();
  if (makerNoteIfd.offset != 0) return;
  RemoveTag(kExifIfd, exif::kTagMakerNote);
  makerNoteOffset = makerNoteLength = 0;
}

bool ExifEditor::CopySourceBlock() {
  bool loaded_here = false;
  if (!LoadSource(&loaded_here)) {
    if (loaded_here) FreeExifData();
    return false;
  }
  const bool ok = Allocate(dataLoadedSize);
  if (ok) std::memcpy(workBlock_.get(), data, dataLoadedSize);
  if (loaded_here) FreeExifData();
  if (!ok) return false;
  ReadHeadersFromBlock();
  return true;
}

int ExifEditor::StartEdit(uint32_t drop_interop) {
  if (workBlock_ != nullptr) return 0;
  if (!HasJpegDimensions() && !HasTiffDimensions()) return 0;
  if (!CopySourceBlock()) return 0;

  if (ifd1.ifdOffset != 0) {
    const auto dir = ReadBlockDirectory(Block(), byteOrder, ifd1.ifdOffset);
    if (dir) {
      RangeList cuts;
      cuts.Cut(dir->offset, static_cast<uint32_t>(DirectorySize(dir->count)));
      uint32_t jpeg_at = 0;
      uint32_t jpeg_length = 0;
      for (const BlockEntry& e : dir->entries) {
        if (e.OutOfLine()) cuts.CutValue(e.entry.value, e.size, blockLength);
        if (e.entry.tag == exif::kTagJpegInterchangeFormat && !e.OutOfLine()) {
          jpeg_at = e.entry.value;
        }
        if (e.entry.tag == exif::kTagJpegInterchangeFormatLength && !e.OutOfLine()) {
          jpeg_length = e.entry.value;
        }
      }
      if (jpeg_at != 0) cuts.CutValue(jpeg_at, jpeg_length, blockLength);
      for (const Strip& s : ReadStrips(Block(), byteOrder, *dir)) {
        cuts.CutValue(s.offset, s.count, blockLength);
      }
      cuts.Normalise(blockLength);
      const uint32_t new_length = ClampU32(blockLength - std::min<uint64_t>(cuts.CutTotal(), blockLength));
      std::unique_ptr<uint8_t[]> old = std::move(workBlock_);
      const uint32_t old_length = blockLength;
      if (!Allocate(new_length)) return 0;
      CopyWithCuts({old.get(), old_length}, cuts, 0, 0, Block());
      ifd1 = ImageDescription{};
      ShiftAll(cuts, kIfd1);
      DropMakerNoteWithoutDirectory();
      RefreshDescriptors();
    }
  }
  ifd1 = ImageDescription{};
  if (auto link = NextLinkPosition(kIfd0)) exif::Write32(Block().data() + *link, 0, byteOrder);
  if (drop_interop != 0 && interopHeader.offset != 0) {
    RemoveTag(kExifIfd, kTagInteropPointer);
    interopHeader = IfdLocation{};
  }
  if (GetDataLength(kIfd0) != 0) SetDataOffset(kIfd0, blockLength);
  return 1;
}

int ExifEditor::CopyBlock() {
  if (workBlock_ != nullptr) return 0;
  return CopySourceBlock() ? 1 : 0;
}

int ExifEditor::FindBlockEntry(uint32_t code, IfdEntry* entry) {
  if (entry == nullptr || !KnownCode(code)) return -1;
  const auto loc = Locate(code);
  if (!loc) return 0;
  const auto dir = ReadBlockDirectory(Block(), byteOrder, loc->offset);
  if (!dir) return 0;
  for (const BlockEntry& e : dir->entries) {
    if (e.entry.tag == entry->tag) {
      *entry = e.entry;
      return 1;
    }
  }
  return 0;
}

int ExifEditor::CollectBlockEntries(uint32_t code, std::vector<IfdEntry>* entries) {
  if (entries == nullptr || !KnownCode(code)) return -1;
  entries->clear();
  const auto loc = Locate(code);
  if (!loc) return 0;
  const auto dir = ReadBlockDirectory(Block(), byteOrder, loc->offset);
  if (!dir) return 0;
  for (const BlockEntry& e : dir->entries) entries->push_back(e.entry);
  return static_cast<int>(entries->size());
}

int ExifEditor::RemoveTag(uint32_t code, uint16_t tag) {
  if (!KnownCode(code)) return -1;
  const auto loc = Locate(code);
  if (!loc) return 0;
  const auto dir = ReadBlockDirectory(Block(), byteOrder, loc->offset);
  if (!dir) return 0;
  std::vector<uint8_t> kept;
  kept.reserve(dir->entries.size() * kEntrySize);
  uint16_t removed = 0;
  for (const BlockEntry& e : dir->entries) {
    if (e.entry.tag == tag) {
      ++removed;
      continue;
    }
    const uint8_t* raw = Block().data() + e.position;
    kept.insert(kept.end(), raw, raw + kEntrySize);
  }
  if (removed == 0) return 0;
  uint8_t* table = Block().data() + dir->offset;
  const auto count = static_cast<uint16_t>(dir->count - removed);
  exif::Write16(table, count, byteOrder);
  std::memcpy(table + 2, kept.data(), kept.size());
  // Everything from the new end of the table to the old end of the link is
  // rewritten: the link moves up and the freed bytes become zero.
  const size_t old_end = 2 + size_t{kEntrySize} * dir->count + (dir->link ? 4 : 0);
  size_t end = 2 + kept.size();
  if (dir->link) {
    exif::Write32(table + end, *dir->link, byteOrder);
    end += 4;
  }
  std::memset(table + end, 0, old_end - end);
  SetCachedCount(code, count);
  return removed;
}

int ExifEditor::SetEntryInPlace(uint32_t code, const IfdEntry& entry) {
  if (!KnownCode(code)) return -1;
  const auto loc = Locate(code);
  if (!loc) return 0;
  const auto dir = ReadBlockDirectory(Block(), byteOrder, loc->offset);
  if (!dir) return 0;
  for (const BlockEntry& e : dir->entries) {
    if (e.entry.tag != entry.tag) continue;
    uint8_t* raw = Block().data() + e.position;
    exif::EncodeEntry(raw, byteOrder, entry);
    // Types without a size keep their count and raw value field as given.
    if (exif::TypeSize(entry.type) == 0) {
      exif::Write32(raw + 4, entry.count, byteOrder);
      exif::Write32(raw + 8, entry.value, byteOrder);
    }
    return 1;
  }
  return 0;
}

int ExifEditor::SetDataOffset(uint32_t code, uint32_t position) {
  if (code != kIfd0 && code != kIfd1) return 0;
  if (position % 2 == 1 && position != std::numeric_limits<uint32_t>::max()) ++position;
  ImageDescription& d = code == kIfd0 ? ifd0 : ifd1;
  if (IsTiffSource()) {
    const auto loc = Locate(code);
    if (!loc) return 0;
    const auto dir = ReadBlockDirectory(Block(), byteOrder, loc->offset);
    if (!dir) return 0;
    for (const BlockEntry& e : dir->entries) {
      if (e.entry.tag != exif::kTagStripOffsets) continue;
      auto numbers = ReadNumbers(Block(), byteOrder, e);
      if (!numbers || numbers->empty()) return 0;
      const int64_t delta = int64_t{position} - numbers->front();
      const uint32_t unit = exif::TypeSize(e.entry.type);
      uint8_t* at = e.OutOfLine() ? Block().data() + e.entry.value : Block().data() + e.position + 8;
      for (size_t i = 0; i < numbers->size(); ++i) {
        const int64_t moved = std::clamp<int64_t>(int64_t{(*numbers)[i]} + delta, 0,
                                                  unit == 2 ? 0xFFFF : 0xFFFFFFFFll);
        if (unit == 2) {
          exif::Write16(at + 2 * i, static_cast<uint16_t>(moved), byteOrder);
        } else {
          exif::Write32(at + 4 * i, static_cast<uint32_t>(moved), byteOrder);
        }
      }
      d.firstStripOffset = position;
      return 1;
    }
    return 0;
  }
  if (code != kIfd1) return 0;
  IfdEntry where{exif::kTagJpegInterchangeFormat, kTypeLong, 1, position};
  IfdEntry length{exif::kTagJpegInterchangeFormatLength, kTypeLong, 1, ThumbnailLength()};
  if (SetEntryInPlace(kIfd1, where) <= 0 || SetEntryInPlace(kIfd1, length) <= 0) return 0;
  d.firstStripOffset = position;
  return 1;
}

uint32_t ExifEditor::GetDataLength(uint32_t code) {
  if (code != kIfd0 && code != kIfd1) return 0;
  uint32_t length = 0;
  if (IsTiffSource()) {
    if (const auto loc = Locate(code)) {
      if (const auto dir = ReadBlockDirectory(Block(), byteOrder, loc->offset)) {
        const std::vector<Strip> strips = ReadStrips(Block(), byteOrder, *dir);
        if (!strips.empty()) {
          const uint64_t first = strips.front().offset;
          const uint64_t end = uint64_t{strips.back().offset} + strips.back().count;
          if (end > first) length = ClampU32(end - first);
        }
      }
    }
  } else if (code == kIfd1) {
    length = ThumbnailLength();
  }
  (code == kIfd0 ? imageDataLength : thumbnailDataLength) = length;
  return length;
}

void ExifEditor::RefreshOutputPositions() {
  if (!HasWorkBlock()) return;
  if (GetDataLength(kIfd1) != 0 && ThumbnailLength() != 0) SetDataOffset(kIfd1, blockLength);
  if (GetDataLength(kIfd0) != 0) SetDataOffset(kIfd0, blockLength + ThumbnailLength());
}

int ExifEditor::RewriteIfd(uint32_t code, std::span<const uint16_t> deletions,
                           std::span<const EntryEdit> additions, exif::ExifReader* value_source) {
  if (!KnownCode(code) || !HasWorkBlock()) return 0;
  const auto loc = Locate(code);
  const auto dir = loc ? ReadBlockDirectory(Block(), byteOrder, loc->offset) : std::nullopt;
  if (!dir) {
    RefreshOutputPositions();
    return 0;
  }
  const std::span<const uint8_t> old_block = Block();

  struct Item {
    BlockEntry raw;
    bool from_block = false;
    std::vector<uint8_t> bytes;  // out-of-line value to write
    bool produced = true;
  };
  std::vector<Item> items;
  RangeList ranges;
  ranges.Cut(dir->offset, static_cast<uint32_t>(DirectorySize(dir->count)));
  std::vector<uint32_t> emptied;  // directories that lose their pointer
  for (const BlockEntry& e : dir->entries) {
    if (e.OutOfLine()) ranges.CutValue(e.entry.value, e.size, blockLength);
    if (std::find(deletions.begin(), deletions.end(), e.entry.tag) != deletions.end()) {
      if (IsDirectoryPointer(e.entry.tag) && e.entry.type == kTypeLong && e.entry.count == 1 &&
          e.entry.value != 0) {
        // An unreferenced directory is no longer followed; an empty one
        // (count and link, 6 bytes) goes with its pointer.
        emptied.push_back(e.entry.tag == exif::kTagExifIfdPointer  ? kExifIfd
                          : e.entry.tag == exif::kTagGpsIfdPointer ? kGpsIfd
                                                                    : kInteropIfd);
        const auto pointed = ByteView(old_block, byteOrder).U16(e.entry.value);
        if (pointed && *pointed == 0) ranges.Cut(e.entry.value, 6);
      }
      continue;
    }
    Item item;
    item.raw = e;
    item.from_block = true;
    items.push_back(std::move(item));
  }
  for (const EntryEdit& add : additions) {
    auto same = std::find_if(items.begin(), items.end(),
                             [&](const Item& i) { return i.raw.entry.tag == add.entry.tag; });
    const bool unchanged = same != items.end() && same->from_block && add.bytes.empty() &&
                           same->raw.entry.type == add.entry.type &&
                           same->raw.entry.count == add.entry.count &&
                           same->raw.entry.value == add.entry.value;
    if (unchanged) continue;
    Item item;
    item.raw.entry = add.entry;
    item.raw.size = uint64_t{exif::TypeSize(add.entry.type)} * add.entry.count;
    exif::Write32(item.raw.field, 0, byteOrder);
    if (!item.raw.OutOfLine()) {
      uint8_t raw[12];
      exif::EncodeEntry(raw, byteOrder, add.entry);
      if (item.raw.size == 0) exif::Write32(raw + 8, add.entry.value, byteOrder);
      std::memcpy(item.raw.field, raw + 8, 4);
    } else if (!add.bytes.empty()) {
      item.bytes = add.bytes;
    } else {
      item.produced = false;
      if (value_source != nullptr) {
        IfdEntry theirs;
        theirs.tag = add.entry.tag;
        if (value_source->FindEntry(code, &theirs) == 1 && theirs.type == add.entry.type &&
            theirs.count == add.entry.count && value_source->data != nullptr) {
          const auto bytes = ByteView(value_source->data, value_source->dataLoadedSize,
                                      value_source->byteOrder)
                                 .Sub(theirs.value, item.raw.size);
          if (bytes) {
            item.bytes.assign(bytes->data(), bytes->data() + bytes->size());
            ConvertValueOrder(item.bytes, add.entry.type, value_source->byteOrder, byteOrder);
            item.produced = true;
          }
        }
      }
    }
    if (same != items.end()) {
      *same = std::move(item);
    } else {
      items.push_back(std::move(item));
    }
  }
  std::stable_sort(items.begin(), items.end(),
                   [](const Item& a, const Item& b) { return a.raw.entry.tag < b.raw.entry.tag; });

  // Value bytes, and the size of the new directory with its value area.
  uint64_t value_area = 0;
  for (Item& item : items) {
    if (!item.raw.OutOfLine()) continue;
    if (item.from_block) {
      if (auto bytes = ValueBytes(old_block, item.raw)) {
        item.bytes.assign(bytes->begin(), bytes->end());
      } else {
        item.produced = false;
      }
    }
    if (!item.produced || item.bytes.size() != item.raw.size) {
      // A value that cannot be produced leaves its entry without one.
      item.produced = false;
      item.bytes.clear();
      item.raw.entry.count = 0;
      item.raw.size = 0;
      exif::Write32(item.raw.field, 0, byteOrder);
      continue;
    }
    value_area += PaddedSize(item.bytes.size());
  }
  if (items.size() > 0xFFFF) return 0;
  const uint64_t insertion = DirectorySize(items.size()) + value_area;
  ranges.Normalise(blockLength);
  const uint64_t new_length = uint64_t{blockLength} - ranges.CutTotal() + insertion;
  const uint64_t capacity = uint64_t{blockLength} + kHeadroom;
  if (new_length > capacity || capacity > std::numeric_limits<uint32_t>::max()) {
    RefreshOutputPositions();
    return 0;
  }
  std::unique_ptr<uint8_t[]> out(new (std::nothrow) uint8_t[capacity]());
  if (out == nullptr) {
    RefreshOutputPositions();
    return 0;
  }
  const std::span<uint8_t> out_block(out.get(), static_cast<size_t>(new_length));
  const uint32_t at = CopyWithCuts(old_block, ranges, dir->offset, static_cast<uint32_t>(insertion),
                                   out_block);
  ranges.Insert(dir->offset, static_cast<uint32_t>(insertion));

  exif::Write16(out.get() + at, static_cast<uint16_t>(items.size()), byteOrder);
  uint64_t value_at = uint64_t{at} + DirectorySize(items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    Item& item = items[i];
    if (item.raw.OutOfLine()) {
      std::memcpy(out.get() + value_at, item.bytes.data(), item.bytes.size());
      exif::Write32(item.raw.field, static_cast<uint32_t>(value_at), byteOrder);
      value_at += PaddedSize(item.bytes.size());
    } else if (item.from_block && IsInlinePointer(code, item.raw.entry.tag)) {
      ShiftInlineField(&item.raw, byteOrder, ranges);
    }
    WriteRawEntry(out_block, byteOrder, static_cast<uint32_t>(at + 2 + kEntrySize * i), item.raw);
  }
  const uint32_t link = dir->link.value_or(0);
  exif::Write32(out.get() + at + 2 + kEntrySize * items.size(), link == 0 ? 0 : ranges.Shift(link),
                byteOrder);

  workBlock_ = std::move(out);
  workCapacity_ = static_cast<uint32_t>(capacity);
  blockLength = static_cast<uint32_t>(new_length);
  for (uint32_t gone : emptied) SetHeader(gone, 0, 0);
  ShiftAll(ranges, code);
  SetHeader(code, at, static_cast<uint16_t>(items.size()));
  // The rewritten directory's own pointers decide where its children are.
  if (code == kIfd0 || code == kExifIfd) {
    for (const Item& item : items) {
      const uint32_t v = exif::Read32(item.raw.field, byteOrder);
      if (code == kExifIfd && item.raw.entry.tag == exif::kTagMakerNote && item.raw.OutOfLine() &&
          item.raw.entry.type == kTypeUndefined) {
        makerNoteOffset = v;
        makerNoteLength = item.raw.entry.count;
        makerNoteIfd = MakerNoteIfd{};
      }
      if (item.raw.entry.type != kTypeLong || item.raw.entry.count != 1) continue;
      if (code == kIfd0 && item.raw.entry.tag == exif::kTagExifIfdPointer) exifHeader.offset = v;
      if (code == kIfd0 && item.raw.entry.tag == exif::kTagGpsIfdPointer) gpsHeader.offset = v;
      if (code == kExifIfd && item.raw.entry.tag == kTagInteropPointer) interopHeader.offset = v;
    }
  }
  if (code == kIfd0) ifd1.ifdOffset = link == 0 ? 0 : ranges.Shift(link);
  RefreshDescriptors();
  RefreshOutputPositions();
  return static_cast<int>(items.size()) - static_cast<int>(dir->count);
}

}  // namespace veltora::edit
