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

// A TIFF (RGB 8x8, ExifVersion) whose IFD0 lists one 4x4 sub-image
// (SubIFDs): its directory lies in the metadata block, its one 48-byte strip
// (`strip`) behind the main image's strips, outside the block.
std::vector<uint8_t> TiffWithSubImage(Endian order, std::vector<uint8_t>* strip);
// Whether the sub-image strip that exiftool finds in `file` holds `strip`.
bool SubImageStripIs(const std::filesystem::path& file, const std::vector<uint8_t>& strip);

}  // namespace veltora::testing

#endif  // VELTORA_TESTS_EDIT_EDIT_TEST_SUPPORT_H_
