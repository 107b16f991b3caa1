// The record parser: the TIFF structure of a file's EXIF data turned into the
// attribute records of an ImageInfoList. TiffInfo for IFD0 (INFO_TIFF_MAIN)
// and IFD1 (INFO_TIFF_THUMB), ExifInfo for the EXIF and Interoperability
// directories (INFO_EXIF), GpsInfo for the GPS directory (INFO_GPS). Every
// tag the record tables (interface/record_fields.h) list is read into its
// field and sets its presence bit; other tags are ignored.
//
// Directories are walked once each, never followed along a chain: IFD0, the
// IFD1 it links to, and the EXIF, GPS and Interoperability directories that
// IFD0 and the EXIF directory point to. No input can make the parse loop.
//
// The parse sets the module's current byte order from the block's header and
// leaves it so (exif/current_byte_order.h): calls must not overlap.
#ifndef VELTORA_INFO_RECORD_PARSER_H_
#define VELTORA_INFO_RECORD_PARSER_H_

#include <cstdint>

#include "bytes/byte_view.h"
#include "exif/outcome.h"
#include "interface/host_types.h"
#include "interface/result_codes.h"

namespace veltora::info {

// The records one directory walk may fill; any of them may be absent.
struct ParseContext {
  TiffInfo* tiff = nullptr;
  ExifInfo* exif = nullptr;
  GpsInfo* gps = nullptr;
};

// Parses the `size` bytes of TIFF data at `block` (from the TIFF header on;
// every offset counts from its first byte) into new records for the bits of
// `flags`: 0x10000 TiffInfo of IFD0, 0x20000 TiffInfo of IFD1 (none when the
// file has no IFD1), 0x40000 ExifInfo, 0x80000 GpsInfo. Appends them to
// `list` in the order TiffMain, Exif, Gps, TiffThumb, even those the file
// had nothing for (masks 0), and returns S_OK. E_INVALIDARG for a null block
// or list or no bit of 0x000F000F; E_FAIL (nothing appended, every record
// made here freed) for a bad byte-order mark or magic, an IFD0 offset below
// 8, or IFD0 or IFD1 outside the block. Throws std::bad_alloc (nothing
// appended) when memory is short.
[[nodiscard]] HRESULT ParseTiffBlock(const uint8_t* block, uint32_t size, ImageInfoList* list,
                                     uint32_t flags);

// Walks the directory at `ifd_offset` into the context's records: IFD
// attributes into `tiff`, the EXIF and GPS directories it points to into
// `exif` and `gps` (a pointer whose record is absent or whose directory lies
// outside the block is not followed; a followed one sets the TiffInfo's
// "read" bit). Returns the position of the directory's next-directory link,
// or -1 when the count or the entries pass the end of the block.
[[nodiscard]] int64_t ParseIfd(bytes::ByteView block, uint32_t ifd_offset, const ParseContext& context);

// The sub-directories: `count` entries from `first_entry`; done when walked,
// refused when the record is null. ParseExifIfd follows the
// Interoperability pointer into ParseInteropIfd, which sets EXIF_H_INTEROP_IFD.
exif::Outcome ParseExifIfd(ExifInfo* record, uint16_t count, bytes::ByteView block, uint64_t first_entry);
exif::Outcome ParseGpsIfd(GpsInfo* record, uint16_t count, bytes::ByteView block, uint64_t first_entry);
exif::Outcome ParseInteropIfd(ExifInfo* record, uint16_t count, bytes::ByteView block,
                              uint64_t first_entry);

}  // namespace veltora::info

#endif  // VELTORA_INFO_RECORD_PARSER_H_
