// ExifEditor: rebuilds a file's TIFF block (header, directories, values and,
// for JPEG files, the thumbnail) in a work block of its own, keeping every
// offset inside it consistent after each change. The file itself is never
// touched here; rebuilt_output.h writes the finished block into a new file.
//
// Operations that change the block report an exif::Outcome: done, absent (a
// code that names no directory, a directory or entry not in the block) or
// refused. Every operation that cannot be done inside the work block is
// refused: an entry or value that would pass the block's length is not
// touched, and a change that would outgrow the block's headroom is refused,
// leaving the block as it was.
#ifndef VELTORA_EDIT_EXIF_EDITOR_H_
#define VELTORA_EDIT_EXIF_EDITOR_H_

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "edit/block_entries.h"
#include "edit/directory_writer.h"
#include "edit/range_list.h"
#include "exif/exif_reader.h"
#include "exif/outcome.h"

namespace veltora::edit {

using exif::IfdEntry;
using exif::IfdLocation;
using exif::Outcome;

// An entry to add to a directory, or to replace the entry with its tag.
// `bytes` are the stored value bytes in the block's byte order when the value
// is longer than 4 bytes; empty means "produce them" (value source), or, for
// an entry equal to the directory's own entry with that tag, "keep them".
struct EntryEdit {
  IfdEntry entry;
  std::vector<uint8_t> bytes;
};

// One entry of a directory being rewritten.
struct PlannedEntry {
  DirectoryItem item;
  bool fromBlock = false;  // kept from the directory, not added
  bool produced = true;    // false: its value could not be found or made
  struct {
    uint32_t offset = 0;
    uint64_t size = 0;  // 0: no out-of-line value in the block
  } oldValue;           // where a kept entry's value lies now
};

// A directory rewrite worked out before anything changes: the entries it
// will hold, sorted by tag, and the bytes it frees.
struct RewritePlan {
  BlockDirectory directory;
  std::vector<PlannedEntry> entries;
  RangeList cuts;                         // the old table and the old out-of-line values
  std::vector<uint32_t> emptied;          // directories whose pointer is deleted
  std::vector<uint32_t> structureStarts;  // of every directory and value in the block
  bool dropsMakerNote = false;            // the MakerNote entry is deleted or replaced
};

// What a directory rewrite did: its outcome and, when done, entries after
// less entries before.
struct [[nodiscard]] RewriteResult {
  Outcome outcome = Outcome::kRefused;
  int entryChange = 0;
  bool Done() const { return outcome == Outcome::kDone; }
};

// One directory the editor follows: where it hangs (its parent and the tag
// of the parent's pointer entry, 0 where the header, IFD0's link or the maker
// note points at it) and where it lies in the work block (offset 0: not
// there).
struct DirectoryPlace {
  uint32_t code = 0;
  uint32_t parent = 0;
  uint16_t pointerTag = 0;
  uint32_t offset = 0;
  uint16_t count = 0;
};

// What follows the block in the output: where it starts and how long it is.
struct PlacedData {
  uint32_t offset = 0;
  uint32_t length = 0;
};

class ExifEditor {
 public:
  // Room every work block has beyond what it holds: one rebuild may grow the
  // block by at most this much (a GPS directory, a few added entries, an
  // IFD1 with its thumbnail). Anything larger is refused.
  static constexpr uint32_t kHeadroom = 0x10000;

  // The editor reads `source` (its block, its image data and segments) and
  // never changes what it describes; the source must outlive the editor.
  explicit ExifEditor(exif::ExifReader& source);
  ExifEditor(const ExifEditor&) = delete;
  ExifEditor& operator=(const ExifEditor&) = delete;

  exif::ExifReader& Source() const { return source_; }
  bytes::ByteOrder Order() const { return source_.Order(); }
  // Loads the source's metadata bytes for one scope (see ScopedExifData).
  exif::ScopedExifData LoadSource() const { return exif::ScopedExifData(source_); }

