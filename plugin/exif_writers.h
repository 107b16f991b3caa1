// The EXIF writers Encode routes to. Encode lives in the top layer so that it
// can call them directly: the imaging layer never links the EXIF editor or
// builder.
//
// EncodeNewExifFile is not linked into this build yet: it returns E_FAIL and
// touches no file.
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
// built from the host's record list (never null here), defined in
// jpeg_exif_encode.cpp. The main image goes through the fixed temp file
// "__TMP__.003", the result through a "PIC" file copied over the target
// (build-then-copy; an existing target is put back when the copy fails).
// S_OK; E_INVALIDARG for a null DIB or an empty path; the JPEG writer's
// negative result; E_FAIL when the DIB cannot be converted, the encoded file
// cannot be read, the block cannot be built (the thumbnail included) or the
// encoded file has no image marker behind its application segments;
// MapWriteError codes when the result file cannot be created or written;
// MapWin32Error codes when the copy over the target fails.
HRESULT EncodeJpegWithExif(HGLOBAL dib, const char* path, int32_t quality, void* records);

}  // namespace veltora

#endif  // VELTORA_PLUGIN_EXIF_WRITERS_H_
