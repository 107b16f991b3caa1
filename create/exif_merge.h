// Merging a host's records into a JPEG's existing EXIF segment (AppendExif).
//
// The merge does not build a new structure. In each directory it visits
// (IFD0, the EXIF sub-IFD, the GPS IFD or else the Interoperability IFD, and
// IFD1) a record value of at most 4 bytes replaces the value of the entry
// with its tag when both are the same size, in place (with the record's type
// and count, so that it reads back as the record holds it); a record value of at
// most 4 bytes whose tag the directory lacks is inserted when the directory
// has an entry with a higher tag. Larger record values, texts, rationals and
// arrays are never written. Every visited directory's DateTime (stored out of
// line) receives the local time.
//
// Data first: the insertions go through the block editor (edit/exif_editor.h)
// and follow its one rule for data whose inner offsets cannot be followed.
// A segment holding a maker note, foreign directories or values of unknown
// types is pinned: no byte of it moves, and a directory that must grow is
// written anew behind everything else. Otherwise the bytes behind an
// insertion move and every offset that points at them moves with them. So no
// maker note is ever shifted away from the offsets inside it, and none is
// ever cut to count 0, whichever directory grows.
#ifndef VELTORA_CREATE_EXIF_MERGE_H_
#define VELTORA_CREATE_EXIF_MERGE_H_

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "bytes/byte_order.h"
#include "create/record_values.h"
#include "interface/host_types.h"

namespace veltora::create {

// The directories of a merge, named by the record type that feeds them;
// the Interoperability IFD has no record of its own.
inline constexpr uint32_t kMergeIfd0 = 0x00010000u;
inline constexpr uint32_t kMergeIfd1 = 0x00020000u;
inline constexpr uint32_t kMergeExif = 0x00040000u;
inline constexpr uint32_t kMergeGps = 0x00080000u;
inline constexpr uint32_t kMergeInterop = 0x00100000u;

// One record attribute ready for the merge: its value bytes already stored
// in the segment's byte order.
struct RecordEntry : FieldValue {
  uint16_t tag = 0;
};

// The attributes the merge takes from the first record of `kind` in the
// list, in ascending tag order; empty when there is none.
//   IFD0, IFD1: ImageWidth, ImageLength, Compression,
//     PhotometricInterpretation, Orientation, SamplesPerPixel,
//     RowsPerStrip, PlanarConfiguration, ResolutionUnit,
//     JPEGInterchangeFormat and its length, YCbCrPositioning, and the
//     print-matching data;
//   EXIF: its SHORT attributes, the sized pixel dimensions and its blobs;
//   GPS: GPSProcessingMethod (tag 40).
std::vector<RecordEntry> RecordEntries(const ImageInfoList* list, uint32_t kind,
                                       bytes::ByteOrder order);

struct MergedSegment {
  std::vector<uint8_t> bytes;  // the whole new segment, marker included
  uint16_t old_length = 0;     // the source segment's length field
  int32_t growth = 0;          // new length field less the old one
};

// Merges the list into the APP1 segment at the start of `app1` (which runs
// on to the end of the file). nullopt when the segment is not "Exif" with a
// valid TIFF header, a directory the segment points to does not lie inside
// it, or the merged segment would exceed 65536 bytes with its marker.
std::optional<MergedSegment> BuildMergedApp1(std::span<const uint8_t> app1,
                                             const ImageInfoList* list);

}  // namespace veltora::create

#endif  // VELTORA_CREATE_EXIF_MERGE_H_
