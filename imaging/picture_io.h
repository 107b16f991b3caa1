// Picture loading, checking and saving: the operations through which the
// exports reach pictures. Results are the plug-in's: load results follow
// the library (1 success, 0 a rejection by the acceptance rules below, a
// negative library error otherwise); the rest return result codes
// (S_OK, E_INVALIDARG, E_FAIL, 0x82000000 | -e for library error e).
#ifndef VELTORA_IMAGING_PICTURE_IO_H_
#define VELTORA_IMAGING_PICTURE_IO_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/bitmap.h"
#include "interface/global_memory.h"
#include "interface/host_win32.h"

namespace veltora::imaging {

// Loads `path` into `bitmap` at `bits` with the acceptance rules of the
// format its extension names (DetectImageFormat; the bytes still decide how
// the file is decoded):
//  BMP: a file of 54 bytes or less (headers only) is rejected (0).
//  JPEG: CheckJpegFile must accept the file (else 0).
//  PNG: loaded at its own depth, then changed to `bits`.
//  TIFF: accepted when the file is larger than its decoded samples or LZW
//        compressed; otherwise rejected (0).
//  GIF and anything else: loaded as it is.
// A rejected or failed load leaves the bitmap empty. The rows are allocated
// in `memory_kind` (bitmap.h). Never throws
// (an exception inside gives 0).
int32_t LoadPictureFile(const char* path, Bitmap* bitmap, int32_t bits, int32_t memory_kind = kMemoryHeap);

// Loads the preview embedded in the file's EXIF data: the JPEG thumbnail of
// IFD1 (which must pass CheckJpegStream) or, in a TIFF file, the strip image
// of IFD1. Always at 24 bits, whatever `bits` asks: previews are shown, never
// edited. 0 when the file has no usable EXIF data or no thumbnail, or the
// thumbnail fails the stream check; otherwise the load's result. The bitmap
// is left empty on every failure. Never throws.
int32_t LoadEmbeddedPreview(const char* path, Bitmap* bitmap, int32_t bits);

// 1 accept, 0 reject. A file that does not begin with FF D8 is accepted (the
// decoder judges it); otherwise the whole file must pass CheckJpegStream.
int32_t CheckJpegFile(const char* path);

// 1 when the bytes are a well-formed JPEG marker structure: the walk must
// start at FF D8; segments are skipped by their lengths; in entropy-coded
// data only FF 00, FF D0..D7, FF DA, FF FF, a table (FF C4, FF DB) or the
// end (FF D9) may follow FF. Data ending inside a scan is accepted; bytes
// after FF D9 are ignored. 0 otherwise, also for null or under 2 bytes.
int32_t CheckJpegStream(const uint8_t* buffer, size_t length);

// 40 + stride x biHeight (+ 4 x 2^bits for depths 1..15, + 12 for
// BI_BITFIELDS), stride = ((biWidth x biBitCount + 31) / 32) x 4, in signed
// 64-bit arithmetic; a product beyond 64 bits saturates to +-2^62 instead of
// wrapping. -1 for a null header.
int64_t PackedDibSize(const BITMAPINFOHEADER* header);

// Converts the host's DIB (read only, never freed here) into `bitmap`
// through a private copy of PackedDibSize bytes (never more than the block
// holds; top-down DIBs are sized by the magnitude of biHeight). S_OK,
// E_INVALIDARG for null arguments, E_FAIL for anything else.
int32_t BitmapFromDib(HGLOBAL dib, Bitmap* bitmap);

// S_OK when BitmapFromDib would take the DIB (its memory permitting), the
// same E_INVALIDARG or E_FAIL otherwise; nothing is copied.
int32_t CheckDibConvertible(HGLOBAL dib);

// A new DIB block for the bitmap (caller frees it with GlobalFree), null for
// a null bitmap or on failure.
HGLOBAL DibFromBitmap(const Bitmap* bitmap);

// S_OK when the bitmap holds image data, E_FAIL when not, E_INVALIDARG for null.
int32_t CheckBitmapLoaded(const Bitmap* bitmap);

// Decode modes of LoadDibCopy (and of the Decode export).
constexpr int32_t kLoadPicture = 0;
constexpr int32_t kLoadPreview = 1;

// The packed DIB of the picture (mode kLoadPicture, LoadPictureFile) or of
// its embedded preview (kLoadPreview, LoadEmbeddedPreview), both at 24 bits,
// as a heap copy; empty when the path is null or empty, the mode is another
// value, or the load fails.
std::vector<uint8_t> LoadDibCopy(const char* path, int32_t mode);

// Format flags of the two writers: Encode's bits. Any of these means JPEG,
// kWriteTiff TIFF; JPEG wins when both are present.
constexpr uint32_t kWriteJpegFlags = 0x01 | 0x20 | 0x40;
constexpr uint32_t kWriteTiff = 0x08;

// Encodes the whole DIB into `out`: JPEG as SaveJpeg in kJpegModeExif, or
// TIFF (24 bits, LZW). S_OK, or the failure's code; E_FAIL when neither
// format is named or the DIB cannot be converted; E_INVALIDARG for a null
// output.
int32_t EncodeMainImage(uint32_t flags, HGLOBAL dib, int32_t quality, std::vector<uint8_t>* out);

// Encodes a 160 x 120 thumbnail of the DIB into `out`: the picture fitted
// inside with its proportions, centred; the bands around it are black (the
// canvas is zeroed when allocated). JPEG (kJpegModeExif) or TIFF as for
// EncodeMainImage. S_OK, E_INVALIDARG (null output or DIB, neither format),
// E_FAIL, or a library failure's code.
int32_t EncodeThumbnail(uint32_t flags, HGLOBAL dib, int32_t quality, std::vector<uint8_t>* out);

// EncodeMainImage and EncodeThumbnail of one DIB into `main` and
// `thumbnail`, made at once on two threads when the picture is large enough
// to gain by it (WorthTwoThreads). The result is the main image's failure,
// else the thumbnail's, else S_OK: as when they are made one after the other.
[[nodiscard]] int32_t EncodeMainAndThumbnail(uint32_t flags, HGLOBAL dib, int32_t quality,
                                             std::vector<uint8_t>* main,
                                             std::vector<uint8_t>* thumbnail);

// True when the DIB block is large enough (256 KiB and more, a picture of
// some 87,000 pixels at 24 bits) that encoding it beside its thumbnail saves
// more than starting a thread costs.
[[nodiscard]] bool WorthTwoThreads(HGLOBAL dib);

// The thumbnail's size for a W x H picture and its place on the canvas.
struct ThumbnailFit {
  int32_t width, height, left, top;
};
ThumbnailFit FitThumbnail(int32_t width, int32_t height);
constexpr int32_t kThumbnailWidth = 160;
constexpr int32_t kThumbnailHeight = 120;

}  // namespace veltora::imaging

#endif  // VELTORA_IMAGING_PICTURE_IO_H_
