// Encode with ENCODE_NEW_EXIF_FILE: the host picture saved with a complete
// EXIF block built from the host's text record (and GPS set).
#ifndef VELTORA_PLUGIN_NEW_EXIF_FILE_H_
#define VELTORA_PLUGIN_NEW_EXIF_FILE_H_

#include <cstdint>

#include "frame/veltora.h"

namespace veltora {

// The whole call once Encode has checked the path and the DIB, probed the
// target's directory and completed the flags. `host_data` is an
// ImageTextInfo (or null: no texts) with ENCODE_NEW_EXIF_FILE alone, an
// EncodeExifData with ENCODE_NEW_EXIF_GPS as well (null is refused with
// E_INVALIDARG). The picture is saved as JPEG or TIFF by the flags. Returns
// S_OK, E_INVALIDARG, a saver's failure, E_FAIL when the block cannot be
// built, or the write's result; the target is replaced safely and no
// temporary file survives.
HRESULT EncodeWithExif(const char* path, uint32_t flags, HGLOBAL dib, int32_t quality,
                       void* host_data);

}  // namespace veltora

#endif  // VELTORA_PLUGIN_NEW_EXIF_FILE_H_
