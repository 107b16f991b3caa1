#include "edit/gps_replace.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "bytes/byte_view.h"
#include "edit/block_entries.h"
#include "edit/rebuilt_output.h"
#include "exif/directory.h"
#include "frame/export_guard.h"
#include "frame/safe_replace.h"
#include "frame/veltora.h"

namespace veltora::edit {
namespace {

using exif::IfdEntry;
using exif::kTypeAscii;
using exif::kTypeByte;
using exif::kTypeLong;
using exif::kTypeRational;
using exif::kTypeUndefined;

// The tags of GPS version 2.2 that an older directory must not carry.
constexpr uint16_t kVersion22Tags[] = {27, 28, 29};

uint32_t PackBytes(std::span<const uint8_t> bytes) {
  uint32_t v = 0;
  for (size_t i = 0; i < bytes.size() && i < 4; ++i) v |= uint32_t{bytes[i]} << (8 * i);
  return v;
}

// Big-endian reading of 4 inline bytes held in IfdEntry form.
uint32_t BigEndianOf(uint32_t packed) { return bytes::Swap32(packed); }

// An entry of `type` whose stored bytes are `bytes`: inline up to 4 bytes.
EntryEdit MakeEntry(uint16_t tag, uint16_t type, uint32_t count, std::vector<uint8_t> bytes) {
  EntryEdit e;
  e.entry = IfdEntry{tag, type, count, 0};
  if (bytes.size() <= 4) {
    e.entry.value = PackBytes(bytes);
  } else {
    e.bytes = std::move(bytes);
  }
  return e;
}

std::vector<uint8_t> RationalBytes(std::span<const HostRational> values, bytes::ByteOrder order) {
  std::vector<uint8_t> out(values.size() * 8);
  for (size_t i = 0; i < values.size(); ++i) {
    bytes::Write32(out.data() + 8 * i, values[i].numerator, order);
    bytes::Write32(out.data() + 8 * i + 4, values[i].denominator, order);
  }
  return out;
}

std::vector<uint8_t> TextBytes(const CString& text) {
  const char* chars = CStringGet(&text);
  const size_t n = chars == nullptr ? 0 : std::strlen(chars);
  std::vector<uint8_t> out(chars, chars + n);
  out.push_back(0);
  return out;
}

uint32_t VersionOf(const std::vector<EntryEdit>& entries) {
  for (const EntryEdit& e : entries) {
    if (e.entry.tag == exif::kTagGpsVersionId && e.entry.type == kTypeByte && e.entry.count == 4) {
      return BigEndianOf(e.entry.value);
    }
  }
  return 0;
}

void Put(std::vector<EntryEdit>* entries, EntryEdit e) {
  auto same = FindSameEntry(*entries, e.entry.tag, e.entry.type, [](const EntryEdit& x) {
    return std::pair{x.entry.tag, x.entry.type};
  });
  if (same != entries->end()) {
    *same = std::move(e);
  } else {
    entries->push_back(std::move(e));
  }
}

EntryEdit VersionEntry(uint32_t big_endian) {
  return MakeEntry(exif::kTagGpsVersionId, kTypeByte, 4,
                   {static_cast<uint8_t>(big_endian >> 24), static_cast<uint8_t>(big_endian >> 16),
                    static_cast<uint8_t>(big_endian >> 8), static_cast<uint8_t>(big_endian)});
}

std::optional<EntryEdit> EntryFromSet(uint16_t tag, const GpsTagSet& set, bytes::ByteOrder order) {
  switch (tag) {
    case 1:
      return MakeEntry(1, kTypeAscii, 2, {uint8_t(set.GPSLatitudeRef[0]), uint8_t(set.GPSLatitudeRef[1])});
    case 2:
      return MakeEntry(2, kTypeRational, 3, RationalBytes(set.GPSLatitude, order));
    case 3:
      return MakeEntry(3, kTypeAscii, 2,
                       {uint8_t(set.GPSLongitudeRef[0]), uint8_t(set.GPSLongitudeRef[1])});
    case 4:
      return MakeEntry(4, kTypeRational, 3, RationalBytes(set.GPSLongitude, order));
    case 5:
      return MakeEntry(5, kTypeByte, 1, {set.GPSAltitudeRef});
    case 6:
      return MakeEntry(6, kTypeRational, 1,
                       RationalBytes(std::span<const HostRational>(&set.GPSAltitude, 1), order));
    case 7:
      return MakeEntry(7, kTypeRational, 3, RationalBytes(set.GPSTimeStamp, order));
    case 18:
    case 29: {
      auto text = TextBytes(tag == 18 ? set.GPSMapDatum : set.GPSDateStamp);
      const auto count = static_cast<uint32_t>(text.size());
      return MakeEntry(tag, kTypeAscii, count, std::move(text));
    }
    case 27:
    case 28: {
      const auto bytes = ArrayView(tag == 27 ? &set.GPSProcessingMethod : &set.GPSAreaInformation);
      // An empty array names no value; an UNDEFINED entry of count 0 is not written.
      if (bytes.empty()) return std::nullopt;
      return MakeEntry(tag, kTypeUndefined, static_cast<uint32_t>(bytes.size()),
                       std::vector<uint8_t>(bytes.begin(), bytes.end()));
    }
    default:
      return std::nullopt;  // 0 is made separately; 8-17, 19-26 and above 29 are ignored
  }
}

// A directory item from an entry made here or kept from the block; a value
// over 4 bytes without its bytes is written with count and offset 0.
DirectoryItem ItemFor(const EntryEdit& e, bytes::ByteOrder order) {
  DirectoryItem item{e.entry.tag, e.entry.type, e.entry.count, {}, {}};
  const uint64_t size = uint64_t{StoredUnitSize(e.entry.type)} * e.entry.count;
  if (size > 4) {
    if (e.bytes.size() == size) {
      item.value = e.bytes;
    } else {
      item.count = 0;
    }
    return item;
  }
  uint8_t raw[12];
  exif::EncodeEntry(raw, order, e.entry);
  std::memcpy(item.field, raw + 8, 4);
  return item;
}

std::vector<EntryEdit> CurrentGpsEntries(ExifEditor& editor) {
  std::vector<EntryEdit> edits;
  for (const IfdEntry& e : editor.BlockEntries(exif::kGpsIfd)) edits.push_back({e, {}});
  return edits;
}

struct ThumbnailRun {
  uint32_t offset = 0;
  uint32_t length = 0;
  bool strips = false;
};

// Where the source's thumbnail lies inside its block: IFD1's JPEG interchange
// pair, or one contiguous run of its strips.
std::optional<ThumbnailRun> FindThumbnail(std::span<const uint8_t> block, bytes::ByteOrder order,
                                          const BlockDirectory& dir) {
  ThumbnailRun run;
  std::optional<uint32_t> jpeg_at, jpeg_length;
  const BlockEntry* strip_offsets = nullptr;
  const BlockEntry* strip_counts = nullptr;
  for (const BlockEntry& e : dir.entries) {
    if (e.OutOfLine()) {
      if (e.entry.tag == exif::kTagStripOffsets) strip_offsets = &e;
      if (e.entry.tag == exif::kTagStripByteCounts) strip_counts = &e;
      continue;
    }
    if (e.entry.tag == exif::kTagJpegInterchangeFormat) jpeg_at = e.entry.value;
    if (e.entry.tag == exif::kTagJpegInterchangeFormatLength) jpeg_length = e.entry.value;
    if (e.entry.tag == exif::kTagStripOffsets && e.entry.count == 1) strip_offsets = &e;
    if (e.entry.tag == exif::kTagStripByteCounts && e.entry.count == 1) strip_counts = &e;
  }
  const bytes::ByteView view(block, order);
  if (jpeg_at && jpeg_length) {
    run = {*jpeg_at, *jpeg_length, false};
  } else if (strip_offsets != nullptr && strip_counts != nullptr &&
             strip_offsets->entry.count == strip_counts->entry.count) {
    // Strips are taken as one run from the first to the end of the last.
    const auto element = [&](const BlockEntry& e, uint32_t i) -> std::optional<uint32_t> {
      const uint32_t unit = exif::TypeSize(e.entry.type);
      if (unit != 2 && unit != 4) return std::nullopt;
      if (!e.OutOfLine()) return e.entry.count == 1 ? std::optional(e.entry.value) : std::nullopt;
      if (unit == 4) return view.U32(uint64_t{e.entry.value} + 4ull * i);
      const auto v = view.U16(uint64_t{e.entry.value} + 2ull * i);
      return v ? std::optional<uint32_t>(*v) : std::nullopt;
    };
    const uint32_t last = strip_offsets->entry.count - 1;
    const auto first = element(*strip_offsets, 0);
    const auto last_at = element(*strip_offsets, last);
    const auto last_count = element(*strip_counts, last);
    if (!first || !last_at || !last_count) return std::nullopt;
    const uint64_t end = uint64_t{*last_at} + *last_count;
    if (end <= *first) return std::nullopt;
    run = {*first, static_cast<uint32_t>(std::min<uint64_t>(end - *first, UINT32_MAX)), true};
  } else {
    return std::nullopt;
  }
  // A JPEG thumbnail whose declared length runs past the block is carried
  // as far as it goes; its entries keep the declared length, so that it
  // reads as it did before.
  if (!run.strips && run.offset < block.size()) {
    run.length = static_cast<uint32_t>(std::min<uint64_t>(run.length, block.size() - run.offset));
  }
  if (run.length == 0 || !view.Contains(run.offset, run.length)) return std::nullopt;
  return run;
}

}  // namespace

std::optional<uint32_t> WorkBlockExifVersion(ExifEditor& editor) {
  const auto entry = editor.FindBlockEntry(exif::kExifIfd, exif::kTagExifVersion);
  if (!entry || entry->count != 4 || exif::TypeSize(entry->type) != 1) return std::nullopt;
  return BigEndianOf(entry->value);
}

void SetGpsVersionFromExif(GpsTagSet* set, uint32_t exif_version) {
  uint32_t version = 0;
  if (exif_version == 0x30323130) {  // "0210"
    version = kGpsVersion20;
  } else if (exif_version == 0x30323230 || exif_version == 0x30323231) {  // "0220", "0221"
    version = kGpsVersion22;
  } else {
    return;
  }
  set->GPSVersionID[0] = static_cast<uint8_t>(version >> 24);
  set->GPSVersionID[1] = static_cast<uint8_t>(version >> 16);
  set->GPSVersionID[2] = static_cast<uint8_t>(version >> 8);
  set->GPSVersionID[3] = static_cast<uint8_t>(version);
}

void BuildGpsEntries(std::vector<EntryEdit>* entries, const GpsTagSet& set,
                     bytes::ByteOrder order) {
  const uint32_t current = std::max(VersionOf(*entries), kGpsVersion20);
  const uint32_t from_set = uint32_t{set.GPSVersionID[0]} << 24 |
                            uint32_t{set.GPSVersionID[1]} << 16 |
                            uint32_t{set.GPSVersionID[2]} << 8 | set.GPSVersionID[3];
  Put(entries, VersionEntry(std::max(current, from_set)));
  for (uint16_t tag : ArrayView(&set.tags)) {
    if (auto e = EntryFromSet(tag, set, order)) Put(entries, std::move(*e));
  }
  if (VersionOf(*entries) < kGpsVersion22) {
    std::erase_if(*entries, [](const EntryEdit& e) {
      return std::find(std::begin(kVersion22Tags), std::end(kVersion22Tags), e.entry.tag) !=
             std::end(kVersion22Tags);
    });
  }
}

Outcome AppendGpsIfd(ExifEditor& editor, GpsTagSet* set) {
  if (!editor.FindBlockEntry(exif::kIfd0, exif::kTagGpsIfdPointer)) return Outcome::kAbsent;
  const auto exif_version = WorkBlockExifVersion(editor);
  // Below "0210" the set may not be used, which would leave an empty GPS
  // directory: such files are refused instead.
  if (!exif_version || *exif_version < kExifVersion0210) return Outcome::kRefused;
  SetGpsVersionFromExif(set, *exif_version);
  std::vector<EntryEdit> entries = CurrentGpsEntries(editor);
  BuildGpsEntries(&entries, *set, editor.Order());
  std::vector<DirectoryItem> items;
  for (const EntryEdit& e : entries) items.push_back(ItemFor(e, editor.Order()));
  return editor.AppendDirectory(exif::kGpsIfd, items);
}

namespace {

// IFD1 appended at the end of the work block from the source's directory,
// its out-of-line values and its thumbnail.
Outcome AppendSourceIfd1(ExifEditor& editor, std::span<const uint8_t> source,
                     const BlockDirectory& dir, const ThumbnailRun& thumbnail) {
  const bytes::ByteOrder order = editor.Order();
  std::vector<DirectoryItem> items;
  for (const BlockEntry& e : dir.entries) {
    if (e.entry.tag == exif::kTagExifIfdPointer || e.entry.tag == exif::kTagGpsIfdPointer ||
        e.entry.tag == exif::kTagInteropIfdPointer) {
      continue;
    }
    items.push_back(ItemFromBlock(source, e, order, order));
  }
  const uint64_t position = uint64_t{editor.AppendPosition()} + DirectorySize(items);
  if (position + thumbnail.length > editor.BlockCapacity()) return Outcome::kRefused;
  const int64_t delta = static_cast<int64_t>(position) - thumbnail.offset;
  for (DirectoryItem& item : items) {
    if (!thumbnail.strips && item.tag == exif::kTagJpegInterchangeFormat) {
      uint8_t raw[12];
      exif::EncodeEntry(raw, order, IfdEntry{item.tag, item.type, item.count,
                                             static_cast<uint32_t>(position)});
      std::memcpy(item.field, raw + 8, 4);
    } else if (thumbnail.strips && item.tag == exif::kTagStripOffsets) {
      const uint32_t unit = exif::TypeSize(item.type);
      uint8_t* at = item.OutOfLine() ? item.value.data() : item.field;
      const size_t n = item.OutOfLine() ? item.value.size() / std::max<uint32_t>(unit, 1) : 1;
      for (size_t k = 0; k < n && (unit == 2 || unit == 4); ++k) {
        if (unit == 2) {
          const int64_t v = bytes::Read16(at + 2 * k, order) + delta;
          bytes::Write16(at + 2 * k, static_cast<uint16_t>(std::clamp<int64_t>(v, 0, 0xFFFF)), order);
        } else {
          const int64_t v = bytes::Read32(at + 4 * k, order) + delta;
          bytes::Write32(at + 4 * k, static_cast<uint32_t>(std::clamp<int64_t>(v, 0, UINT32_MAX)),
                        order);
        }
      }
    }
  }
  const auto run = source.subspan(thumbnail.offset, thumbnail.length);
  return editor.AppendDirectory(exif::kIfd1, items, run);
}

}  // namespace

Outcome ReplaceGps(ExifEditor& editor, GpsTagSet* set) {
  const bool has_pointer = editor.FindBlockEntry(exif::kIfd0, exif::kTagGpsIfdPointer).has_value();
  const bool has_tags = !ArrayView(&set->tags).empty();
  const uint16_t gps_pointer = exif::kTagGpsIfdPointer;
  const auto drop_pointer = [&] {
    return editor.RewriteIfd(exif::kIfd0, std::span<const uint16_t>(&gps_pointer, 1), {}).outcome;
  };
  const auto append_directory = [&] {
    const Outcome created = AppendGpsIfd(editor, set);
    editor.PlaceDataBehindBlock();
    return created;
  };
  if (has_pointer && !editor.HasDirectory(exif::kGpsIfd)) {
    // The pointer leads to no directory that lies inside the block (its table
    // runs past the end, say): there is nothing to merge or empty. A new
    // directory goes where readers find it; a removal takes the pointer.
    return has_tags ? append_directory() : drop_pointer();
  }
  if (has_pointer && has_tags) {
    const auto exif_version = WorkBlockExifVersion(editor);
    if (!exif_version || *exif_version < kExifVersion0210) return Outcome::kRefused;
    SetGpsVersionFromExif(set, *exif_version);
    std::vector<EntryEdit> entries = CurrentGpsEntries(editor);
    BuildGpsEntries(&entries, *set, editor.Order());
    return editor.RewriteIfd(exif::kGpsIfd, {}, entries).outcome;
  }
  if (has_pointer) {
    std::vector<uint16_t> tags;
    for (const IfdEntry& e : editor.BlockEntries(exif::kGpsIfd)) tags.push_back(e.tag);
    if (!tags.empty()) {
      if (const Outcome emptied = editor.RewriteIfd(exif::kGpsIfd, tags, {}).outcome; !Done(emptied)) {
        return emptied;
      }
    }
    return drop_pointer();
  }
  if (!has_tags) return Outcome::kAbsent;
  const EntryEdit add{IfdEntry{exif::kTagGpsIfdPointer, kTypeLong, 1, 0}, {}};
  if (const Outcome pointed = editor.RewriteIfd(exif::kIfd0, {}, std::span<const EntryEdit>(&add, 1)).outcome;
      !Done(pointed)) {
    return pointed;
  }
  return append_directory();
}

Outcome ReattachSourceThumbnail(ExifEditor& editor) {
  if (!editor.HasWorkBlock() || editor.DirectoryOffset(exif::kIfd1) != 0) return Outcome::kRefused;
  editor.DropThumbnail();
  Outcome attached = Outcome::kAbsent;
  const exif::ScopedExifData loaded = editor.LoadSource();
  const std::span<const uint8_t> source = loaded.Bytes();
  if (source.empty()) return Outcome::kAbsent;
  const uint32_t ifd1_offset = editor.Source().ThumbnailImage().ifdOffset;
  if (const auto dir = ReadBlockDirectory(source, editor.Order(), ifd1_offset)) {
    if (editor.RestoreDetachedIfd1(source, ifd1_offset)) {
      attached = Outcome::kDone;
    } else if (const auto thumbnail = FindThumbnail(source, editor.Order(), *dir)) {
      attached = AppendSourceIfd1(editor, source, *dir, *thumbnail);
    }
  }
  // The Interoperability directory describes the main image, not the
  // thumbnail: it stays whether or not IFD1 could be put back.
  editor.PlaceDataBehindBlock();
  return attached;
}

namespace {

HRESULT ReplaceExifGpsBody(const char* output_path, const char* input_path, int32_t quality,
                           GpsTagSet* gps) {
  if (output_path == nullptr || input_path == nullptr || gps == nullptr || *output_path == '\0' ||
      *input_path == '\0') {
    return E_INVALIDARG;
  }
  if (HRESULT probe = ProbeTargetDirectory(output_path); probe != S_OK) return probe;
  // The block is loaded by the scan itself: StartEdit and the thumbnail's
  // reattachment both read it, and one read of the file serves all three.
  exif::ExifReader source(input_path, 1, 0);
  if (!source.IsExif()) return E_NOTEXIF;
  if (source.IsExifJpeg() && (quality < 1 || quality > 100)) return E_INVALIDARG;
  ExifEditor editor(source);
  if (!Done(editor.StartEdit(false)) || !Done(ReplaceGps(editor, gps))) return E_FAIL;
  // Without its old thumbnail the file is still whole; the edit goes on.
  (void)ReattachSourceThumbnail(editor);
  if (!editor.HasWorkBlock()) return E_FAIL;
  StampDateTime(editor);
  return WriteEditedFile(editor, output_path);
}

}  // namespace
}  // namespace veltora::edit

VELTORA_API HRESULT ReplaceExifGps(const char* output_path, const char* input_path,
                                   int32_t quality, GpsTagSet* gps) {
  return veltora::GuardExport([&] {
    return veltora::edit::ReplaceExifGpsBody(output_path, input_path, quality, gps);
  });
}
