// Builds TIFF structures (the block behind "Exif\0\0", or a whole TIFF file)
// for tests, in either byte order, laying out every offset itself.
//
// A builder holds directories of entries. Entry methods append an entry and
// make it the "current" one; the With...() hooks then change how that entry is
// written, which is how tests break files on purpose:
//
//   auto tiff = TiffBuilder(kBig)
//                   .Ascii(kIfd0, 271, "Maker")
//                   .Ascii(kExif, 36867, "2006:05:14 09:30:05")
//                   .Ascii(kIfd0, 272, "Model").WithCount(0xFFFFFFFF).WithOffset(26)
//                   .Bytes();
//
// Layout (all offsets relative to the TIFF header, every block word-aligned):
//   header (8 bytes), then the blocks in LayoutOrder(), by default
//   IFD0, EXIF, interoperability, GPS, maker note, IFD1, thumbnail data,
//   strip data. A directory block is: count (2), entries (12 each), next-IFD
//   pointer (4), then the out-of-line values of its entries in entry order.
//   Entries are written sorted by tag unless KeepEntryOrder() is called.
//
// Pointers between directories are added automatically: IFD0 gets 34665
// (EXIF) and 34853 (GPS), the EXIF directory gets 40965 (interoperability)
// and 37500 (MakerNote) when those directories exist; IFD0's next-IFD pointer
// points at IFD1 when IFD1 exists. A directory exists once an entry has been
// added to it or Directory() named it. Pointer(child) selects (creating if
// needed) the pointer entry so the hooks can break it.
//
// Misuse of the builder itself (a hook with no current entry, PlaceAt() behind
// the layout position, an entry in a data block) throws std::logic_error: it
// is a bug in the test, not an input case.
#ifndef VELTORA_TESTS_SUPPORT_TIFF_BUILDER_H_
#define VELTORA_TESTS_SUPPORT_TIFF_BUILDER_H_

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace veltora::testing {

class TempDir;

enum class Endian : uint8_t { kLittle, kBig };
inline constexpr Endian kLittle = Endian::kLittle;  // "II"
inline constexpr Endian kBig = Endian::kBig;        // "MM"

// Printable name for test output and parameterised test names ("II"/"MM").
const char* EndianName(Endian order);
// Runs the TEST_Ps of `Suite`, a test parameterised over Endian, in both
// byte orders, the cases named "II" and "MM".
#define VELTORA_BOTH_BYTE_ORDERS(Suite)                                         \
  INSTANTIATE_TEST_SUITE_P(                                                     \
      BothByteOrders, Suite,                                                    \
      ::testing::Values(::veltora::testing::kLittle, ::veltora::testing::kBig), \
      [](const auto& param_info) { return ::veltora::testing::EndianName(param_info.param); })

// Directory (and data block) identifiers. The directory values equal the
// reader's directory codes (1, 2, 3, 4, 257) and the editor's maker-note code
// (17), so tests can pass them on unchanged. kThumbnailData and kStripData
// name data blocks for LayoutOrder()/PlaceAt() only.
enum Dir : uint16_t {
  kIfd0 = 1,
  kExif = 2,
  kGps = 3,
  kInterop = 4,
  kMakerNote = 17,
  kIfd1 = 257,
  kThumbnailData = 0x1000,
  kStripData = 0x1001,
};

// The TIFF field type codes the builder writes; Raw() takes any code.
enum TiffType : uint16_t {
  kByte = 1,
  kAscii = 2,
  kShort = 3,
  kLong = 4,
  kRational = 5,
  kUndefined = 7,
  kSShort = 8,
  kSRational = 10,
  kDouble = 12,
};

// How a maker note starts.
enum class MakerNoteForm : uint8_t {
  // signature, NUL, two skipped bytes, count (u16), entries, next pointer;
  // values larger than 4 bytes follow inside the note, their offsets counted
  // from the enclosing TIFF header.
  kSignature,
  // count (u16) at byte 0, entries, next pointer; offsets as kSignature.
  kCountFirst,
};

// Where the builder put things, for tests that compute expectations or patch
// bytes. All offsets are relative to the TIFF header.
struct TiffLayout {
  std::vector<uint8_t> bytes;
  std::map<uint16_t, uint32_t> block_offset;  // Dir -> start of its block
  // (Dir, tag) -> offset of its out-of-line value; absent when inline.
  std::map<std::pair<uint16_t, uint16_t>, uint32_t> value_offset;
};

// A print-image-matching block: "PrintIM\0", `version` (4 characters), two
// reserved bytes, the entry count (u16) and 6-byte entries (u16 tag, u32
// value), numbers in `order`. The value of IFD0 tag 50341, of maker-note tag
// 0x0E00, or the payload of an APP6 segment.
std::vector<uint8_t> PrintImBlock(Endian order,
                                  const std::vector<std::pair<uint16_t, uint32_t>>& entries,
                                  std::string_view version = "0300");

class TiffBuilder {
 public:
  explicit TiffBuilder(Endian order = kLittle);

  // ---- Entries. `tag` goes into directory `dir`; the entry becomes current.
  TiffBuilder& Byte(Dir dir, uint16_t tag, std::vector<uint8_t> values);
  // Text plus a terminating NUL (count = size + 1); `terminate` false stores
  // the characters only (count = size), as some writers do.
  TiffBuilder& Ascii(Dir dir, uint16_t tag, std::string_view text, bool terminate = true);
  TiffBuilder& Short(Dir dir, uint16_t tag, uint16_t value);
  TiffBuilder& Shorts(Dir dir, uint16_t tag, std::vector<uint16_t> values);
  TiffBuilder& Long(Dir dir, uint16_t tag, uint32_t value);
  TiffBuilder& Rational(Dir dir, uint16_t tag, uint32_t numerator, uint32_t denominator);
  TiffBuilder& Rationals(Dir dir, uint16_t tag, std::vector<std::pair<uint32_t, uint32_t>> values);
  TiffBuilder& SRational(Dir dir, uint16_t tag, int32_t numerator, int32_t denominator);
  TiffBuilder& SShort(Dir dir, uint16_t tag, std::vector<int16_t> values);
  TiffBuilder& Double(Dir dir, uint16_t tag, std::vector<double> values);
  TiffBuilder& Undefined(Dir dir, uint16_t tag, std::vector<uint8_t> bytes);
  // Any type code (also unknown ones): `value` are the stored bytes exactly as
  // they go into the file (already in the builder's byte order); count is
  // given explicitly. Inline when `value` has at most 4 bytes.
  TiffBuilder& Raw(Dir dir, uint16_t tag, uint16_t type, uint32_t count,
                   std::vector<uint8_t> value);

  // ---- Hooks on the current entry.
  // Writes `count` into the count field; the stored value bytes stay as they
  // were (so the count no longer matches them).
  TiffBuilder& WithCount(uint32_t count);
  // Writes `field` verbatim into the 4-byte value/offset field and stores no
  // out-of-line bytes. Use for offsets near 2^32 or pointing anywhere.
  TiffBuilder& WithOffset(uint32_t field);
  // As WithOffset(), the field being (final block size + delta), resolved at
  // layout: delta 0 is "offset == size", -1 a value starting in the last byte.
  TiffBuilder& WithOffsetFromEnd(int64_t delta);

  // ---- Directories.
  // Makes `dir` exist even with no entries (it is written with count 0).
  TiffBuilder& Directory(Dir dir);
  // Selects the pointer entry that leads to `child` (34665, 34853, 40965 or
  // 37500), creating the child directory and the entry if needed, so the
  // hooks can break it. kIfd1 has no pointer entry (IFD0's next-IFD pointer
  // leads to it: use NextIfd*()); asking for it throws.
  TiffBuilder& Pointer(Dir child);
  // Suppresses the automatic pointer to `child` (the directory is still laid
  // out, just unreachable).
  TiffBuilder& WithoutPointer(Dir child);
  TiffBuilder& NextIfdTo(Dir dir, Dir target);
  // Writes `count` as the directory's entry count, whatever it holds.
  TiffBuilder& DeclareEntryCount(Dir dir, uint16_t count);
  // Writes entries in the order they were added (duplicates, unsorted tags).
  TiffBuilder& KeepEntryOrder();

  // ---- Maker note (directory kMakerNote, pointed at by EXIF tag 37500).
  // Default form: kCountFirst with the TIFF data's byte order.
  // `skipped` are the two bytes after the signature's NUL (kSignature only).
  TiffBuilder& MakerNoteHeader(MakerNoteForm form, std::string signature = {},
                               std::array<uint8_t, 2> skipped = {0, 0});
  // Replaces the whole maker note with opaque bytes (a note that is no
  // directory, or one of exactly 4 bytes). Use this rather than adding tag
  // 37500 by hand, which would give the EXIF directory two MakerNote entries.
  TiffBuilder& RawMakerNote(std::vector<uint8_t> bytes);

  // ---- Image data.
  // IFD1 JPEG thumbnail: adds 513 (offset, LONG) and 514 (length, LONG) to
  // IFD1 and stores `jpeg` in the kThumbnailData block. Only these two tags:
  // Compression and resolutions are the caller's choice.
  TiffBuilder& JpegThumbnail(std::vector<uint8_t> jpeg);
  // Strips of `dir`: 273 StripOffsets and 279 StripByteCounts of `type`
  // (SHORT or LONG), data in the kStripData block.
  TiffBuilder& Strips(Dir dir, std::vector<std::vector<uint8_t>> strips, TiffType type = kLong);
  // A complete uncompressed RGB image in `dir` (width, length, bits per
  // sample, compression 1, photometric 2, samples per pixel 3, rows per strip,
  // planar configuration 1, strips of `rows_per_strip` rows). `rgb` holds
  // width*height*3 bytes; empty fills a gradient.
  TiffBuilder& RgbImage(Dir dir, uint32_t width, uint32_t height, std::vector<uint8_t> rgb = {},
                        uint32_t rows_per_strip = 16);

  // ---- Layout.
  // Order of the blocks after the header; blocks not listed follow in the
  // default order.
  TiffBuilder& LayoutOrder(std::vector<Dir> blocks);
  // Starts `block` exactly at `offset` (zero padding before it); throws when
  // the layout is already past it.
  TiffBuilder& PlaceAt(Dir block, uint32_t offset);

  // ---- Output.
  TiffLayout Layout() const;
  std::vector<uint8_t> Bytes() const { return Layout().bytes; }
  // Writes Bytes() as a plain TIFF file `dir/name`; returns its path.
  std::filesystem::path WriteTiff(const TempDir& dir, std::string_view name = "exif.tif") const;
  // Writes a small real (decodable, 16x16) JPEG: SOI, APP1 with this block,
  // then the picture's tables, frame, scan and EOI (no APP0). Returns its path.
  std::filesystem::path WriteJpeg(const TempDir& dir, std::string_view name = "exif.jpg") const;

  // Encodes numbers in the builder's byte order (for Raw() values).
  std::vector<uint8_t> U16(std::vector<uint16_t> values) const;
  std::vector<uint8_t> U32(std::vector<uint32_t> values) const;

  // Entry and directory state; visible only so the layout code can use them.
  struct Entry {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    std::vector<uint8_t> value;  // stored bytes, in the directory's byte order
    std::optional<uint32_t> count_field = {};
    std::optional<uint32_t> value_field = {};
    std::optional<int64_t> value_field_from_end = {};
    std::optional<uint16_t> link = {};  // value field = offset of this block
    bool strip_offsets = false;    // value = offsets of this directory's strips
  };
  struct DirState {
    bool exists = false;
    bool pointer_suppressed = false;
    std::vector<Entry> entries;
    std::optional<uint16_t> declared_count;
    std::optional<uint16_t> next_to;
    std::vector<std::vector<uint8_t>> strips;
  };

 private:
  Entry& Current();
  DirState& State(Dir dir);

  Endian order_;
  std::map<uint16_t, DirState> dirs_;
  std::optional<std::pair<uint16_t, size_t>> current_;  // (dir, entry index)
  bool keep_order_ = false;
  MakerNoteForm maker_form_ = MakerNoteForm::kCountFirst;
  std::string maker_signature_;
  std::array<uint8_t, 2> maker_skipped_{0, 0};
  std::optional<std::vector<uint8_t>> raw_maker_note_;
  std::optional<std::vector<uint8_t>> thumbnail_;
  std::vector<Dir> layout_order_;
  std::map<uint16_t, uint32_t> place_at_;
};

}  // namespace veltora::testing

#endif  // VELTORA_TESTS_SUPPORT_TIFF_BUILDER_H_
