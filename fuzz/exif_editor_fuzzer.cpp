// Fuzzes the EXIF block editor over a file held in memory: the work block
// (with or without IFD1), a directory rewrite that deletes and adds entries,
// an in-place removal, and the JPEG layout. The rebuilt file must read back:
// the reader finds exactly the APP1 payload the editor wrote, and every value
// of a directory the edits did not touch is read back unchanged. Any crash,
// sanitizer report, hang or broken invariant is a bug. The last input byte
// chooses the options.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <map>
#include <span>
#include <utility>
#include <vector>

#include "edit/block_entries.h"
#include "edit/exif_editor.h"
#include "edit/rebuilt_output.h"

namespace {

using veltora::edit::EntryEdit;
using veltora::edit::ExifEditor;
using veltora::exif::IfdEntry;

constexpr uint32_t kCodes[] = {1, 2, 3, 4, 17, 257};

void Check(bool condition) {
  if (!condition) std::abort();
}

// Values larger than this are compared by their first bytes only.
constexpr uint32_t kValueBytesCompared = 256;
// Lookups per directory: each reads its entry table again.
constexpr size_t kEntriesCompared = 32;

// Tags whose values may change without being edited: the pointers to other
// directories and to image data (they move with the block), the maker note
// (checked byte for byte above) and DateTime (stamped).
bool MayChange(uint16_t tag) {
  constexpr uint16_t kTags[] = {273, 306, 513, 34665, 34853, 37500, 40965};
  return std::find(std::begin(kTags), std::end(kTags), tag) != std::end(kTags);
}

// (directory, tag) -> the first entry's type, count and value bytes as read
// from `reader`, for the directories in `codes`.
using Values = std::map<std::pair<uint32_t, uint16_t>, std::vector<uint8_t>>;
Values ReadValues(veltora::exif::ExifReader& reader, std::span<const uint32_t> codes) {
  Values values;
  for (uint32_t code : codes) {
    std::vector<IfdEntry> entries;
    if (!veltora::exif::Done(reader.CollectEntries(code, &entries))) continue;
    if (entries.size() > kEntriesCompared) entries.resize(kEntriesCompared);
    for (const IfdEntry& e : entries) {
      if (MayChange(e.tag) || values.count({code, e.tag})) continue;
      IfdEntry first;
      first.tag = e.tag;
      if (!veltora::exif::Done(reader.FindEntry(code, &first))) continue;
      std::vector<uint8_t> bytes(kValueBytesCompared + 6);
      const uint32_t items = reader.GetEntryValue(&first, bytes.data() + 6, kValueBytesCompared);
      std::memcpy(bytes.data(), &first.type, 2);
      std::memcpy(bytes.data() + 2, &items, 4);
      // Text is what comes before its NUL: cameras give a text a count that
      // runs into the next value (even into DateTime, which is stamped).
      if (first.type == 2) {
        const auto* text = reinterpret_cast<const char*>(bytes.data() + 6);
        bytes.resize(6 + strnlen(text, kValueBytesCompared));
      }
      values[{code, e.tag}] = std::move(bytes);
    }
  }
  return values;
}

// True when two directory tables or values of the work block share bytes
// (the maker note's own directory and values lie inside its value, by
// design, and are not counted). An edit of one then changes the other, and
// no property of untouched values can hold.
bool SharesBytes(ExifEditor& editor) {
  // The TIFF header is used too: a rewrite of IFD0 may repoint it.
  std::vector<std::pair<uint64_t, uint64_t>> ranges = {{0, 8}};
  const std::pair<uint32_t, uint16_t> tables[] = {
      {editor.DirectoryOffset(veltora::exif::kIfd0), editor.EntryCount(veltora::exif::kIfd0)},
      {editor.DirectoryOffset(veltora::exif::kExifIfd), editor.EntryCount(veltora::exif::kExifIfd)},
      {editor.DirectoryOffset(veltora::exif::kGpsIfd), editor.EntryCount(veltora::exif::kGpsIfd)},
      {editor.DirectoryOffset(veltora::exif::kInteropIfd), editor.EntryCount(veltora::exif::kInteropIfd)},
      {editor.DirectoryOffset(veltora::exif::kIfd1), editor.EntryCount(veltora::exif::kIfd1)}};
  for (const auto& [offset, count] : tables) {
    // A directory said to start inside the TIFF header overlaps it and IFD0.
    if (offset != 0 && offset < 8) return true;
    if (offset != 0 && offset + 6 + 12ull * count > editor.Block().size()) return true;
    if (offset != 0) ranges.push_back({offset, offset + 6 + 12ull * count});
  }
  for (uint32_t code : {1u, 2u, 3u, 4u, 257u}) {
    for (const IfdEntry& e : editor.BlockEntries(code)) {
      const uint64_t size = uint64_t{veltora::edit::StoredUnitSize(e.type)} * e.count;
      // The reader takes a value of a type it does not convert as held in
      // the entry, the editor as lying where the entry points: the two read
      // different bytes.
      if (size > 4 && veltora::exif::TypeSize(e.type) == 0) return true;
      // A value outside the block is read from the file around it, which a
      // rebuild lays out anew.
      if (size > 4 && uint64_t{e.value} + size > editor.Block().size()) return true;
      if (size > 4) ranges.push_back({e.value, e.value + size});
    }
  }
  std::sort(ranges.begin(), ranges.end());
  for (size_t i = 1; i < ranges.size(); ++i) {
    if (ranges[i].first < ranges[i - 1].second) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The last byte chooses the options, so that real files replay as they are
  // (a JPEG ends with EOI, whatever follows its last marker).
  const uint8_t options = data[size - 1];
  const std::span<const uint8_t> file(data, size);
  veltora::exif::ExifReader editor_source(file, options & 1, 0);
  ExifEditor editor(editor_source);
  const veltora::exif::Outcome made =
      (options & 2) != 0 ? editor.CopyBlock() : editor.StartEdit((options & 4) != 0);
  if (!veltora::exif::Done(made) || !editor.HasWorkBlock()) return 0;
  Check(editor.Block().size() <= editor.BlockCapacity());

  // A maker note never moves and never changes through rewrites of the
  // directories around it.
  const auto first_note = editor.FindBlockEntry(2, 37500);
  const bool note_first = first_note && first_note->value == editor.MakerNote().offset &&
                          uint64_t{editor.MakerNote().offset} + editor.MakerNote().length <=
                              editor.Block().size();
  const uint32_t note_at = note_first ? editor.MakerNote().offset : 0;
  const std::vector<uint8_t> note =
      note_at == 0 ? std::vector<uint8_t>{}
                   : std::vector<uint8_t>(editor.Block().begin() + note_at,
                                          editor.Block().begin() + note_at + editor.MakerNote().length);

  const uint32_t code = kCodes[(options >> 3) % 6];
  const uint32_t removal_code = kCodes[options % 6];
  // IFD1 may be left out of the work block, so only the other standard
  // directories that neither edit touches are compared.
  // A directory whose pointer the rewrite deletes is gone by design.
  const uint16_t deleted = static_cast<uint16_t>(options * 37u);
  const auto unlinked = [&](uint32_t c) {
    return (code == 1 && c == 3) ||
           (code == 1 && deleted == 34665 && (c == 2 || c == 4)) ||
           (code == 2 && deleted == 40965 && c == 4);
  };
  std::vector<uint32_t> untouched;
  for (uint32_t c : {1u, 2u, 3u, 4u}) {
    if (c != code && c != removal_code && !unlinked(c)) untouched.push_back(c);
  }
  // The reader and the editor must see the same directories for the
  // reader's values to say anything about the editor's.
  veltora::exif::ExifReader probe_source(file, 1, 0);
  ExifEditor probe(probe_source);
  const bool shares_bytes = SharesBytes(editor) || !veltora::exif::Done(probe.CopyBlock()) ||
                            probe.DirectoryOffset(veltora::exif::kExifIfd) != probe_source.ExifIfd().offset ||
                            probe.DirectoryOffset(veltora::exif::kGpsIfd) != probe_source.GpsIfd().offset;
  veltora::exif::ExifReader original(file, 1, 0);
  const Values before = ReadValues(original, untouched);
  const uint16_t deletions[] = {deleted, 274, 34853};
  std::vector<uint8_t> long_value(static_cast<size_t>(options) * 3 + 5, 0x41);
  const EntryEdit additions[] = {
      {IfdEntry{306, 2, static_cast<uint32_t>(long_value.size()), 0}, long_value},
      {IfdEntry{274, 3, 1, 6}, {}},
      {IfdEntry{options, 4, 1, 0x12345678}, {}},
  };
  // Refused or not, the block must stay whole: the checks below tell.
  (void)editor.RewriteIfd(code, deletions, additions);
  Check(editor.Block().size() <= editor.BlockCapacity());
  const auto kept_note = editor.FindBlockEntry(2, 37500);
  if (!note.empty() && kept_note) {
    Check(kept_note->value == note_at && uint64_t{note_at} + note.size() <= editor.Block().size());
    Check(std::equal(note.begin(), note.end(), editor.Block().begin() + note_at));
  }
  (void)editor.RemoveTag(removal_code, 271);
  editor.PlaceDataBehindBlock();
  veltora::edit::StampDateTime(editor);

  std::vector<uint8_t> out;
  if (veltora::edit::WriteJpegLayout(editor, file, &out) != 0) return 0;
  if (out.size() < 4 || out[0] != 0xFF || out[1] != 0xD8) return 0;
  // The segment after SOI is the new APP1, and a reader finds its payload.
  Check(out[2] == 0xFF && out[3] == 0xE1);
  veltora::exif::ExifReader reread(std::span<const uint8_t>(out), 1, 0);
  Check(reread.Jpeg().app1Length == editor.TotalSegmentSize() + 8 || reread.Jpeg().app1Offset != 2);
  if (!reread.LoadedData().empty() && reread.Jpeg().app1Offset == 2) {
    const auto block = editor.Block();
    Check(reread.LoadedData().size() >= block.size());
    Check(std::memcmp(reread.LoadedData().data(), block.data(), block.size()) == 0);
    if (original.IsExif() == 1 && reread.IsExif() == 1 && !shares_bytes) {
      // Every value read before reads the same; a malformed directory that
      // shared bytes with a rewritten one may show entries it did not before.
      const Values after = ReadValues(reread, untouched);
      for (const auto& [key, value] : before) {
        const auto found = after.find(key);
        Check(found != after.end() && found->second == value);
      }
    }
  }
  return 0;
}
