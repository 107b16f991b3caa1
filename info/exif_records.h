// A file's EXIF data as attribute records: the file-level half of the record
// parser (record_parser.h does the TIFF structure).
#ifndef VELTORA_INFO_EXIF_RECORDS_H_
#define VELTORA_INFO_EXIF_RECORDS_H_

#include <cstdint>
#include <span>

#include "interface/host_types.h"
#include "interface/result_codes.h"

namespace veltora::info {

// Appends to `list` the records that `flags` asks for (record_parser.h),
// parsed from the file at `path`. E_INVALIDARG for a null or empty path, a
// null list or no bit of 0x000F000F; E_NOTEXIF when the file carries no EXIF
// data by the test of IsExifFile (which a file with an APP0 segment fails,
// and any file that is not JPEG or TIFF by its extension); E_FAIL, nothing
// appended, when the file cannot be read, a JPEG has no APP1 segment or its
// first one holds no EXIF data, or the TIFF structure is refused. A JPEG is
// parsed from its first APP1 segment, a TIFF file from its first byte.
[[nodiscard]] HRESULT CollectExifRecords(const char* path, ImageInfoList* list, uint32_t flags);

// Parses one APP1 segment, from its marker on: FF E1, the length, "Exif" at
// offset 4, and the TIFF data from offset 10 for the segment length less 8
// (taken as a 16-bit size) or up to the end of `segment`, whichever is less.
// E_INVALIDARG as above for a null segment; E_FAIL for a segment that is not
// an EXIF APP1; otherwise the result of ParseTiffBlock.
[[nodiscard]] HRESULT ParseExifSegment(std::span<const uint8_t> segment, ImageInfoList* list,
                                       uint32_t flags);

}  // namespace veltora::info

#endif  // VELTORA_INFO_EXIF_RECORDS_H_
