// MakerNoteReader: an ExifReader that also locates the camera maker's own
// directory (the value of EXIF tag MakerNote) and offers lookups in it that
// mirror the standard ones. Two layouts are read, told apart by the note's
// leading NUL-terminated text:
//   3+ characters: signature, NUL, two skipped bytes, u16 count, entries
//                  (entries at signature length + 5);
//   1-2 characters: no signature: u16 count at byte 0, entries from byte 2;
//   empty:         unreadable, no entries.
// Entries use the TIFF data's byte order, and values larger than four bytes
// lie at offsets from the TIFF header, not from the note.
#ifndef VELTORA_EXIF_MAKER_NOTE_READER_H_
#define VELTORA_EXIF_MAKER_NOTE_READER_H_

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "exif/exif_reader.h"

namespace veltora::exif {

class MakerNoteReader : public ExifReader {
 public:
  // Only this much of the leading text is considered for the signature.
  static constexpr size_t kMaxSignatureLength = 19;

  MakerNoteReader(const char* path, uint32_t load_data, uint32_t use_page_allocator);
  MakerNoteReader(std::span<const uint8_t> file_bytes, uint32_t load_data,
                  uint32_t use_page_allocator);
  MakerNoteReader(std::vector<uint8_t>&&, uint32_t, uint32_t) = delete;
  ~MakerNoteReader() override;

  // Entries of the note's directory as its header declares them; 0 when
  // unreadable or not yet parsed.
  uint16_t MakerEntryCount() const { return makerEntryCount_; }

  bool HasMakerNote() const;
  // The note lies inside the metadata range.
  bool MakerNoteInData() const;
  // Points the note into the loaded data or reads a copy of the note; null
  // when the note's bytes are not all available.
  const uint8_t* LoadMakerNote();
  void FreeMakerNote();
  // True when the header and the declared directory fit the note (a
  // signature found is kept even when not).
  [[nodiscard]] bool ParseMakerNoteHeader();
  // True when found (type, count and value filled).
  [[nodiscard]] bool FindMakerEntry(IfdEntry* entry);
  // As CollectEntries, for the maker note's directory.
  Outcome CollectMakerEntries(std::vector<IfdEntry>* list);
  // Items delivered; values larger than four bytes only from loaded data.
  uint32_t GetMakerEntryValue(const IfdEntry* entry, void* buffer, uint32_t capacity);
  std::string GetMakerSignature();

  // Print-image-matching data in an APP6 segment, in IFD0 or in the maker note.
  bool HasPrintMatching();

 private:
  void LocateMakerNote();
  // The note as a view of its declared size; empty when not available.
  bytes::ByteView NoteView() const;
  // The directory's entry table, when the note is usable for lookups.
  std::optional<bytes::ByteView> MakerEntryTable() const;

  bytes::ByteOrder makerByteOrder_ = bytes::kLittleEndian;  // the TIFF data's order
  uint16_t makerEntryCount_ = 0;                            // 0 when unreadable
  std::string makerSignature_;                              // empty for the count-first form
  uint32_t makerNoteSize_ = 0;                              // the MakerNote count; 0 when none
  uint32_t makerNoteOffset_ = 0;                            // relative to the TIFF header
  // The note's bytes: inside the loaded data, else this object's own copy;
  // null when not available. Valid while the data stays loaded.
  const uint8_t* makerNote_ = nullptr;
  std::vector<uint8_t> copy_;  // the note's bytes when no data is loaded
};

}  // namespace veltora::exif

#endif  // VELTORA_EXIF_MAKER_NOTE_READER_H_