  // The bytes in use; empty before StartEdit/CopyBlock.
  std::span<uint8_t> Block() { return std::span<uint8_t>(block_).first(blockLength_); }
  std::span<const uint8_t> Block() const {
    return std::span<const uint8_t>(block_).first(blockLength_);
  }
  uint32_t BlockCapacity() const { return static_cast<uint32_t>(block_.size()); }
  bool HasWorkBlock() const { return blockLength_ != 0; }
  // True for a bare TIFF file: its image data follows the block in the output.
  bool IsTiffSource() const;

  // Where directory `code` lies in the work block (0: not there) and the
  // entry count last read there.
  uint32_t DirectoryOffset(uint32_t code) const;
  uint16_t EntryCount(uint32_t code) const;
  // True when the directory's entry table lies wholly inside the work block.
  bool HasDirectory(uint32_t code) { return Locate(code).has_value(); }
  // The maker note's value in the work block (offset 0: none).
  PlacedData MakerNote() const { return {makerNoteOffset_, makerNoteLength_}; }

  // The thumbnail that follows the block, and the encoded picture it is
  // taken from (the caller keeps those bytes for the editor's life).
  std::span<const uint8_t> Thumbnail() const { return thumbnailBytes_; }
  std::span<const uint8_t> ThumbnailPicture() const { return thumbnailPicture_; }
  void SetThumbnailPicture(std::span<const uint8_t> picture) { thumbnailPicture_ = picture; }
  void HoldThumbnail(std::vector<uint8_t> bytes) { thumbnailBytes_ = std::move(bytes); }
  // Releases the thumbnail's bytes and forgets its picture.
  void DropThumbnail();
  // Block length + thumbnail length: the APP1 payload behind "Exif\0\0".
  uint64_t TotalSegmentSize() const { return uint64_t{blockLength_} + thumbnailBytes_.size(); }

  // The image data comes from the encoded file `picture` (segments of a
  // JPEG, the strips of a TIFF from `first_strip` on) instead of the source;
  // empty bytes return to the source. The caller keeps the bytes for the
  // editor's life.
  void TakeImageDataFrom(std::span<const uint8_t> picture, uint32_t first_strip);
  // The file the image data comes from: empty for the source itself.
  std::span<const uint8_t> ImageDataPicture() const { return imageDataPicture_; }
  // Where that picture's image data starts.
  uint64_t ImageDataStart() const;
  // Where the image data (IFD0) or the thumbnail (IFD1) lies in the output,
  // with the length measured when it was last placed there.
  PlacedData Placed(uint32_t code);
  // Image data length (IFD0) or thumbnail length (IFD1) as the block now
  // says; 0 when none.
  uint32_t DataLength(uint32_t code);

  // --- Operations.
  // The work block from the source's TIFF block without IFD1 and the old
  // thumbnail. `drop_interop` also removes the Interoperability pointer.
  // Refused when a work block exists or the source has none to copy.
  Outcome StartEdit(bool drop_interop);
  // The work block as an exact copy of the source's TIFF block.
  Outcome CopyBlock();
  // Rewrites directory `code`: drops `deletions`, adds or replaces
  // `additions`. `value_source`, when given, supplies the bytes of added
  // entries that carry none (another file's entry with the same tag).
  RewriteResult RewriteIfd(uint32_t code, std::span<const uint16_t> deletions,
                           std::span<const EntryEdit> additions,
                           exif::ExifReader* value_source = nullptr);
  // Removes every entry with `tag` in place; absent when there is none.
  Outcome RemoveTag(uint32_t code, uint16_t tag);
  // Overwrites type, count and value field of the entry with entry.tag
  // (value in IfdEntry form); refused when the entry lies in the maker note.
  Outcome SetEntryInPlace(uint32_t code, const IfdEntry& entry);
  // The first entry with `tag` in IfdEntry form; nullopt when absent.
  std::optional<IfdEntry> FindBlockEntry(uint32_t code, uint16_t tag);
  // All entries of a directory in table order; empty when absent.
  std::vector<IfdEntry> BlockEntries(uint32_t code);
  // Records where image data (IFD0) or the thumbnail (IFD1) will lie in the
  // output; the position is rounded up to even.
  Outcome SetDataOffset(uint32_t code, uint32_t position);
  // Puts the thumbnail and then the image data behind the block as it now
  // ends (SetDataOffset for each that has data).
  void PlaceDataBehindBlock();
  // Appends directory `code` (`table`: its table and values, laid out for
  // the offset where it lands, see AppendPosition) and points its parent at
  // it: IFD0's pointer entry for the Exif and GPS directories, the Exif
  // directory's for Interoperability, IFD0's link for IFD1. Refused when
  // the headroom does not hold it or the parent has no place to point from
  // (then nothing changes).
  // `items` are sorted by tag here; `trailer` (bytes that belong to the
  // directory, a thumbnail say) follows its values, at
  // AppendPosition() + DirectorySize(items).
  Outcome AppendDirectory(uint32_t code, std::vector<DirectoryItem>& items,
                          std::span<const uint8_t> trailer = {});
  // Where the next AppendDirectory places its table: the block's end, even.
  uint32_t AppendPosition() const { return static_cast<uint32_t>(PaddedSize(blockLength_)); }

