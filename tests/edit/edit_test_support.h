// What the editing tests share: reading values back through the reader, and the corpus files the edits can be tried on.
#ifndef VELTORA_TESTS_EDIT_EDIT_TEST_SUPPORT_H_
#define VELTORA_TESTS_EDIT_EDIT_TEST_SUPPORT_H_

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "edit/exif_editor.h"
#include "exif/exif_reader.h"
#include "interface/host_types.h"
#include "tests/support/gps_set.h"
#include "tests/support/tiff_builder.h"

namespace veltora::testing {

// The value of `tag` in directory `code` of the file as the reader delivers
// it (machine order), nullopt when absent; "type/count:" prefixed so that a
// changed type or count also shows.
std::optional<std::string> ReadValue(const std::filesystem::path& file, uint32_t code,
                                     uint16_t tag);
// Every (code, tag) -> ReadValue of IFD0, Exif, GPS and IFD1, except the
// offsets that an edit moves (directory pointers, JPEGInterchangeFormat).
std::map<std::pair<uint32_t, uint16_t>, std::string> AllValues(const std::filesystem::path& file);
// Whether the file has an EXIF thumbnail and it decodes cleanly.
bool ThumbnailDecodes(const std::filesystem::path& file);

// Holds the reader of a FileEditor, so that it is built before the editor.
struct ReaderOfFile {
  exif::ExifReader reader;
};
// An editor with a reader of its own on `file` (its block loaded unless `load` is 0).
class FileEditor : private ReaderOfFile, public edit::ExifEditor {
 public:
  explicit FileEditor(const std::filesystem::path& file, uint32_t load = 1)
      : ReaderOfFile{{file.string().c_str(), load, 0}}, ExifEditor(reader) {}
};

// The block builders the tests start from: a camera-like JPEG block with
// DateTime (count 20), Orientation in IFD0 and IFD1, an Exif IFD with
// ExifVersion and DateTimeOriginal, and a JPEG thumbnail (IFD1 without
// Orientation when `orientation1` is 0).
TiffBuilder CameraBlock(Endian order, uint16_t orientation0 = 1, uint16_t orientation1 = 1,
                        const char* exif_version = "0220");

// A TIFF (RGB 8x8, ExifVersion) whose IFD0 lists 4x4 sub-images (SubIFDs),
// each with BitsPerSample and its strip arrays out of line and 48 bytes of
// strips behind the main image's strips, outside the block, laid out as
// named:
enum class SubImages : uint8_t {
  kInBlock,       // one whose directory lies in the block
  kBehindImage,   // one whose directory and values lie behind the main image
  kInImage,       // as kInBlock, with its strips inside the main image's
  kNested,        // one in the block whose own SubIFDs lists one behind the image
  kChained,       // one in the block whose next directory lies behind the image
  kLoop,          // as kChained, and the second's link and SubIFDs lead back to the first
  kShortOffsets,  // as kNested, with SHORT strip offsets and a SHORT nested SubIFDs
};
std::vector<uint8_t> TiffWithSubImages(Endian order, SubImages layout);
// exiftool's sub-image lines of `file` ("[SubIFD] ImageWidth: 4"), each
// strip's offset replaced by its bytes; empty without exiftool.
std::vector<std::string> SubImageView(const std::filesystem::path& file);

}  // namespace veltora::testing

#endif  // VELTORA_TESTS_EDIT_EDIT_TEST_SUPPORT_H_
