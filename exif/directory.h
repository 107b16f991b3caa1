// Directory codes, the location and summary records of a directory, and the
// scan of one entry table, shared by the standard directories and the maker
// note.
#ifndef VELTORA_EXIF_DIRECTORY_H_
#define VELTORA_EXIF_DIRECTORY_H_

#include <cstdint>
#include <vector>

#include "bytes/byte_view.h"
#include "exif/tiff_value.h"

namespace veltora::exif {

// Directory codes. 4 is accepted but never located by the reader; 258 (the
// thumbnail side of the EXIF directory) is formed by date lookups and
// refused like any unknown code; 17 names the maker note in the editor.
inline constexpr uint32_t kIfd0 = 1;
inline constexpr uint32_t kExifIfd = 2;
inline constexpr uint32_t kGpsIfd = 3;
inline constexpr uint32_t kInteropIfd = 4;
inline constexpr uint32_t kIfd1 = 257;
inline constexpr uint32_t kThumbnailExifIfd = 258;
inline constexpr uint32_t kMakerNoteIfd = 17;

// Tags the engine itself looks at.
inline constexpr uint16_t kTagGpsVersionId = 0;
inline constexpr uint16_t kTagImageWidth = 256;
inline constexpr uint16_t kTagImageLength = 257;
inline constexpr uint16_t kTagStripOffsets = 273;
inline constexpr uint16_t kTagOrientation = 274;
inline constexpr uint16_t kTagSamplesPerPixel = 277;
inline constexpr uint16_t kTagRowsPerStrip = 278;
inline constexpr uint16_t kTagStripByteCounts = 279;
inline constexpr uint16_t kTagXResolution = 282;
inline constexpr uint16_t kTagYResolution = 283;
inline constexpr uint16_t kTagPlanarConfiguration = 284;
inline constexpr uint16_t kTagDateTime = 306;
inline constexpr uint16_t kTagJpegInterchangeFormat = 513;
inline constexpr uint16_t kTagJpegInterchangeFormatLength = 514;
inline constexpr uint16_t kTagExifIfdPointer = 34665;
inline constexpr uint16_t kTagGpsIfdPointer = 34853;
inline constexpr uint16_t kTagExifVersion = 36864;
inline constexpr uint16_t kTagDateTimeOriginal = 36867;
inline constexpr uint16_t kTagDateTimeDigitized = 36868;
inline constexpr uint16_t kTagMakerNote = 37500;
inline constexpr uint16_t kTagFlashpixVersion = 40960;
inline constexpr uint16_t kTagPixelXDimension = 40962;
inline constexpr uint16_t kTagPixelYDimension = 40963;
inline constexpr uint16_t kTagInteropIfdPointer = 40965;
inline constexpr uint16_t kTagPrintIm = 50341;

// offset is relative to the TIFF header, 0 when absent; entryCount 0 means
// not read yet.
struct IfdLocation {
  uint32_t offset = 0;
  uint16_t entryCount = 0;
};

// Summary of an image directory (IFD0 or IFD1).
struct ImageDescription {
  uint32_t ifdOffset = 0;
  uint16_t entryCount = 0;
  uint32_t width = 0;
  uint32_t length = 0;
  uint32_t samplesPerPixel = 0;
  uint32_t planarConfiguration = 0;
  uint32_t rowsPerStrip = 0;
  uint32_t stripsPerImage = 0;
  uint32_t firstStripOffset = 0;
};

// Print-image-matching data: absolute file offset and length.
struct PrintImLocation {
  uint32_t offset = 0;
  uint16_t length = 0;
};

struct Rational {
  uint32_t numerator = 0;
  uint32_t denominator = 0;
};

struct ImageSize {
  uint32_t width = 0;
  uint32_t height = 0;
};

// Size in bytes of the entry table of a directory of `count` entries. The
// system keeps it as a 16-bit quantity, so counts above 5461 wrap to a table
// shorter than declared; the table is still read only inside its bytes.
inline uint16_t EntryTableSize(uint16_t count) {
  return static_cast<uint16_t>(uint32_t{count} * kEntrySize);
}

// Scans the entries at 0, 12, 24, ... of `table` (each wholly inside it) and
// fills type, count and value of `entry` from the first whose tag matches:
// false with `entry` untouched when none does.
[[nodiscard]] bool FindInTable(bytes::ByteView table, IfdEntry* entry);

// Replaces `list` by the table's entries, in table order, whose tag is one of
// the tags `list` held on entry (every entry when it held none), including
// entries without a value. Returns the number placed.
uint32_t CollectFromTable(bytes::ByteView table, std::vector<IfdEntry>* list);

}  // namespace veltora::exif

#endif  // VELTORA_EXIF_DIRECTORY_H_
