// Building directories from scratch at the end of an editor's work block:
// IFD0 and IFD1 from a picture file's own entries completed with the host's
// texts, the Exif and Interoperability directories, and the whole block of a
// freshly encoded picture. The same IFD1 builder gives an edited file its new
// thumbnail (thumbnail_replace.h).
#ifndef VELTORA_EDIT_IFD_BUILDER_H_
#define VELTORA_EDIT_IFD_BUILDER_H_

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "edit/directory_writer.h"
#include "edit/exif_editor.h"
#include "interface/host_types.h"

namespace veltora::edit {

// The host's ImageTextInfo as the builders read it: the texts copied out of
// the host's strings, the version as its 4 characters.
struct TextInfo {
  char version[4] = {'0', '1', '2', '0'};
  std::string description, make, model, software;
  SYSTEMTIME captureTime{};  // year 0: none
};

// The version characters read as a little-endian number, as the host record
// is compared ("0110" is below "0120", "0121" and "1120" above it).
uint32_t TextInfoVersion(const char version[4]);
inline constexpr uint32_t kTextInfoVersion0120 = 0x30323130;  // "0120"

// A picture file's own TIFF structure held in memory: the EXIF block of a
// JPEG, or a bare TIFF file whole (writers put its directory behind the
// strips, beyond what the reader loads as metadata). Empty for a file
// without one.
struct SourceTiff {
  std::vector<uint8_t> bytes;  // from the TIFF header on
  bytes::ByteOrder order = bytes::kLittleEndian;
  // The entries of IFD0 (kIfd0) or of the Exif IFD (kExifIfd) as items in
  // `to` order, without the `dropped` tags, sorted by tag; empty when absent.
  std::vector<DirectoryItem> Items(uint32_t code, bytes::ByteOrder to,
                                   std::span<const uint16_t> dropped) const;
};
// False when the file cannot be read; a file without TIFF structure gives
// true with no bytes.
[[nodiscard]] bool LoadSourceTiff(exif::ExifReader& reader, SourceTiff* out);

// Tags of a picture file's IFD0 that never pass to another file's directory:
// they number pages and sub-images of the file they come from.
inline constexpr uint16_t kFileOnlyTags[] = {254 /* NewSubfileType */, 297 /* PageNumber */};

// Fills the editor's thumbnail bytes from the thumbnail's reader, whose picture
// must be 160 x 120: a JPEG without its application segments, or the strip
// data of a TIFF. Refused (nothing held) for another size or a read failure.
Outcome LoadThumbnailBytes(ExifEditor& editor, exif::ExifReader& thumbnail);

// IFD0 (code kIfd0, from the editor's own source) or IFD1 (kIfd1, from the
// encoded thumbnail at editor.ThumbnailPicture(), whose bytes it loads when none are
// held), completed for the info and appended at the end of the block, linked
// from the header or from IFD0. `gps_pointer` adds GPSInfoIFDPointer to IFD0.
Outcome BuildIfd(ExifEditor& editor, uint32_t code, const TextInfo& info, bool gps_pointer);
// The Exif IFD at the end of the block, pointed at by IFD0.
Outcome BuildExifIfd(ExifEditor& editor, const TextInfo& info);
// A new Interoperability directory ("R98", version "0100" where absent) at
// the end of a JPEG's block; the Exif IFD must already hold the pointer.
Outcome AppendInteropIfd(ExifEditor& editor);

// A whole new block for the editor's source (a freshly encoded picture):
// header, IFD0, Exif IFD, the GPS IFD when `gps` is given, and with an
// encoded thumbnail (kept by the caller for the editor's life) the
// Interoperability IFD and IFD1. The info's version must be exactly "0120".
Outcome BuildExifBlock(ExifEditor& editor, std::span<const uint8_t> thumbnail, const TextInfo& info,
                   GpsTagSet* gps);

}  // namespace veltora::edit

#endif  // VELTORA_EDIT_IFD_BUILDER_H_
