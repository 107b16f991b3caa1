// The imaging library's file operations: query, load, load from memory and
// save, over libjpeg-turbo, libpng, libtiff, giflib and our own BMP code.
//
// Formats are recognised by their bytes, never by the file name. What each
// format loads as natively (before a requested depth is applied):
//   JPEG  24 bits (greyscale: 8 bits with a grey palette; CMYK and YCCK are
//         converted to 24 bits, Adobe's inverted CMYK assumed). Progressive
//         files with more scans than libjpeg-turbo's scan limit are refused,
//         a file that ends early decodes with its missing part grey.
//   PNG   palette: 8 bits with its palette (partly transparent entries are
//         blended over white); grey without alpha: 8 bits grey; RGB: 24 bits;
//         anything with alpha (alpha channel or tRNS): 32 bits with alpha.
//         16-bit samples keep their high byte; gamma chunks are not applied.
//   GIF   the first frame on its logical screen, 8 bits with the frame's
//         palette; transparent pixels and the uncovered screen are white.
//   TIFF  the first directory; 32 bits with alpha when it has an alpha
//         sample, else 24 bits (libtiff's RGBA reader: every photometric
//         it handles). Rows as stored: the Orientation tag does not turn it.
//   BMP   its own depth (1, 4, 8, 24 or 32; 16 and bit-field 32 become 24),
//         bottom-up files are turned top-down; RLE8 and RLE4 rows are
//         decoded at 8 and 4 bits (pixels the codes skip keep index 0).
// Every load reports kViewTopLeft and honours kMaxDecodedPixels before any
// pixel buffer is allocated, and refuses a file whose data cannot fill what
// its header declares before then too (each decoder's bound is beside it).
// Resolution is read into the pixels-per-metre fields from a JPEG's JFIF
// density, a PNG's pHYs chunk, the TIFF resolution tags and the BMP header
// (0 when the file gives none, or only an aspect).
#ifndef VELTORA_IMAGING_PICTURE_FILES_H_
#define VELTORA_IMAGING_PICTURE_FILES_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "imaging/bitmap.h"

namespace veltora::imaging {

// Save format codes.
constexpr int32_t kSaveGif = 2;   // 8 bits (GIF87a/89a via giflib), median-cut palette
constexpr int32_t kSaveTiff = 3;  // 24 bits, LZW with horizontal predictor
constexpr int32_t kSaveBmp = 6;   // 1, 4, 8, 24 or 32 bits, bottom-up, uncompressed
constexpr int32_t kSavePng = 75;  // 8 (palette), 24 or 32 (with alpha) bits

// What a file is, read from its headers.
struct FileInformation {
  int32_t format = 0;  // kSaveGif, kSaveTiff, kSaveBmp, kSavePng, or kFormatJpeg
  int32_t width = 0;
  int32_t height = 0;
  // The depth the picture loads at natively (see above), so a load at this
  // depth never converts.
  int32_t bits_per_pixel = 0;
  int64_t file_size = 0;
  // Bytes of the decoded samples at the depth stored in the file, rows
  // unpadded: ceil(width * stored bits / 8) * height.
  int64_t decoded_size = 0;
  // NUL-terminated, at most 3 letters: "RAW" (none), "LZW", "JPG", "ZIP"
  // (deflate), "PKB" (PackBits), "CCT" (CCITT fax), "RLE", "BTF" (BMP bit
  // fields), "OTH" for any other TIFF scheme.
  char compression[4] = {0, 0, 0, 0};
  int32_t view_perspective = kViewTopLeft;
};
constexpr int32_t kFormatJpeg = 10;

// Reading whole files is capped: no picture we can decode within
// kMaxDecodedPixels needs a larger file, and the cap keeps a hostile or
// mistaken path (a device, a huge archive) from exhausting memory.
constexpr uint64_t kMaxFileBytes = uint64_t{1} << 30;

// Query: fills `info` from the file's headers without decoding pixels.
// 1, kErrorFileOpen, kErrorFileRead, kErrorUnknownFormat, kErrorCorrupt,
// kErrorUnsupported, kErrorTooLarge.
int32_t QueryFile(const char* path, FileInformation* info);
int32_t QueryMemory(std::span<const uint8_t> bytes, FileInformation* info);

// The whole file, for a query and a load over the same bytes: 1,
// kErrorInvalidArgument, kErrorFileOpen, kErrorFileRead, kErrorTooLarge
// (beyond kMaxFileBytes), kErrorNoMemory.
int32_t ReadPictureFile(const char* path, std::vector<uint8_t>* out);

// Load: decodes the file into `bitmap` (old contents released) and converts
// it to `bits` (0 keeps the native depth). `order` must be kOrderBgr. `info`
// may be null; when given it is filled as by QueryFile. The rows are
// allocated in `memory_kind` (bitmap.h), converted ones too. On failure the
// bitmap holds nothing.
int32_t LoadFile(const char* path, Bitmap* bitmap, int32_t bits, int32_t order, FileInformation* info,
                 int32_t memory_kind = kMemoryHeap);
// Load from memory: the same over a buffer the caller keeps.
int32_t LoadMemory(std::span<const uint8_t> bytes, Bitmap* bitmap, int32_t bits, int32_t order,
                   int32_t memory_kind = kMemoryHeap);

// Save: writes the bitmap at `bits` in `format` to `path` (created or
// truncated). Returns 1 (> 0) or a negative error; a failed save may leave a
// partial file, which callers delete.
int32_t SaveFile(const char* path, const Bitmap& bitmap, int32_t format, int32_t bits);
// The same into memory.
int32_t EncodeFile(const Bitmap& bitmap, int32_t format, int32_t bits, std::vector<uint8_t>* out);

}  // namespace veltora::imaging

#endif  // VELTORA_IMAGING_PICTURE_FILES_H_
