// GetStillImageInfo's parts that need pictures: the summaries of a picture
// and of its embedded preview, made through the imaging layer. The EXIF
// records come from the record parser (info/exif_records.h).
#ifndef VELTORA_PLUGIN_STILL_IMAGE_INFO_H_
#define VELTORA_PLUGIN_STILL_IMAGE_INFO_H_

#include <cstdint>
#include <memory>

#include "frame/veltora.h"

namespace veltora {

// Modes of MakeImageSummary.
inline constexpr int32_t kSummaryPicture = 0;
inline constexpr int32_t kSummaryPreview = 1;

struct SummaryDeleter {
  void operator()(ImageSummary* summary) const { ImageInfoRecordDelete(INFO_IMAGE, summary); }
};
using OwnedSummary = std::unique_ptr<ImageSummary, SummaryDeleter>;

// A new summary (made with ImageInfoRecordNew) of the picture (mode 0) or of
// its embedded preview (mode 1); null when the file cannot be described.
// Mode 0 takes width, height and depth from the file's headers, exchanging
// width and height for the view perspectives that turn the picture by a
// quarter, and decodes the picture only when the headers cannot be read; its
// format name may stay empty. Mode 1 decodes the preview and needs a format
// name. A BMP file of 54 bytes or less (a header without pixels) gets none.
OwnedSummary MakeImageSummary(const char* path, int32_t mode);

// Clears the 128-character field and writes the format name that the path's
// extension gives: "BMP"; "JPG" for jpg, jpeg and jpe; "TIFF" for tif and
// tiff; "PNG"; "GIF" (compared without regard to case). 0, or E_INVALIDARG
// for a null or empty path, a null field, or any other extension.
HRESULT SetFormatName(const char* path, char* field);

}  // namespace veltora

#endif  // VELTORA_PLUGIN_STILL_IMAGE_INFO_H_
