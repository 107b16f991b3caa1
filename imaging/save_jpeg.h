// The JPEG writer (libjpeg-turbo). Results: 0 on success, a negative
// library error on failure.
//
// Modes. Every mode writes a JFIF APP0 segment, uses the accurate integer
// DCT and takes the quality clamped to 1..100.
//   kJpegModeStandard (0)     baseline, 4:2:0 chroma subsampling: photographs.
//   kJpegModeFullColour (1)   baseline, 4:4:4: no chroma subsampling, for
//                             sharp coloured edges (graphics, text).
//   kJpegModeProgressive (2)  progressive, 4:2:0.
//   kJpegModeExif (17)        baseline, 4:2:2, the sampling EXIF readers
//                             expect: thumbnails, plain saves, files that
//                             get an EXIF block.
// Any other mode is kErrorInvalidArgument.
#ifndef VELTORA_IMAGING_SAVE_JPEG_H_
#define VELTORA_IMAGING_SAVE_JPEG_H_

#include <cstdint>
#include <vector>

#include "imaging/bitmap.h"

namespace veltora::imaging {

constexpr int32_t kJpegModeStandard = 0;
constexpr int32_t kJpegModeFullColour = 1;
constexpr int32_t kJpegModeProgressive = 2;
constexpr int32_t kJpegModeExif = 17;

// Encodes the bitmap (any depth; indexed depths through their palette).
int32_t EncodeJpeg(const Bitmap& bitmap, int32_t quality, int32_t mode, std::vector<uint8_t>* out);
// Encodes and writes `path` (created or truncated).
int32_t SaveJpegBitmap(const Bitmap& bitmap, const char* path, int32_t quality, int32_t mode);
// Encodes rows of B, G, R (24 bits) or B, G, R, x (32 bits) pixels where
// they lie, `pitch` bytes apart, the bottom row first when `bottom_up`:
// the same file EncodeJpeg makes of the same pixels, without a copy.
int32_t EncodeJpegRows(const uint8_t* pixels, int32_t width, size_t pitch, int32_t height, int32_t bits,
                       bool bottom_up, int32_t quality, int32_t mode, std::vector<uint8_t>* out);
// Puts a resolution into the JFIF segment the encoder writes first (the
// 18 bytes behind SOI), in whole dots per inch, the unit resolutions are
// usually given in, so that 72, 96 or 300 dpi read back exactly. Nothing
// changes when either value is unknown (0) or beyond the field's 16 bits, or
// when the bytes do not start with that segment.
void SetJfifDensity(std::vector<uint8_t>* jpeg, int32_t x_pixels_per_metre, int32_t y_pixels_per_metre);

// Writes encoded bytes to `path` (created or truncated).
int32_t WriteJpegFile(const char* path, const std::vector<uint8_t>& bytes);

}  // namespace veltora::imaging

#endif  // VELTORA_IMAGING_SAVE_JPEG_H_
