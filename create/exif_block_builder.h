// The EXIF block builder: a complete APP1 segment ("Exif\0\0" and a new
// little-endian TIFF structure) laid out from a host's ImageInfoList.
//
// Nothing is defaulted: an attribute whose presence bit is clear is not
// written, and every written value comes from its record field. Only offsets,
// pointer values and the thumbnail with its offset and length are computed.
// The structure, each part starting where the previous one ends:
//   header "II", 42, IFD0 at 8;
//   IFD0 (INFO_TIFF_MAIN) and its values;
//   the EXIF sub-IFD (INFO_EXIF), written even when no pointer leads to it;
//   the Interoperability IFD (the same record's interoperability fields),
//   likewise always written;
//   the GPS IFD (INFO_GPS), only when one of its two mask words is set;
//   IFD1 (INFO_TIFF_THUMB) and the thumbnail stream, only with that record.
// Values go through the one directory writer with the built-block padding
// (edit/directory_writer.h).
#ifndef VELTORA_CREATE_EXIF_BLOCK_BUILDER_H_
#define VELTORA_CREATE_EXIF_BLOCK_BUILDER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "interface/host_types.h"

namespace veltora::create {

// The work buffer of a built or merged segment: marker, length field,
// "Exif\0\0" (10 bytes), then the TIFF structure.
inline constexpr size_t kSegmentBufferSize = 65536;
inline constexpr size_t kSegmentHeadSize = 10;
// The most TIFF bytes (thumbnail included) a built segment may hold.
inline constexpr size_t kMaxBuiltTiffSize = kSegmentBufferSize - kSegmentHeadSize;

// Quality of the embedded thumbnail, whatever the main image's quality is.
inline constexpr int32_t kExifThumbnailQuality = 75;

// Makes the JPEG stream (without APP0) embedded behind IFD1. It is asked for
// only when the list holds an INFO_TIFF_THUMB record; false fails the build.
using ThumbnailMaker = std::function<bool(std::vector<uint8_t>* jpeg)>;

// The whole segment (2 + its length field bytes), or nullopt when the list
// has no INFO_TIFF_MAIN or no INFO_EXIF record, a record holds a text or
// array this block cannot describe (a negative length, elements missing), the
// thumbnail maker fails, or the TIFF structure would pass kMaxBuiltTiffSize.
// Of two records of one type, the one nearer the list's head is used.
std::optional<std::vector<uint8_t>> BuildExifSegment(const ImageInfoList* list,
                                                     const ThumbnailMaker& make_thumbnail);

}  // namespace veltora::create

#endif  // VELTORA_CREATE_EXIF_BLOCK_BUILDER_H_
