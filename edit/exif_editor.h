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

#include <cstdint>
#include <functional>
#include <memory>
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

using exif::ByteOrder;
using exif::IfdEntry;
using exif::IfdLocation;
using exif::ImageDescription;
using exif::Outcome;

// An entry to add to a directory, or to replace the entry with its tag.
// `bytes` are the stored value bytes in the block's byte order when the value
// is longer than 4 bytes; empty means "produce them" (value source), or, for
// an entry equal to the directory's own entry with that tag, "keep them".
struct EntryEdit {
  IfdEntry entry;
  std::vector<uint8_t> bytes;
};

// Where the maker note's own directory lies; offset 0 = none found.
struct MakerNoteIfd {
  uint32_t offset = 0;
  uint16_t entryCount = 0;
  uint16_t bytesFromIfd = 0;  // maker-note bytes from the directory on
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

class ExifEditor : public exif::ExifReader {
 public:
  // Room every work block has beyond what it holds: one rebuild may grow the
  // block by at most this much (a GPS directory, a few added entries, an
  // IFD1 with its thumbnail). Anything larger is refused.
  static constexpr uint32_t kHeadroom = 0x10000;

  ExifEditor(const char* path, uint32_t load_data);
  ExifEditor(std::span<const uint8_t> file_bytes, uint32_t load_data);
  ExifEditor(std::vector<uint8_t>&&, uint32_t) = delete;
  ~ExifEditor() override;

  // --- Record (read freely; the operations below keep it consistent).
  std::string alternateSourcePath;    // read instead of the source for image data and segments
  uint32_t alternateImageOffset = 0;  // first strip in the alternate source; 0 = own IFD0
  std::string thumbnailPath;
  std::vector<uint8_t> thumbnailBytes;  // appended after the block in the output
  uint32_t blockLength = 0;             // bytes used in the work block
  ImageDescription ifd0;  // firstStripOffset: position of the image data in the output
  ImageDescription ifd1;  // firstStripOffset: position of the thumbnail; ifdOffset 0 = no IFD1
  IfdLocation exifHeader;
  IfdLocation gpsHeader;
  IfdLocation interopHeader;
  MakerNoteIfd makerNoteIfd;
  // What follows the block in the output, as measured when it was last
  // placed there (SetDataOffset, PlaceDataBehindBlock): the image data of a
  // TIFF and the thumbnail.
  uint32_t imageDataLength = 0;
  uint32_t thumbnailDataLength = 0;
  uint32_t makerNoteOffset = 0;  // the MakerNote value in the work block; 0 = none
  uint32_t makerNoteLength = 0;

  // The bytes in use; empty before StartEdit/CopyBlock.
  std::span<uint8_t> Block() { return {workBlock_.get(), blockLength}; }
  std::span<const uint8_t> Block() const { return {workBlock_.get(), blockLength}; }
  uint32_t BlockCapacity() const { return workCapacity_; }
  uint32_t ThumbnailLength() const { return static_cast<uint32_t>(thumbnailBytes.size()); }
  // True for a bare TIFF file: its image data follows the block in the output.
  bool IsTiffSource() const;

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
  // Image data length (IFD0) or thumbnail length (IFD1); 0 when none.
  uint32_t DataLength(uint32_t code);
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
  uint32_t AppendPosition() const { return static_cast<uint32_t>(PaddedSize(blockLength)); }
  bool HasWorkBlock() const { return workBlock_ != nullptr && blockLength != 0; }
  // True when the directory's entry table lies wholly inside the work block.
  bool HasDirectory(uint32_t code) { return KnownCode(code) && Locate(code).has_value(); }
  // Block length + thumbnail length: the APP1 payload behind "Exif\0\0".
  uint64_t TotalSegmentSize() const { return uint64_t{blockLength} + thumbnailBytes.size(); }

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
  // Caches a new directory position (AppendGpsIfd, ReattachSourceThumbnail).
  void SetHeader(uint32_t code, uint32_t offset, uint16_t count);
  // Re-reads IFD0/IFD1 descriptors and the cached headers from the block.
  void RefreshDescriptors();

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
  struct Located {
    uint32_t offset = 0;
    uint16_t count = 0;
  };
  bool KnownCode(uint32_t code) const;
  // The directory of `code` in the work block when its entry table fits.
  std::optional<Located> Locate(uint32_t code);
  // The directory of `code` as it lies in the work block, when it does.
  std::optional<BlockDirectory> ReadDirectory(uint32_t code);
  uint32_t* CachedOffset(uint32_t code);
  void SetCachedCount(uint32_t code, uint16_t count);
  bool Allocate(uint32_t length);
  // Loads the source block if needed and copies it into a new work block
  // (headers read from the copy); releases a load it made. False on failure.
  bool CopySourceBlock();
  void ReadHeadersFromBlock();
  void LocateMakerNoteIfd();
  bool DescribeImage(uint32_t code, ImageDescription* description);
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

  std::unique_ptr<uint8_t[]> workBlock_;
  uint32_t workCapacity_ = 0;
  uint32_t pinnedEnd_ = 0;
  std::vector<RangePair> detachedIfd1_;  // holes StartEdit left: (start, length)
};

}  // namespace veltora::edit

#endif  // VELTORA_EDIT_EXIF_EDITOR_H_
