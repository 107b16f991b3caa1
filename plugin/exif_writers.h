// The EXIF writers Encode routes to. Encode lives in the top layer so that it
// can call them directly: the imaging layer never links the EXIF editor or
// builder. ENCODE_NEW_EXIF_FILE goes to plugin/new_exif_file.h, ENCODE_EXIF with
// records to EncodeJpegWithExif below (defined in jpeg_exif_encode.cpp).
#ifndef VELTORA_PLUGIN_EXIF_WRITERS_H_
#define VELTORA_PLUGIN_EXIF_WRITERS_H_

#include <cstdint>

#include "frame/veltora.h"

namespace veltora {

// ENCODE_EXIF with records on a JPEG path: the JPEG written with an EXIF block
// built from the host's record list (never null here), defined in
// jpeg_exif_encode.cpp. The main image goes through a "PRM" temp file of its
// own (never a fixed name, which calls side by side would share), the result
// replaces the target whole (safe_replace.h).
// S_OK; E_INVALIDARG for a null DIB or an empty path; the JPEG writer's
// negative result; E_FAIL when the DIB cannot be converted, the encoded file
// cannot be read, the block cannot be built (the thumbnail included) or the
// encoded file has no image marker behind its application segments;
// MapWriteError codes when the result file cannot be created or written;
// MapWin32Error codes when the copy over the target fails.
HRESULT EncodeJpegWithExif(HGLOBAL dib, const char* path, int32_t quality, void* records);

}  // namespace veltora

#endif  // VELTORA_PLUGIN_EXIF_WRITERS_H_
