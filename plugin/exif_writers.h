// The EXIF writers Encode routes to. Encode lives in the top layer so that it
// can call them directly: the imaging layer never links the EXIF editor or
// builder.
//
// Not linked into this build yet: both return E_FAIL and touch no file.
#ifndef VELTORA_PLUGIN_EXIF_WRITERS_H_
#define VELTORA_PLUGIN_EXIF_WRITERS_H_

#include <cstdint>

#include "plugin/veltora.h"

namespace veltora {

// ENCODE_NEW_EXIF_FILE: the whole call (flags as completed by Encode's
// extension step). `host_data` is what the host passed, unread by Encode.
HRESULT EncodeNewExifFile(const char* path, uint32_t flags, HGLOBAL dib, int32_t quality,
                          void* host_data);

// ENCODE_EXIF with records on a JPEG path: the JPEG written with an EXIF block
// built from the host's record list (never null here).
HRESULT EncodeJpegWithExif(HGLOBAL dib, const char* path, int32_t quality, void* records);

}  // namespace veltora

#endif  // VELTORA_PLUGIN_EXIF_WRITERS_H_
