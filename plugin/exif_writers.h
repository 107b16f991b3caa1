// The EXIF writers Encode routes to. Encode lives in the top layer so that it
// can call them directly: the imaging layer never links the EXIF editor or
// builder. ENCODE_NEW_EXIF_FILE goes to plugin/new_exif_file.h.
//
// Not linked into this build yet: returns E_FAIL and touches no file.
#ifndef VELTORA_PLUGIN_EXIF_WRITERS_H_
#define VELTORA_PLUGIN_EXIF_WRITERS_H_

#include <cstdint>

#include "plugin/veltora.h"

namespace veltora {

// ENCODE_EXIF with records on a JPEG path: the JPEG written with an EXIF block
// built from the host's record list (never null here).
HRESULT EncodeJpegWithExif(HGLOBAL dib, const char* path, int32_t quality, void* records);

}  // namespace veltora

#endif  // VELTORA_PLUGIN_EXIF_WRITERS_H_
