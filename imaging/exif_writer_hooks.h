// The two Encode branches that write EXIF data are served by the EXIF
// writers, which live outside the imaging layer. Encode reaches them only
// through these hooks, so that the imaging layer never links the EXIF
// editor or builder.
//
// EXIF writers not linked into this build: until a writer installs itself
// with SetExifWriters, both hooks return E_FAIL and write nothing.
#ifndef VELTORA_IMAGING_EXIF_WRITER_HOOKS_H_
#define VELTORA_IMAGING_EXIF_WRITER_HOOKS_H_

#include <cstdint>

#include "plugin/veltora.h"

namespace veltora::imaging {

struct ExifWriters {
  // ENCODE_NEW_EXIF_FILE: the whole call (flags as completed by Encode's
  // extension step). `host_data` is what the host passed, unread by Encode.
  HRESULT (*encode_new_exif_file)(const char* path, uint32_t flags, HGLOBAL dib, int32_t quality,
                                  void* host_data);
  // ENCODE_EXIF with records on a JPEG path: the JPEG written with an EXIF
  // block built from the host's record list (never null here).
  HRESULT (*encode_jpeg_with_exif)(HGLOBAL dib, const char* path, int32_t quality, void* records);
};

// The writers Encode calls now. Never null members.
const ExifWriters& CurrentExifWriters();

// Installs `writers` (members left null keep the E_FAIL stand-ins) and
// returns the previous set, so that a test can put it back. Not thread-safe:
// calls into the plug-in never overlap.
ExifWriters SetExifWriters(const ExifWriters& writers);

}  // namespace veltora::imaging

#endif  // VELTORA_IMAGING_EXIF_WRITER_HOOKS_H_
