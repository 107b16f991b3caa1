// Why a JPEG that does hold EXIF data is "not EXIF" to the plug-in. The
// plug-in counts a JPEG as an EXIF file only when it has no APP0 segment
// (JFIF, JFXX, ...) at all and its last APP1 segment holds the EXIF data;
// many files fail one of these while carrying perfectly good EXIF data, and
// a bare E_NOTEXIF would leave their users puzzled.
#ifndef VELTORA_HOST_NOT_EXIF_HINT_H_
#define VELTORA_HOST_NOT_EXIF_HINT_H_

#include <optional>
#include <string>

#include "host/input_files.h"

namespace veltora::host {

// For a JPEG whose EXIF data the plug-in does not take: where the data is and
// why it was not taken (label "JFIF" or "APP1 behind EXIF"), or nullopt when
// the file has no EXIF APP1 segment, or is not a regular JPEG file (never
// opened then, so a FIFO cannot block).
std::optional<Cause> NotExifHint(const std::string& path);

}  // namespace veltora::host

#endif  // VELTORA_HOST_NOT_EXIF_HINT_H_
