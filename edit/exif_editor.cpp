#include "edit/exif_editor.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <new>

#include "bytes/byte_view.h"
#include "edit/block_entries.h"
#include "edit/directory_writer.h"
#include "exif/directory.h"

namespace veltora::edit {
namespace {

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

// A maker note whose leading text is this long or longer is no signature: its
// directory is taken to start at its first byte.
constexpr size_t kMaxSignatureLength = 19;

// Makes `bytes` `size` zero bytes; false when the memory is not there.
bool ZeroFilled(std::vector<uint8_t>& bytes, uint64_t size) {
  try {
    bytes.assign(static_cast<size_t>(size), 0);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

uint32_t ClampU32(uint64_t v) {
  return static_cast<uint32_t>(std::min<uint64_t>(v, std::numeric_limits<uint32_t>::max()));
}

// Where each directory the editor follows hangs: its parent and the tag of
// the parent's pointer entry (one LONG; where a damaged directory holds the
// tag more than once, the last such entry). IFD0 hangs on the TIFF header,
// IFD1 on IFD0's link and the maker note's directory on the MakerNote value:
// they have no pointer entry.
constexpr std::array<DirectoryPlace, 6> kDirectoryLinks = {{
    {kIfd0, 0, 0},
    {kExifIfd, kIfd0, exif::kTagExifIfdPointer},
    {kGpsIfd, kIfd0, exif::kTagGpsIfdPointer},
    {kInteropIfd, kExifIfd, exif::kTagInteropIfdPointer},
    {kIfd1, kIfd0, 0},
    {kMakerNoteIfd, kExifIfd, 0},
}};

// The directories whose tables and values move with the block; the maker
// note's never moves (see PinnedEnd).
constexpr uint32_t kMovingDirectories[] = {kIfd0, kExifIfd, kGpsIfd, kInteropIfd, kIfd1};

// The directory that a pointer entry with `tag` in directory `parent` names;
// nullptr when the entry is no directory pointer there.
const DirectoryPlace* ChildOf(uint32_t parent, uint16_t tag) {
  for (const DirectoryPlace& link : kDirectoryLinks) {
    if (link.parent == parent && link.pointerTag == tag && tag != 0) return &link;
  }
  return nullptr;
}

bool IsPointerEntry(const IfdEntry& e) { return e.type == kTypeLong && e.count == 1; }

// Whether an inline value of this directory is an offset that moves with the
// block (the pointers to other directories, strips and the thumbnail).
bool IsInlinePointer(uint32_t code, uint16_t tag) {
  if (ChildOf(code, tag) != nullptr) return true;
  return ((code == kIfd0 || code == kIfd1) && tag == exif::kTagStripOffsets) ||
         (code == kIfd1 && tag == exif::kTagJpegInterchangeFormat);
}

constexpr uint16_t kTypeIfd = 13;

// Tags whose values are offsets into the block that this editor does not
// follow (sub-images, private DNG data, vendor directories): a block holding
// one keeps every byte where it is.
bool IsForeignPointer(uint16_t tag) {
  constexpr uint16_t kTags[] = {330 /* SubIFDs */, 400 /* GlobalParametersIFD */,
                                33424 /* Kodak IFD */, 50740 /* DNGPrivateData */};
  return std::find(std::begin(kTags), std::end(kTags), tag) != std::end(kTags);
}

// Where the run of cuts that ends the block starts (the block's length when
// no cut reaches its end).
uint32_t TailStart(const RangeList& cuts, uint32_t block_length) {
  uint64_t tail = block_length;
  const auto pairs = cuts.pairs();
  for (auto p = pairs.rbegin(); p != pairs.rend(); ++p) {
    if (p->delta >= 0 || uint64_t{p->start} + static_cast<uint32_t>(-int64_t{p->delta}) != tail) break;
    tail = p->start;
  }
  return static_cast<uint32_t>(tail);
}

bool StoredOutOfLine(const IfdEntry& e) { return uint64_t{StoredUnitSize(e.type)} * e.count > 4; }

// Shifts an inline pointer value held in a 4-byte value field.
void ShiftInlineField(uint16_t type, uint32_t count, uint8_t field[4], bytes::ByteOrder order,
                      const RangeList& ranges) {
  if (type == kTypeLong && count == 1) {
    bytes::Write32(field, ranges.Shift(bytes::Read32(field, order)), order);
  } else if (type == kTypeShort && (count == 1 || count == 2)) {
    for (uint32_t half = 0; half < count; ++half) {
      const uint32_t moved = ranges.Shift(bytes::Read16(field + 2 * half, order));
      bytes::Write16(field + 2 * half, static_cast<uint16_t>(std::min<uint32_t>(moved, 0xFFFF)),
                    order);
    }
  }
}
void ShiftInlineField(DirectoryItem& item, bytes::ByteOrder order, const RangeList& ranges) {
  ShiftInlineField(item.type, item.count, item.field, order, ranges);
}

// Strip positions and sizes of a directory: (offset, byte count) pairs.
struct Strip {
  uint32_t offset = 0;
  uint32_t count = 0;
};

std::vector<Strip> ReadStrips(std::span<const uint8_t> block, bytes::ByteOrder order,
                              const BlockDirectory& dir) {
  const BlockEntry* offsets = nullptr;
  const BlockEntry* counts = nullptr;
  for (const BlockEntry& e : dir.entries) {
    if (e.entry.tag == exif::kTagStripOffsets && offsets == nullptr) offsets = &e;
    if (e.entry.tag == exif::kTagStripByteCounts && counts == nullptr) counts = &e;
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

ExifEditor::ExifEditor(exif::ExifReader& source) : source_(source), directories_(kDirectoryLinks) {}

bool ExifEditor::IsTiffSource() const {
  // A JPEG's TIFF header always lies behind its SOI and APP1 header, so only
  // a bare TIFF file has it at 0. Camera JPEGs that also carry ImageWidth
  // and ImageLength in IFD0 must keep the JPEG layout.
  return source_.Valid() && source_.TiffHeaderOffset() == 0 && source_.HasTiffDimensions() != 0;
}

DirectoryPlace* ExifEditor::PlaceOf(uint32_t code) {
  for (DirectoryPlace& place : directories_) {
    if (place.code == code) return &place;
  }
  return nullptr;
}

const DirectoryPlace* ExifEditor::PlaceOf(uint32_t code) const {
  return const_cast<ExifEditor*>(this)->PlaceOf(code);
}

uint32_t ExifEditor::DirectoryOffset(uint32_t code) const {
  const DirectoryPlace* place = PlaceOf(code);
  return place != nullptr ? place->offset : 0;
}

uint16_t ExifEditor::EntryCount(uint32_t code) const {
  const DirectoryPlace* place = PlaceOf(code);
  return place != nullptr ? place->count : 0;
}

void ExifEditor::SetPlace(uint32_t code, uint32_t offset, uint16_t count) {
  if (DirectoryPlace* place = PlaceOf(code)) {
    place->offset = offset;
    place->count = count;
  }
}

void ExifEditor::ForgetPlaces() {
  directories_ = kDirectoryLinks;
  makerNoteOffset_ = makerNoteLength_ = 0;
}

void ExifEditor::DropThumbnail() {
  thumbnailBytes_.clear();
  thumbnailPicture_ = {};
}

void ExifEditor::TakeImageDataFrom(std::span<const uint8_t> picture, uint32_t first_strip) {
  imageDataPicture_ = picture;
  imageDataFirstStrip_ = first_strip;
}

uint64_t ExifEditor::ImageDataStart() const {
  if (!imageDataPicture_.empty() && imageDataFirstStrip_ != 0) return imageDataFirstStrip_;
  return uint64_t{source_.TiffHeaderOffset()} + source_.PrimaryImage().firstStripOffset;
}

PlacedData ExifEditor::Placed(uint32_t code) {
  if (code != kIfd0 && code != kIfd1) return {};
  return {DataOffset(code), code == kIfd0 ? imageDataLength_ : thumbnailDataLength_};
}

std::optional<DirectoryPlace> ExifEditor::Locate(uint32_t code) {
  DirectoryPlace* place = PlaceOf(code);
  if (place == nullptr || !HasWorkBlock()) return std::nullopt;
  if (code == kMakerNoteIfd) LocateMakerNoteIfd();
  if (place->offset < kMinDirectoryOffset) return std::nullopt;
  const bytes::ByteView view(Block(), Order());
  const auto count = view.U16(place->offset);
  if (!count || !view.Contains(uint64_t{place->offset} + 2, uint64_t{kEntrySize} * *count)) {
    return std::nullopt;
  }
  place->count = *count;
  return *place;
}

bool ExifEditor::Allocate(uint32_t length) {
  const uint64_t capacity = uint64_t{length} + kHeadroom;
  if (capacity > std::numeric_limits<uint32_t>::max()) return false;
  block_.clear();
  blockLength_ = 0;
  if (!ZeroFilled(block_, capacity)) return false;
  blockLength_ = length;
  return true;
}

std::optional<uint32_t> ExifEditor::Append(std::span<const uint8_t> bytes, bool even) {
  if (!HasWorkBlock()) return std::nullopt;
  const uint64_t start = even ? PaddedSize(blockLength_) : blockLength_;
  if (start + bytes.size() > block_.size()) return std::nullopt;
  std::memset(block_.data() + blockLength_, 0, static_cast<size_t>(start - blockLength_));
  if (!bytes.empty()) std::memcpy(block_.data() + start, bytes.data(), bytes.size());
  blockLength_ = static_cast<uint32_t>(start + bytes.size());
  return static_cast<uint32_t>(start);
}

bool ExifEditor::StartBlock(std::span<const uint8_t> head) {
  thumbnailBytes_.clear();
  pinnedEnd_ = 0;
  detachedIfd1_.clear();
  ForgetPlaces();
  if (head.size() > kHeadroom || !Allocate(source_.DataSize())) return false;
  std::memcpy(block_.data(), head.data(), head.size());
  blockLength_ = static_cast<uint32_t>(head.size());
  return true;
}

void ExifEditor::Truncate(uint32_t length) {
  if (length >= blockLength_) return;
  std::memset(block_.data() + length, 0, blockLength_ - length);
  blockLength_ = length;
}

bool ExifEditor::PadToEven() { return Append({}, true).has_value(); }

std::optional<uint32_t> ExifEditor::NextLinkPosition(uint32_t code) {
  const auto loc = Locate(code);
  if (!loc) return std::nullopt;
  const uint64_t at = uint64_t{loc->offset} + 2 + uint64_t{kEntrySize} * loc->count;
  if (!bytes::ByteView(Block(), Order()).Contains(at, 4)) return std::nullopt;
  return static_cast<uint32_t>(at);
}

Outcome ExifEditor::CutAppendedIfd1() {
  const uint32_t ifd1 = DirectoryOffset(kIfd1);
  if (!HasWorkBlock() || ifd1 == 0) return Outcome::kAbsent;
  const auto link = NextLinkPosition(kIfd0);
  if (!link || ifd1 < *link) return Outcome::kRefused;  // not the directory appended last
  DropThumbnail();
  Truncate(ifd1);
  SetPlace(kIfd1, 0, 0);
  bytes::Write32(Block().data() + *link, 0, Order());
  PlaceDataBehindBlock();
  return Outcome::kDone;
}

Outcome ExifEditor::LinkBehindIfd1(uint32_t offset) {
  const auto link = NextLinkPosition(kIfd1);
  if (!link) return Outcome::kAbsent;
  bytes::Write32(Block().data() + *link, offset, Order());
  return Outcome::kDone;
}

void ExifEditor::LocateMakerNoteIfd() {
  DirectoryPlace& place = *PlaceOf(kMakerNoteIfd);
  if (makerNoteOffset_ == 0 || place.offset != 0) return;
  const bytes::ByteView view(Block(), Order());
  const auto note = view.Sub(makerNoteOffset_, makerNoteLength_);
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
  const uint64_t at = uint64_t{makerNoteOffset_} + start;
  const auto count = view.U16(at);
  if (!count || !view.Contains(at + 2, uint64_t{kEntrySize} * *count)) return;
  place.offset = static_cast<uint32_t>(at);
  place.count = *count;
}

void ExifEditor::ReadHeadersFromBlock() {
  const std::span<const uint8_t> block = Block();
  ForgetPlaces();
  DirectoryPlace& ifd0 = *PlaceOf(kIfd0);
  ifd0.offset = bytes::ByteView(block, Order()).U32(4).value_or(0);
  if (auto dir = ReadBlockDirectory(block, Order(), ifd0.offset)) {
    ifd0.count = dir->count;
    for (const BlockEntry& e : dir->entries) NoteChildPointer(kIfd0, e.entry);
    const uint32_t link = dir->link.value_or(0);
    if (auto ifd1 = ReadBlockDirectory(block, Order(), link)) SetPlace(kIfd1, link, ifd1->count);
  } else {
    ifd0.offset = 0;
  }
  DirectoryPlace& exif_ifd = *PlaceOf(kExifIfd);
  if (auto dir = ReadBlockDirectory(block, Order(), exif_ifd.offset)) {
    exif_ifd.count = dir->count;
    for (const BlockEntry& e : dir->entries) {
      NoteChildPointer(kExifIfd, e.entry);
      if (e.entry.tag == exif::kTagMakerNote && e.entry.type == kTypeUndefined &&
          makerNoteOffset_ == 0 && e.OutOfLine() && ValueBytes(block, e)) {
        makerNoteOffset_ = e.entry.value;
        makerNoteLength_ = e.entry.count;
      }
    }
  }
  for (uint32_t code : {kGpsIfd, kInteropIfd}) {
    DirectoryPlace& place = *PlaceOf(code);
    if (auto dir = ReadBlockDirectory(block, Order(), place.offset)) place.count = dir->count;
  }
  LocateMakerNoteIfd();
}

uint32_t ExifEditor::DataOffset(uint32_t code) {
  const auto dir = ReadDirectory(code);
  if (!dir || (code != kIfd0 && code != kIfd1)) return 0;
  uint32_t offset = 0;
  for (const BlockEntry& e : dir->entries) {
    if (code == kIfd1 && !IsTiffSource()) {
      // In a JPEG the thumbnail's position is the IFD1 data position.
      if (e.entry.tag == exif::kTagJpegInterchangeFormat && !e.OutOfLine()) offset = e.entry.value;
    } else if (e.entry.tag == exif::kTagStripOffsets) {
      const auto numbers = ReadNumbers(Block(), Order(), e);
      offset = numbers && !numbers->empty() ? numbers->front() : 0;
    }
  }
  return offset;
}

void ExifEditor::FixUpOffsets(uint32_t code, const RangeList& ranges) {
  const auto dir = ReadDirectory(code);
  if (!dir) return;
  for (BlockEntry e : dir->entries) {
    const uint8_t before[4] = {e.field[0], e.field[1], e.field[2], e.field[3]};
    if (e.OutOfLine()) {
      bytes::Write32(e.field, ranges.Shift(e.entry.value), Order());
    } else if (IsInlinePointer(code, e.entry.tag)) {
      ShiftInlineField(e.entry.type, e.entry.count, e.field, Order(), ranges);
      const uint32_t moved = bytes::Read32(e.field, Order());
      NoteChildPointer(code, IfdEntry{e.entry.tag, e.entry.type, e.entry.count, moved});
    }
    if (code == kExifIfd && e.entry.tag == exif::kTagMakerNote && e.entry.type == kTypeUndefined &&
        e.OutOfLine()) {
      makerNoteOffset_ = bytes::Read32(e.field, Order());
      makerNoteLength_ = e.entry.count;
      SetPlace(kMakerNoteIfd, 0, 0);
    }
    if (std::memcmp(before, e.field, 4) != 0) WriteRawEntry(Block(), Order(), e.position, e);
  }
  if (dir->link && *dir->link != 0) {
    bytes::Write32(Block().data() + dir->LinkPosition(), ranges.Shift(*dir->link), Order());
  }
}

void ExifEditor::ShiftAll(const RangeList& ranges, uint32_t skip_code) {
  const bytes::ByteView view(Block(), Order());
  // The header's IFD0 pointer moves like any other offset.
  if (auto header_ifd0 = view.U32(4); header_ifd0 && *header_ifd0 != 0) {
    bytes::Write32(Block().data() + 4, ranges.Shift(*header_ifd0), Order());
  }
  for (uint32_t code : kMovingDirectories) {
    DirectoryPlace& place = *PlaceOf(code);
    if (code != skip_code && place.offset != 0) place.offset = ranges.Shift(place.offset);
  }
  for (uint32_t code : kMovingDirectories) {
    if (code != skip_code) FixUpOffsets(code, ranges);
  }
  // A maker note never moves: a block that holds one is pinned whole (see
  // PinnedEnd), so no range shifts it and its inner offsets, whatever they
  // count from, stay right without being understood.
  LocateMakerNoteIfd();
}

bool ExifEditor::CopySourceBlock() {
  {
    const exif::ScopedExifData loaded = LoadSource();
    const std::span<const uint8_t> source = loaded.Bytes();
    if (source.empty() || !Allocate(static_cast<uint32_t>(source.size()))) return false;
    std::memcpy(block_.data(), source.data(), source.size());
  }
  ReadHeadersFromBlock();
  pinnedEnd_ = HoldsImmovableData() ? blockLength_ : 0;
  return true;
}

void ExifEditor::SpareLiveData(RangeList& cuts, std::span<const uint32_t> leaving) {
  // Malformed blocks let directories share bytes; what another directory
  // still uses is not cut, whatever else claimed it.
  for (uint32_t code : kMovingDirectories) {
    if (std::find(leaving.begin(), leaving.end(), code) != leaving.end()) continue;
    const auto dir = ReadDirectory(code);
    if (!dir) continue;
    cuts.Spare(dir->offset, static_cast<uint32_t>(DirectoryTableSize(dir->count)));
    for (const BlockEntry& e : dir->entries) {
      if (e.OutOfLine()) cuts.Spare(e.entry.value, ClampU32(e.size));
    }
  }
}

std::optional<BlockDirectory> ExifEditor::ReadDirectory(uint32_t code) {
  const auto loc = Locate(code);
  return loc ? ReadBlockDirectory(Block(), Order(), loc->offset) : std::nullopt;
}

std::vector<uint32_t> ExifEditor::StructureStarts() {
  std::vector<uint32_t> starts;
  for (uint32_t code : kMovingDirectories) {
    const auto dir = ReadDirectory(code);
    if (!dir) continue;
    starts.push_back(dir->offset);
    for (const BlockEntry& e : dir->entries) {
      if (e.OutOfLine()) starts.push_back(e.entry.value);
    }
  }
  return starts;
}

bool ExifEditor::HoldsImmovableData() {
  for (uint32_t code : kMovingDirectories) {
    const auto dir = ReadDirectory(code);
    if (!dir) continue;
    for (const BlockEntry& e : dir->entries) {
      if (e.entry.tag == exif::kTagMakerNote || IsForeignPointer(e.entry.tag) ||
          StoredUnitSize(e.entry.type) == 0 || e.entry.type == kTypeIfd) {
        return true;
      }
    }
    // Directories chained behind IFD1 belong to images this editor does not follow.
    if (code == kIfd1 && dir->link.value_or(0) != 0) return true;
  }
  return false;
}

Outcome ExifEditor::StartEdit(bool drop_interop) {
  if (!block_.empty()) return Outcome::kRefused;
  if (!source_.HasJpegDimensions() && !source_.HasTiffDimensions()) return Outcome::kAbsent;
  if (!CopySourceBlock()) return Outcome::kRefused;

  if (const uint32_t ifd1 = DirectoryOffset(kIfd1); ifd1 != 0) {
    const auto dir = ReadBlockDirectory(Block(), Order(), ifd1);
    if (dir) {
      const std::vector<uint32_t> starts = StructureStarts();
      RangeList cuts;
      cuts.Cut(dir->offset, static_cast<uint32_t>(DirectoryTableSize(dir->count)));
      uint32_t jpeg_at = 0;
      uint32_t jpeg_length = 0;
      for (const BlockEntry& e : dir->entries) {
        if (e.OutOfLine()) cuts.CutValue(e.entry.value, e.size, Block(), starts);
        if (e.entry.tag == exif::kTagJpegInterchangeFormat && !e.OutOfLine()) {
          jpeg_at = e.entry.value;
        }
        if (e.entry.tag == exif::kTagJpegInterchangeFormatLength && !e.OutOfLine()) {
          jpeg_length = e.entry.value;
        }
      }
      // A thumbnail that runs past the block loses what lies inside it.
      if (jpeg_at != 0 && jpeg_at < blockLength_) {
        cuts.CutValue(jpeg_at, std::min(jpeg_length, blockLength_ - jpeg_at), Block(), starts);
      }
      for (const Strip& s : ReadStrips(Block(), Order(), *dir)) {
        cuts.CutValue(s.offset, s.count, Block(), starts);
      }
      cuts.Normalise(blockLength_);
      const uint32_t leaving[] = {kIfd1};
      SpareLiveData(cuts, leaving);
      cuts.Spare(makerNoteOffset_, makerNoteLength_);
      // A pinned block still loses what ends it (typically IFD1 and the
      // thumbnail): nothing lies behind those bytes that could move.
      pinnedEnd_ = std::min(pinnedEnd_, TailStart(cuts, blockLength_));
      std::vector<RangePair> holes = cuts.TakeHolesBelow(pinnedEnd_);
      if (cuts.CutTotal() == 0) detachedIfd1_ = holes;
      const uint32_t new_length = ClampU32(blockLength_ - std::min<uint64_t>(cuts.CutTotal(), blockLength_));
      const std::vector<uint8_t> old = std::move(block_);
      const uint32_t old_length = blockLength_;
      if (!Allocate(new_length)) return Outcome::kRefused;
      CopyWithCuts(std::span<const uint8_t>(old).first(old_length), cuts, 0, 0, Block());
      for (const RangePair& hole : holes) {
        std::memset(block_.data() + hole.start, 0, static_cast<size_t>(hole.delta));
      }
      SetPlace(kIfd1, 0, 0);
      ShiftAll(cuts, kIfd1);
    }
  }
  SetPlace(kIfd1, 0, 0);
  if (auto link = NextLinkPosition(kIfd0)) bytes::Write32(Block().data() + *link, 0, Order());
  if (drop_interop && DirectoryOffset(kInteropIfd) != 0 &&
      Done(RemoveTag(kExifIfd, exif::kTagInteropIfdPointer))) {
    SetPlace(kInteropIfd, 0, 0);
  }
  imageDataLength_ = DataLength(kIfd0);
  thumbnailDataLength_ = DataLength(kIfd1);
  if (imageDataLength_ != 0) (void)SetDataOffset(kIfd0, blockLength_);
  return Outcome::kDone;
}

bool ExifEditor::RestoreDetachedIfd1(std::span<const uint8_t> source, uint32_t ifd1_offset) {
  if (detachedIfd1_.empty() || DirectoryOffset(kIfd1) != 0) return false;
  const std::span<uint8_t> block = Block();
  for (const RangePair& hole : detachedIfd1_) {
    const uint64_t end = uint64_t{hole.start} + static_cast<uint32_t>(hole.delta);
    if (end > block.size() || end > source.size()) return false;
    if (std::any_of(block.begin() + static_cast<ptrdiff_t>(hole.start),
                    block.begin() + static_cast<ptrdiff_t>(end),
                    [](uint8_t b) { return b != 0; })) {
      return false;  // something was written there since
    }
  }
  const auto link = NextLinkPosition(kIfd0);
  if (!link) return false;
  for (const RangePair& hole : detachedIfd1_) {
    std::memcpy(block.data() + hole.start, source.data() + hole.start,
                static_cast<size_t>(hole.delta));
  }
  bytes::Write32(block.data() + *link, ifd1_offset, Order());
  detachedIfd1_.clear();
  SetPlace(kIfd1, ifd1_offset, 0);
  return true;
}

Outcome ExifEditor::CopyBlock() {
  if (!block_.empty()) return Outcome::kRefused;
  return CopySourceBlock() ? Outcome::kDone : Outcome::kRefused;
}

std::optional<IfdEntry> ExifEditor::FindBlockEntry(uint32_t code, uint16_t tag) {
  const auto dir = ReadDirectory(code);
  if (!dir) return std::nullopt;
  for (const BlockEntry& e : dir->entries) {
    if (e.entry.tag == tag) return e.entry;
  }
  return std::nullopt;
}

std::vector<IfdEntry> ExifEditor::BlockEntries(uint32_t code) {
  std::vector<IfdEntry> entries;
  if (const auto dir = ReadDirectory(code)) {
    for (const BlockEntry& e : dir->entries) entries.push_back(e.entry);
  }
  return entries;
}

Outcome ExifEditor::RemoveTag(uint32_t code, uint16_t tag) {
  const auto dir = ReadDirectory(code);
  if (!dir) return Outcome::kAbsent;
  if (code != kMakerNoteIfd && MeetsMakerNote(dir->offset, DirectoryTableSize(dir->count))) {
    return Outcome::kRefused;
  }
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
  if (removed == 0) return Outcome::kAbsent;
  uint8_t* table = Block().data() + dir->offset;
  const auto count = static_cast<uint16_t>(dir->count - removed);
  bytes::Write16(table, count, Order());
  std::memcpy(table + 2, kept.data(), kept.size());
  // Everything from the new end of the table to the old end of the link is
  // rewritten: the link moves up and the freed bytes become zero.
  const size_t old_end = 2 + size_t{kEntrySize} * dir->count + (dir->link ? 4 : 0);
  size_t end = 2 + kept.size();
  if (dir->link) {
    bytes::Write32(table + end, *dir->link, Order());
    end += 4;
  }
  std::memset(table + end, 0, old_end - end);
  PlaceOf(code)->count = count;
  return Outcome::kDone;
}

Outcome ExifEditor::SetEntryInPlace(uint32_t code, const IfdEntry& entry) {
  const auto dir = ReadDirectory(code);
  if (!dir) return Outcome::kAbsent;
  for (const BlockEntry& e : dir->entries) {
    if (e.entry.tag != entry.tag) continue;
    if (code != kMakerNoteIfd && MeetsMakerNote(e.position, kEntrySize)) return Outcome::kRefused;
    uint8_t* raw = Block().data() + e.position;
    exif::EncodeEntry(raw, Order(), entry);
    // Types without a size keep their count and raw value field as given.
    if (exif::TypeSize(entry.type) == 0) {
      bytes::Write32(raw + 4, entry.count, Order());
      bytes::Write32(raw + 8, entry.value, Order());
    }
    return Outcome::kDone;
  }
  return Outcome::kAbsent;
}

Outcome ExifEditor::SetDataOffset(uint32_t code, uint32_t position) {
  if (code != kIfd0 && code != kIfd1) return Outcome::kAbsent;
  (code == kIfd0 ? imageDataLength_ : thumbnailDataLength_) = DataLength(code);
  if (position % 2 == 1 && position != std::numeric_limits<uint32_t>::max()) ++position;
  if (IsTiffSource()) {
    const auto dir = ReadDirectory(code);
    if (!dir) return Outcome::kAbsent;
    for (const BlockEntry& e : dir->entries) {
      if (e.entry.tag != exif::kTagStripOffsets) continue;
      auto numbers = ReadNumbers(Block(), Order(), e);
      if (!numbers || numbers->empty()) return Outcome::kRefused;
      const int64_t delta = int64_t{position} - numbers->front();
      const uint32_t unit = exif::TypeSize(e.entry.type);
      uint8_t* at = e.OutOfLine() ? Block().data() + e.entry.value : Block().data() + e.position + 8;
      for (size_t i = 0; i < numbers->size(); ++i) {
        const int64_t moved = std::clamp<int64_t>(int64_t{(*numbers)[i]} + delta, 0,
                                                  unit == 2 ? 0xFFFF : 0xFFFFFFFFll);
        if (unit == 2) {
          bytes::Write16(at + 2 * i, static_cast<uint16_t>(moved), Order());
        } else {
          bytes::Write32(at + 4 * i, static_cast<uint32_t>(moved), Order());
        }
      }
      return Outcome::kDone;
    }
    return Outcome::kAbsent;
  }
  if (code != kIfd1) return Outcome::kAbsent;
  const IfdEntry where{exif::kTagJpegInterchangeFormat, kTypeLong, 1, position};
  const IfdEntry length{exif::kTagJpegInterchangeFormatLength, kTypeLong, 1, ThumbnailLength()};
  if (const Outcome set = SetEntryInPlace(kIfd1, where); !Done(set)) return set;
  return SetEntryInPlace(kIfd1, length);
}

uint32_t ExifEditor::DataLength(uint32_t code) {
  if (code != kIfd0 && code != kIfd1) return 0;
  uint32_t length = 0;
  if (IsTiffSource()) {
    if (const auto dir = ReadDirectory(code)) {
      const std::vector<Strip> strips = ReadStrips(Block(), Order(), *dir);
      if (!strips.empty()) {
        const uint64_t first = strips.front().offset;
        const uint64_t end = uint64_t{strips.back().offset} + strips.back().count;
        if (end > first) length = ClampU32(end - first);
      }
    }
  } else if (code == kIfd1) {
    length = ThumbnailLength();
  }
  return length;
}

void ExifEditor::PlaceDataBehindBlock() {
  if (!HasWorkBlock()) return;
  // Each placement is its own: image data still goes behind the block when
  // the thumbnail's entries cannot take their position.
  imageDataLength_ = DataLength(kIfd0);
  thumbnailDataLength_ = DataLength(kIfd1);
  if (thumbnailDataLength_ != 0 && ThumbnailLength() != 0) (void)SetDataOffset(kIfd1, blockLength_);
  if (imageDataLength_ != 0) (void)SetDataOffset(kIfd0, blockLength_ + ThumbnailLength());
}

Outcome ExifEditor::AppendDirectory(uint32_t code, std::vector<DirectoryItem>& items,
                                    std::span<const uint8_t> trailer) {
  if (!HasWorkBlock() || items.size() > 0xFFFF) return Outcome::kRefused;
  const bool parent_has_place = code == kIfd0   ? blockLength_ >= 8
                                : code == kIfd1 ? NextLinkPosition(kIfd0).has_value()
                                                : ParentPointerWritable(code);
  if (!parent_has_place) return Outcome::kRefused;
  std::stable_sort(items.begin(), items.end(),
                   [](const DirectoryItem& a, const DirectoryItem& b) { return a.tag < b.tag; });
  const uint32_t length = blockLength_;
  std::vector<uint8_t> bytes = DirectoryBytes(items, AppendPosition(), 0, Order());
  bytes.insert(bytes.end(), trailer.begin(), trailer.end());
  const auto at = Append(bytes, true);
  if (!at) return Outcome::kRefused;
  if (const Outcome pointed = PointAt(code, *at); !Done(pointed)) {
    Truncate(length);
    return pointed;
  }
  SetPlace(code, *at, static_cast<uint16_t>(items.size()));
  return Outcome::kDone;
}

std::optional<RewritePlan> ExifEditor::PlanRewrite(uint32_t code,
                                                   std::span<const uint16_t> deletions,
                                                   std::span<const EntryEdit> additions,
                                                   exif::ExifReader* value_source) {
  auto dir = ReadDirectory(code);
  if (!dir) return std::nullopt;
  const std::span<const uint8_t> block = Block();
  RewritePlan plan;
  plan.structureStarts = StructureStarts();
  plan.cuts.Cut(dir->offset, static_cast<uint32_t>(DirectoryTableSize(dir->count)));
  for (const BlockEntry& e : dir->entries) {
    if (std::find(deletions.begin(), deletions.end(), e.entry.tag) != deletions.end()) {
      if (e.entry.tag == exif::kTagMakerNote) plan.dropsMakerNote = true;
      if (e.OutOfLine()) plan.cuts.CutValue(e.entry.value, e.size, block, plan.structureStarts);
      if (const DirectoryPlace* child = ChildOf(code, e.entry.tag);
          child != nullptr && IsPointerEntry(e.entry) && e.entry.value != 0) {
        // An unreferenced directory is no longer followed; an empty one
        // (count and link, 6 bytes) goes with its pointer.
        plan.emptied.push_back(child->code);
        const auto pointed = bytes::ByteView(block, Order()).U16(e.entry.value);
        if (pointed && *pointed == 0) plan.cuts.Cut(e.entry.value, 6);
      }
      continue;
    }
    PlannedEntry kept;
    kept.item = {e.entry.tag, e.entry.type, e.entry.count, {}, {}};
    std::memcpy(kept.item.field, e.field, 4);
    kept.fromBlock = true;
    if (e.OutOfLine()) {
      kept.oldValue = {e.entry.value, e.size};
      if (auto bytes = ValueBytes(block, e)) {
        kept.item.value.assign(bytes->begin(), bytes->end());
      } else {
        kept.produced = false;
      }
    }
    plan.entries.push_back(std::move(kept));
  }
  for (const EntryEdit& add : additions) {
    auto same = FindSameEntry(plan.entries, add.entry.tag, add.entry.type, [](const PlannedEntry& p) {
      return std::pair{p.item.tag, p.item.type};
    });
    const bool unchanged = same != plan.entries.end() && same->fromBlock && add.bytes.empty() &&
                           same->item.type == add.entry.type &&
                           same->item.count == add.entry.count &&
                           bytes::Read32(same->item.field, Order()) ==
                               (StoredOutOfLine(add.entry) ? add.entry.value : PackedField(add.entry));
    if (unchanged) continue;
    PlannedEntry planned = PlanAddition(code, add, value_source);
    if (same != plan.entries.end()) {
      if (same->item.tag == exif::kTagMakerNote) plan.dropsMakerNote = true;
      if (same->oldValue.size != 0) {
        plan.cuts.CutValue(same->oldValue.offset, same->oldValue.size, block, plan.structureStarts);
      }
      *same = std::move(planned);
    } else {
      plan.entries.push_back(std::move(planned));
    }
  }
  for (PlannedEntry& p : plan.entries) {
    if (p.produced) continue;
    // A value that cannot be produced leaves its entry without one.
    p.item.count = 0;
    p.item.value.clear();
    std::memset(p.item.field, 0, 4);
  }
  std::stable_sort(plan.entries.begin(), plan.entries.end(),
                   [](const PlannedEntry& a, const PlannedEntry& b) { return a.item.tag < b.item.tag; });
  if (plan.entries.size() > 0xFFFF) return std::nullopt;
  plan.directory = std::move(*dir);
  return plan;
}

uint32_t ExifEditor::PackedField(const IfdEntry& entry) const {
  uint8_t raw[12];
  exif::EncodeEntry(raw, Order(), entry);
  // Types without a size in the value primitives keep the field as given.
  if (exif::TypeSize(entry.type) == 0) bytes::Write32(raw + 8, entry.value, Order());
  return bytes::Read32(raw + 8, Order());
}

PlannedEntry ExifEditor::PlanAddition(uint32_t code, const EntryEdit& add,
                                      exif::ExifReader* value_source) const {
  PlannedEntry planned;
  planned.item = {add.entry.tag, add.entry.type, add.entry.count, {}, {}};
  const uint64_t size = uint64_t{StoredUnitSize(add.entry.type)} * add.entry.count;
  if (!StoredOutOfLine(add.entry)) {
    bytes::Write32(planned.item.field, PackedField(add.entry), Order());
    return planned;
  }
  if (!add.bytes.empty()) {
    planned.item.value = add.bytes;
    planned.produced = add.bytes.size() == size;
    return planned;
  }
  planned.produced = false;
  if (value_source == nullptr || value_source->LoadedData().empty()) return planned;
  IfdEntry theirs;
  theirs.tag = add.entry.tag;
  if (!Done(value_source->FindEntry(code, &theirs)) || theirs.type != add.entry.type ||
      theirs.count != add.entry.count) {
    return planned;
  }
  const auto bytes =
      bytes::ByteView(value_source->LoadedData(), value_source->Order()).Sub(theirs.value, size);
  if (!bytes) return planned;
  planned.item.value.assign(bytes->data(), bytes->data() + bytes->size());
  ConvertValueOrder(planned.item.value, add.entry.type, value_source->Order(), Order());
  planned.produced = true;
  return planned;
}

bool ExifEditor::RewriteAllowed(uint32_t code, const BlockDirectory& dir, bool relocate) {
  if (relocate && code == kMakerNoteIfd) return false;  // it cannot leave its note
  // A table rewritten in place, or the pointer entry that follows a moved
  // one, must not share bytes with the maker note (see MeetsMakerNote).
  if (code != kMakerNoteIfd && !relocate &&
      MeetsMakerNote(dir.offset, DirectoryTableSize(dir.count))) {
    return false;
  }
  return !relocate || ParentPointerWritable(code);
}

std::vector<RangePair> ExifEditor::CutReplacedValues(uint32_t code, RewritePlan& plan) {
  RangeList& ranges = plan.cuts;
  for (PlannedEntry& p : plan.entries) {
    if (p.oldValue.size == 0) continue;
    if (p.produced && p.oldValue.offset < pinnedEnd_) {
      // A kept value below the pin stays where it is, with its offset: the
      // maker note among them, which other offsets may point into.
      p.item.value.clear();
      continue;
    }
    ranges.CutValue(p.oldValue.offset, p.oldValue.size, Block(), plan.structureStarts);
  }
  ranges.Normalise(blockLength_);
  std::vector<uint32_t> leaving = plan.emptied;
  leaving.push_back(code);
  SpareLiveData(ranges, leaving);
  // Whatever else claims the maker note's bytes, they are never cut.
  if (code != kExifIfd || !plan.dropsMakerNote) ranges.Spare(makerNoteOffset_, makerNoteLength_);
  return ranges.TakeHolesBelow(pinnedEnd_);
}

void ExifEditor::FollowPointersOf(uint32_t code, std::span<const DirectoryItem> items) {
  for (const DirectoryItem& item : items) {
    const uint32_t v = bytes::Read32(item.field, Order());
    if (code == kExifIfd && item.tag == exif::kTagMakerNote && item.OutOfLine() &&
        item.type == kTypeUndefined) {
      makerNoteOffset_ = v;
      makerNoteLength_ = item.count;
      SetPlace(kMakerNoteIfd, 0, 0);
    }
    NoteChildPointer(code, IfdEntry{item.tag, item.type, item.count, v});
  }
}

RewriteResult ExifEditor::CommitRewrite(uint32_t code, RewritePlan& plan) {
  constexpr RewriteResult kRefused{Outcome::kRefused, 0};
  const BlockDirectory& dir = plan.directory;
  // Bytes below the pin keep their offsets (see PinnedEnd): what is cut there
  // is zero-filled, and a directory that lies there is written anew at the
  // end of the block instead of in its old place.
  const bool relocate = dir.offset < pinnedEnd_;
  if (!RewriteAllowed(code, dir, relocate)) return kRefused;
  const std::vector<RangePair> holes = CutReplacedValues(code, plan);
  RangeList& ranges = plan.cuts;

  std::vector<DirectoryItem> items;
  items.reserve(plan.entries.size());
  for (PlannedEntry& p : plan.entries) items.push_back(std::move(p.item));
  uint64_t size = DirectorySize(items);
  // Everything behind a directory rewritten in place moves by what it gained
  // less what was cut; one more zero byte at the end of its value area keeps
  // that distance even, so values that were on even offsets stay there.
  if (!relocate && (size + ranges.CutTotal()) % 2 == 1) ++size;
  const uint64_t kept = uint64_t{blockLength_} - ranges.CutTotal();
  const uint64_t new_length = relocate ? PaddedSize(kept) + size : kept + size;
  const uint64_t capacity = uint64_t{blockLength_} + kHeadroom;
  if (new_length > capacity || capacity > std::numeric_limits<uint32_t>::max()) return kRefused;
  std::vector<uint8_t> out;
  if (!ZeroFilled(out, capacity)) return kRefused;
  const std::span<uint8_t> out_block = std::span<uint8_t>(out).first(static_cast<size_t>(new_length));
  uint32_t at = 0;
  if (relocate) {
    CopyWithCuts(Block(), ranges, 0, 0, out_block.first(static_cast<size_t>(kept)));
    for (const RangePair& hole : holes) {
      std::memset(out.data() + hole.start, 0, static_cast<size_t>(hole.delta));
    }
    at = static_cast<uint32_t>(PaddedSize(kept));
  } else {
    at = CopyWithCuts(Block(), ranges, dir.offset, static_cast<uint32_t>(size), out_block);
    ranges.Insert(dir.offset, static_cast<uint32_t>(size));
  }
  for (size_t i = 0; i < items.size(); ++i) {
    if (plan.entries[i].fromBlock && !items[i].OutOfLine() && IsInlinePointer(code, items[i].tag)) {
      ShiftInlineField(items[i], Order(), ranges);
    }
  }
  const uint32_t link = dir.link.value_or(0) == 0 ? 0 : ranges.Shift(*dir.link);
  WriteDirectory(out_block.subspan(at), at, items, link, Order());

  block_ = std::move(out);
  blockLength_ = static_cast<uint32_t>(new_length);
  for (uint32_t gone : plan.emptied) SetPlace(gone, 0, 0);
  ShiftAll(ranges, code);
  SetPlace(code, at, static_cast<uint16_t>(items.size()));
  // ParentPointerWritable said yes above, and nothing since moved the entry
  // into the maker note.
  if (relocate) (void)PointAt(code, at);
  FollowPointersOf(code, items);
  if (code == kIfd0) PlaceOf(kIfd1)->offset = link;
  return {Outcome::kDone, static_cast<int>(items.size()) - static_cast<int>(dir.count)};
}

bool ExifEditor::MeetsMakerNote(uint64_t start, uint64_t size) const {
  return NoteBytes{makerNoteOffset_, uint64_t{makerNoteOffset_} + makerNoteLength_}.Meets(start, size);
}

void ExifEditor::NoteChildPointer(uint32_t parent, const IfdEntry& entry) {
  const DirectoryPlace* child = ChildOf(parent, entry.tag);
  if (child != nullptr && IsPointerEntry(entry)) PlaceOf(child->code)->offset = entry.value;
}

std::optional<BlockEntry> ExifEditor::PointerEntry(uint32_t code) {
  const DirectoryPlace* link = PlaceOf(code);
  if (link == nullptr || link->pointerTag == 0) return std::nullopt;
  const auto dir = ReadDirectory(link->parent);
  if (!dir) return std::nullopt;
  std::optional<BlockEntry> last;
  for (const BlockEntry& e : dir->entries) {
    if (e.entry.tag == link->pointerTag && IsPointerEntry(e.entry)) last = e;
  }
  return last;
}

bool ExifEditor::ParentPointerWritable(uint32_t code) {
  if (code == kIfd0 || code == kIfd1) return true;  // the header's pointer or IFD0's link, never in a table
  const auto pointer = PointerEntry(code);
  return pointer && !MeetsMakerNote(pointer->position, kEntrySize);
}

Outcome ExifEditor::PointAt(uint32_t code, uint32_t offset) {
  if (code == kIfd0) {
    if (blockLength_ < 8) return Outcome::kRefused;
    bytes::Write32(Block().data() + 4, offset, Order());
    return Outcome::kDone;
  }
  if (code == kIfd1) {
    const auto link = NextLinkPosition(kIfd0);
    if (!link) return Outcome::kAbsent;
    bytes::Write32(Block().data() + *link, offset, Order());
    return Outcome::kDone;
  }
  const auto pointer = PointerEntry(code);
  if (!pointer) return Outcome::kAbsent;
  if (MeetsMakerNote(pointer->position, kEntrySize)) return Outcome::kRefused;
  bytes::Write32(Block().data() + pointer->position + 8, offset, Order());
  return Outcome::kDone;
}

RewriteResult ExifEditor::RewriteIfd(uint32_t code, std::span<const uint16_t> deletions,
                                     std::span<const EntryEdit> additions,
                                     exif::ExifReader* value_source) {
  if (!ReadDirectory(code)) return {Outcome::kAbsent, 0};
  auto plan = PlanRewrite(code, deletions, additions, value_source);
  const RewriteResult result = plan ? CommitRewrite(code, *plan) : RewriteResult{};
  PlaceDataBehindBlock();
  return result;
}

}  // namespace veltora::edit
