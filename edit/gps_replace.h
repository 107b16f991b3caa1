// GPS replacement: the GPS directory of a file's EXIF block merged with,
// created from or removed by the host's GpsTagSet. The export
// (ReplaceExifGps) is declared in frame/veltora.h.
#ifndef VELTORA_EDIT_GPS_REPLACE_H_
#define VELTORA_EDIT_GPS_REPLACE_H_

#include <cstdint>
#include <optional>
#include <vector>

#include "edit/exif_editor.h"
#include "interface/host_types.h"

namespace veltora::edit {

// GPS versions and Exif versions as big-endian numbers of their 4 bytes.
inline constexpr uint32_t kGpsVersion20 = 0x02000000;
inline constexpr uint32_t kGpsVersion22 = 0x02020000;
inline constexpr uint32_t kExifVersion0210 = 0x30323130;  // "0210"

// ExifVersion of the work block's Exif IFD (4 bytes, big-endian); nullopt
// when the tag is missing or not 4 bytes.
std::optional<uint32_t> WorkBlockExifVersion(ExifEditor& editor);

// Overwrites the set's version from the file's Exif version: "0210" gives
// 2.0.0.0, "0220" and "0221" give 2.2.0.0, anything else keeps the set's.
void SetGpsVersionFromExif(GpsTagSet* set, uint32_t exif_version);

// Merges the set into `entries` (added or replacing by tag). GPSVersionID is
// always written: the larger of the directory's version (at least 2.0.0.0)
// and the set's. Below 2.2.0.0 the 2.2 tags (27, 28, 29) are not kept.
// Values longer than 4 bytes carry their bytes in `order`.
void BuildGpsEntries(std::vector<EntryEdit>* entries, const GpsTagSet& set,
                     bytes::ByteOrder order);

// Merge, removal or creation by the set.
Outcome ReplaceGps(ExifEditor& editor, GpsTagSet* set);
// A new GPS directory at the end of the block; IFD0's pointer is set to it.
Outcome AppendGpsIfd(ExifEditor& editor, GpsTagSet* set);
// Puts the source's IFD1 and thumbnail back at the end of a block that
// StartEdit made without them; absent when the source has none to put back.
Outcome ReattachSourceThumbnail(ExifEditor& editor);

}  // namespace veltora::edit

#endif  // VELTORA_EDIT_GPS_REPLACE_H_
