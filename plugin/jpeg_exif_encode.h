// JPEG encoding with a built EXIF block: the thumbnail that goes into the
// block and the encode itself (EncodeJpegWithExif, declared with the other
// EXIF writers in exif_writers.h). The pixels are handled here, in the top
// layer, so that the block builder (create/) never sees the imaging layer.
#ifndef VELTORA_PLUGIN_JPEG_EXIF_ENCODE_H_
#define VELTORA_PLUGIN_JPEG_EXIF_ENCODE_H_

#include <cstdint>
#include <vector>

#include "frame/veltora.h"
#include "imaging/dib_picture.h"

namespace veltora {

// Where a W x H picture lies on the 160 x 120 canvas of an embedded
// thumbnail. W and H are taken upright (exchanged for view perspectives 4,
// 5, 7 and 8); with a = 160 / W and b = 120 / H, the picture is 160 wide when
// a <= b, else 120 high, the other side truncated (0 becomes 1), centred.
struct ExifThumbnailFit {
  int32_t width, height, left, top;
};
ExifThumbnailFit FitExifThumbnail(int32_t width, int32_t height, int32_t view_perspective);

// The embedded thumbnail of `picture`: scaled to fit and centred on a black
// 160 x 120 canvas of the picture's depth, encoded in memory by the JPEG
// writer (mode 17), without its APP0 segment. S_OK with the stream in
// `jpeg`; E_INVALIDARG for a null output or a quality outside 1..100; E_FAIL
// for a DIB without a picture or a failed imaging step; the JPEG writer's
// own negative result.
HRESULT MakeExifThumbnail(const imaging::DibPicture& picture, std::vector<uint8_t>* jpeg,
                          int32_t quality);

}  // namespace veltora

#endif  // VELTORA_PLUGIN_JPEG_EXIF_ENCODE_H_