  // Appends `bytes` at the block's end (after padding it to even when
  // `even`); returns the offset where they start, or nullopt when the
  // headroom does not hold them (nothing changes then).
  std::optional<uint32_t> Append(std::span<const uint8_t> bytes, bool even);
  // Replaces any work block by a new one that holds `head` (a TIFF header):
  // the start of a block built from scratch, with room for the source's own
  // metadata plus the headroom. Every cached directory is forgotten and the
  // held thumbnail released. False when it cannot be allocated.
  bool StartBlock(std::span<const uint8_t> head);
  // Drops everything from `length` on (the directory appended last and what
  // follows it); the freed bytes become zero, so later appends pad with zeros.
  void Truncate(uint32_t length);
  // Pads the block with one zero byte when its length is odd; false when full.
  bool PadToEven();
  // Offset of the 4-byte next-IFD link of a directory; nullopt when absent.
  std::optional<uint32_t> NextLinkPosition(uint32_t code);
  // Cuts IFD1, appended last, with everything behind it, and clears IFD0's
  // link; refused when IFD1 is not the last thing in the block.
  Outcome CutAppendedIfd1();
  // Points IFD1's link at directories already in the block (the chain an
  // old IFD1 led to).
  Outcome LinkBehindIfd1(uint32_t offset);

  // Bytes of the work block below this offset never move. A block that holds
  // data whose inner offsets this editor cannot follow (a maker note, whose
  // offsets may count from the TIFF header or from the note itself, SubIFDs,
  // vendor directories, values of unknown types) is pinned whole: what is cut
  // there becomes a zero-filled hole and a directory that must grow is
  // written anew at the end of the block. Shifting such data as the general
  // rule would do corrupts it; dropping it loses it. 0 = nothing pinned.
  uint32_t PinnedEnd() const { return pinnedEnd_; }
  // After StartEdit left IFD1 and its thumbnail as holes in a pinned block:
  // puts the source's bytes back in the same places and links IFD1 again.
  bool RestoreDetachedIfd1(std::span<const uint8_t> source, uint32_t ifd1_offset);

 private:
  DirectoryPlace* PlaceOf(uint32_t code);
  const DirectoryPlace* PlaceOf(uint32_t code) const;
  void SetPlace(uint32_t code, uint32_t offset, uint16_t count);
  void ForgetPlaces();
  // The directory of `code` in the work block when its entry table fits.
  std::optional<DirectoryPlace> Locate(uint32_t code);
  // The directory of `code` as it lies in the work block, when it does.
  std::optional<BlockDirectory> ReadDirectory(uint32_t code);
  bool Allocate(uint32_t length);
  uint32_t ThumbnailLength() const { return static_cast<uint32_t>(thumbnailBytes_.size()); }
  // Where the image data (IFD0) or the thumbnail (IFD1) now lies: the first
  // strip, or IFD1's JPEGInterchangeFormat in a JPEG; 0 when none.
  uint32_t DataOffset(uint32_t code);

