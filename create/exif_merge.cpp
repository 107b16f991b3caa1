#include "create/exif_merge.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "create/exif_block_builder.h"
#include "create/record_values.h"
#include "edit/block_entries.h"
#include "edit/directory_writer.h"
#include "edit/exif_editor.h"
#include "exif/directory.h"
#include "exif/tiff_value.h"
#include "platform/local_time.h"

namespace veltora::create {
namespace {

using edit::ExifEditor;

constexpr size_t kDateStampSize = 20;

// The attributes the merge takes, by the record type that holds them: small
// numbers and blobs. Texts, rationals and arrays are not merged.
constexpr uint16_t kTiffMergeTags[] = {256, 257, 259, 262, 274, 277, 278, 284, 296, 513, 514, 531, 50341};
constexpr uint16_t kExifMergeTags[] = {34850, 34856, 37383, 37384, 37385, 37500, 37510, 40961, 40962,
                                       40963, 41484, 41488, 41495, 41730, 41985, 41986, 41987, 41989,
                                       41990, 41991, 41992, 41993, 41994, 41995, 41996};
constexpr uint16_t kGpsMergeTags[] = {40};

std::span<const uint16_t> MergeTags(uint32_t kind) {
  switch (kind) {
    case kMergeIfd0:
    case kMergeIfd1: return kTiffMergeTags;
    case kMergeExif: return kExifMergeTags;
    case kMergeGps: return kGpsMergeTags;
    default: return {};
  }
}

// The local time as "YYYY:MM:DD HH:MM:SS" and its NUL.
std::array<char, kDateStampSize> LocalTimeText() {
  const SYSTEMTIME now = platform::GetLocalTime();
  std::array<char, kDateStampSize> text{};
  std::snprintf(text.data(), text.size(), "%04d:%02d:%02d %02d:%02d:%02d", now.wYear % 10000,
                now.wMonth % 100, now.wDay % 100, now.wHour % 100, now.wMinute % 100,
                now.wSecond % 100);
  return text;
}

uint32_t EditorCode(uint32_t kind) {
  switch (kind) {
    case kMergeIfd0: return exif::kIfd0;
    case kMergeExif: return exif::kExifIfd;
    case kMergeGps: return exif::kGpsIfd;
    case kMergeInterop: return exif::kInteropIfd;
    default: return exif::kIfd1;
  }
}

// The source's entry in IfdEntry form, made from the stored field bytes, so
// that the editor stores exactly those bytes again.
exif::IfdEntry InlineEntry(const RecordEntry& r, bytes::ByteOrder order) {
  uint8_t raw[12] = {};
  bytes::Write16(raw, r.tag, order);
  bytes::Write16(raw + 2, r.type, order);
  bytes::Write32(raw + 4, r.count, order);
  std::copy(r.bytes.begin(), r.bytes.end(), raw + 8);
  exif::IfdEntry entry;
  exif::DecodeEntry(raw, order, &entry);
  entry.tag = r.tag;
  entry.type = r.type;
  entry.count = r.count;
  return entry;
}

// One directory's step of the merge. False when the directory cannot be
// read inside the segment or an insertion is refused. `thumbnail_was`: the
// source's JPEGInterchangeFormat.
bool MergeIfd(ExifEditor& editor, const ImageInfoList* list, uint32_t kind, uint32_t thumbnail_was) {
  const uint32_t code = EditorCode(kind);
  if (!editor.HasDirectory(code)) return false;
  const std::vector<exif::IfdEntry> source = editor.BlockEntries(code);
  if (kind == kMergeInterop) return true;  // no record feeds it
  uint16_t highest = 0;
  for (const exif::IfdEntry& e : source) highest = std::max(highest, e.tag);

  std::vector<edit::EntryEdit> insertions;
  for (const RecordEntry& r : RecordEntries(list, kind, editor.Order())) {
    if (r.bytes.size() > 4) continue;  // larger values are never written
    const auto same = std::find_if(source.begin(), source.end(),
                                   [&r](const exif::IfdEntry& e) { return e.tag == r.tag; });
    if (same == source.end()) {
      if (r.tag < highest) insertions.push_back({InlineEntry(r, editor.Order()), {}});
      continue;
    }
    if (exif::EntryValueSize(&*same) != r.bytes.size()) continue;
    // The record's own type and count go with its bytes: the value then reads
    // back as the record holds it (a LONG written under a source entry's
    // SHORT[2] would read as two other numbers). The size is the same, so
    // nothing moves.
    exif::IfdEntry replacement = InlineEntry(r, editor.Order());
    // A record's JPEGInterchangeFormat names the thumbnail where the source
    // segment holds it: it moves by what was inserted before the thumbnail,
    // as the entry it replaces has moved.
    if (code == exif::kIfd1 && r.tag == exif::kTagJpegInterchangeFormat &&
        same->type == exif::kTypeLong && r.type == exif::kTypeLong) {
      replacement.value += same->value - thumbnail_was;
    }
    if (!Done(editor.SetEntryInPlace(code, replacement))) return false;
  }
  return insertions.empty() || editor.RewriteIfd(code, {}, insertions).Done();
}

// True when [start, start + n), a DateTime value, meets the TIFF header, a
// directory table or any out-of-line value but a DateTime at `start` (a
// maker note stored at the same offset too). Damaged blocks let a DateTime
// point into such bytes; stamping there would break them.
bool OverlapsOtherData(ExifEditor& editor, uint64_t start, uint64_t n) {
  const auto meets = [&](uint64_t at, uint64_t size) { return at < start + n && start < at + size; };
  if (meets(0, 8)) return true;
  for (uint32_t code : {exif::kIfd0, exif::kExifIfd, exif::kGpsIfd, exif::kInteropIfd, exif::kIfd1}) {
    if (!editor.HasDirectory(code)) continue;
    const auto dir = edit::ReadBlockDirectory(editor.Block(), editor.Order(), editor.DirectoryOffset(code));
    if (!dir) continue;
    if (meets(dir->offset, edit::DirectoryTableSize(dir->count))) return true;
    for (const edit::BlockEntry& e : dir->entries) {
      // A DateTime stored at the same offset takes the same stamp.
      const bool itself = e.entry.tag == exif::kTagDateTime && e.entry.value == start;
      if (e.OutOfLine() && !itself && meets(e.entry.value, e.size)) return true;
    }
  }
  return false;
}

// Writes the local time over the directory's DateTime when it is stored out
// of line inside the block: as many bytes as it holds, at most 20. A value
// sharing bytes with other data is left alone.
void StampDateTime(ExifEditor& editor, uint32_t code, const std::array<char, kDateStampSize>& now) {
  const auto found = editor.FindBlockEntry(code, exif::kTagDateTime);
  if (!found) return;
  const exif::IfdEntry& entry = *found;
  const uint64_t size = exif::EntryValueSize(&entry);
  const uint64_t n = std::min<uint64_t>(size, now.size());
  const std::span<uint8_t> block = editor.Block();
  if (size <= 4 || entry.value > block.size() || n > block.size() - entry.value ||
      OverlapsOtherData(editor, entry.value, n)) {
    return;
  }
  std::memcpy(block.data() + entry.value, now.data(), static_cast<size_t>(n));  // at most 20
}

}  // namespace

std::vector<RecordEntry> RecordEntries(const ImageInfoList* list, uint32_t kind, bytes::ByteOrder order) {
  const void* record = ImageInfoListFind(list, kind);
  const std::span<const uint16_t> tags = MergeTags(kind);
  if (record == nullptr || tags.empty()) return {};
  std::vector<RecordEntry> entries;
  for (const RecordField& field : FindRecordSchema(kind)->fields) {
    const auto tag = static_cast<uint16_t>(field.tag);
    if (std::find(tags.begin(), tags.end(), tag) == tags.end() || !FieldPresent(field, record)) continue;
    // A value whose bytes are missing is left out: there is nothing to merge.
    if (auto value = EncodeField(record, field, order)) {
      entries.push_back({std::move(*value), tag});
    }
  }
  return entries;
}

std::optional<MergedSegment> BuildMergedApp1(std::span<const uint8_t> app1,
                                             const ImageInfoList* list) {
  if (app1.size() < kSegmentHeadSize + 8) return std::nullopt;
  MergedSegment merged;
  merged.old_length = bytes::Read16(&app1[2], bytes::kBigEndian);
  if (std::memcmp(&app1[4], "Exif", 4) != 0) return std::nullopt;
  const bytes::ByteOrder order = app1[10] == 'I' && app1[11] == 'I' ? bytes::kLittleEndian : bytes::kBigEndian;
  if (bytes::Read16(&app1[12], order) == 0x2A00 || bytes::Read32(&app1[14], order) < 8) {
    return std::nullopt;
  }
  const size_t segment_size = size_t{2} + merged.old_length;
  if (merged.old_length < kSegmentHeadSize + 6 || segment_size > app1.size()) return std::nullopt;

  // The editor reads the segment as the one APP1 of a file of its own.
  std::vector<uint8_t> file = {0xFF, 0xD8};
  file.insert(file.end(), app1.begin(), app1.begin() + static_cast<std::ptrdiff_t>(segment_size));
  file.insert(file.end(), {0xFF, 0xD9});
  exif::ExifReader source(file, 1, 0);
  ExifEditor editor(source);
  if (source.TiffHeaderOffset() != kSegmentHeadSize + 2 || source.Order() != order ||
      !Done(editor.CopyBlock()) || editor.Block().size() != merged.old_length - 8u) {
    return std::nullopt;
  }

  // Visits in the order IFD0, EXIF, GPS or else Interoperability, IFD1.
  std::vector<uint32_t> visits = {kMergeIfd0};
  if (editor.DirectoryOffset(exif::kExifIfd) != 0) visits.push_back(kMergeExif);
  if (editor.DirectoryOffset(exif::kGpsIfd) != 0) {
    visits.push_back(kMergeGps);
  } else if (editor.DirectoryOffset(exif::kInteropIfd) != 0) {
    visits.push_back(kMergeInterop);
  }
  if (editor.DirectoryOffset(exif::kIfd1) != 0) visits.push_back(kMergeIfd1);
  // A directory whose entries reach past the old segment fails the merge:
  // asked only later, its table could lie in bytes the block grew by.
  for (uint32_t kind : visits) {
    if (!editor.HasDirectory(EditorCode(kind))) return std::nullopt;
  }
  const auto thumbnail = editor.FindBlockEntry(exif::kIfd1, exif::kTagJpegInterchangeFormat);
  const uint32_t thumbnail_was = thumbnail ? thumbnail->value : 0;
  for (uint32_t kind : visits) {
    if (!MergeIfd(editor, list, kind, thumbnail_was)) return std::nullopt;
  }
  const auto now = LocalTimeText();
  for (uint32_t kind : visits) StampDateTime(editor, EditorCode(kind), now);

  const uint64_t length = uint64_t{editor.Block().size()} + 8;
  if (length + 2 > kSegmentBufferSize || length > 0xFFFF) return std::nullopt;
  merged.bytes.assign(app1.begin(), app1.begin() + kSegmentHeadSize);
  bytes::Write16(&merged.bytes[2], static_cast<uint16_t>(length), bytes::kBigEndian);
  const std::span<const uint8_t> block = editor.Block();
  merged.bytes.insert(merged.bytes.end(), block.begin(), block.end());
  merged.growth = static_cast<int32_t>(length) - merged.old_length;
  return merged;
}

}  // namespace veltora::create