  // Loads the source block if needed and copies it into a new work block
  // (headers read from the copy); releases a load it made. False on failure.
  bool CopySourceBlock();
  void ReadHeadersFromBlock();
  void LocateMakerNoteIfd();
  // Moves every cached offset and every directory's offsets after a change.
  void ShiftAll(const RangeList& ranges, uint32_t skip_code);
  void FixUpOffsets(uint32_t code, const RangeList& ranges);
  bool HoldsImmovableData();
  // Keeps out of `cuts` every byte that a directory not in `leaving` still uses.
  void SpareLiveData(RangeList& cuts, std::span<const uint32_t> leaving);
  // Offsets where a known directory or an out-of-line value begins.
  std::vector<uint32_t> StructureStarts();
  // The rewrite in three steps: plan (nothing changes), write (the one
  // directory writer) and commit (the new block, every offset moved).
  std::optional<RewritePlan> PlanRewrite(uint32_t code, std::span<const uint16_t> deletions,
                                         std::span<const EntryEdit> additions,
                                         exif::ExifReader* value_source);
  PlannedEntry PlanAddition(uint32_t code, const EntryEdit& add,
                            exif::ExifReader* value_source) const;
  RewriteResult CommitRewrite(uint32_t code, RewritePlan& plan);
  // Whether directory `code` may be written anew: in place clear of the
  // maker note, or elsewhere with a parent pointer that can follow it.
  bool RewriteAllowed(uint32_t code, const BlockDirectory& dir, bool relocate);
  // Adds to the plan's cuts the old values it replaces, less what live data
  // and the maker note still use; answers the holes below the pin.
  std::vector<RangePair> CutReplacedValues(uint32_t code, RewritePlan& plan);
  // The rewritten directory's own pointers decide where its children (and
  // the maker note) are.
  void FollowPointersOf(uint32_t code, std::span<const DirectoryItem> items);
  // The 4-byte value field an entry in IfdEntry form stores.
  uint32_t PackedField(const IfdEntry& entry) const;
  // Whether [start, start + size) shares bytes with the maker note. Only a
  // damaged block puts a directory table there; a write into it would change
  // the note, so such writes are refused and the note stays as it came.
  bool MeetsMakerNote(uint64_t start, uint64_t size) const;
  // Whether PointAt can repoint directory `code`: the parent's pointer entry
  // is there and clear of the maker note.
  bool ParentPointerWritable(uint32_t code);
  // Points the parent of directory `code` (header, IFD0, Exif IFD) at `offset`.
  Outcome PointAt(uint32_t code, uint32_t offset);
  // The parent's entry that points at directory `code`: the last LONG with
  // the pointer tag, the one whose value ReadHeadersFromBlock follows.
  std::optional<BlockEntry> PointerEntry(uint32_t code);
  // Caches the child directory that `entry` of `parent` points at, when it
  // is a pointer entry.
  void NoteChildPointer(uint32_t parent, const IfdEntry& entry);

  exif::ExifReader& source_;
  std::vector<uint8_t> block_;  // the work block, zero beyond blockLength_
  uint32_t blockLength_ = 0;
  std::array<DirectoryPlace, 6> directories_;
  uint32_t makerNoteOffset_ = 0;  // the MakerNote value in the work block; 0 = none
  uint32_t makerNoteLength_ = 0;
  std::span<const uint8_t> thumbnailPicture_;
  std::vector<uint8_t> thumbnailBytes_;  // appended after the block in the output
  std::span<const uint8_t> imageDataPicture_;  // read instead of the source for image data and segments
  uint32_t imageDataFirstStrip_ = 0;     // its first strip; 0 = the source's own IFD0
  // What follows the block in the output, as measured when it was last
  // placed there (SetDataOffset, PlaceDataBehindBlock).
  uint32_t imageDataLength_ = 0;
  uint32_t thumbnailDataLength_ = 0;
  uint32_t pinnedEnd_ = 0;
  std::vector<RangePair> detachedIfd1_;  // holes StartEdit left: (start, length)
};

}  // namespace veltora::edit

#endif  // VELTORA_EDIT_EXIF_EDITOR_H_
