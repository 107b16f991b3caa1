// Writing an edited TIFF block into a file: the two layouts of a rebuilt
// file (JPEG: a new APP1 replaces every APP0/APP1 of the source; TIFF: the
// block heads the file and the image data follows it), the DateTime stamp
// every write of an edited file carries, and the guarded writes on top of
// frame/safe_replace.h.
#ifndef VELTORA_EDIT_REBUILT_OUTPUT_H_
#define VELTORA_EDIT_REBUILT_OUTPUT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <span>
#include <vector>

#include "edit/exif_editor.h"
#include "frame/veltora.h"
#include "platform/file.h"

namespace veltora::edit {

// The largest APP1 segment: its 16-bit length field counts itself, the
// "Exif\0\0" identifier, the block and the thumbnail.
inline constexpr uint32_t kMaxSegmentLength = 0xFFFF;
inline constexpr uint32_t kApp1Overhead = 8;  // length field + "Exif\0\0"

// Win32 codes the layouts return besides those of the file calls.
inline constexpr uint32_t kErrorInvalidData = 13;    // APP1 too large, no image data
inline constexpr uint32_t kErrorNotEnoughMemory = 8;  // no copy buffer

// Output: SOI, the new APP1 (block + thumbnail bytes), then every segment of
// `in` except APP0 and APP1, in order, and everything from SOS on byte for
// byte. Returns 0 or a Win32 code; 13 (nothing written) when the APP1 would
// exceed 65535 bytes.
uint32_t WriteJpegLayout(const ExifEditor& editor, platform::File& out, platform::File& in);
// Output: the block at 0, the held thumbnail at the IFD1 position, the image
// data (one contiguous run from the first strip to the end of the last) at
// the IFD0 position, then what IFD0's sub-images have outside the pinned
// block and the main image (directories, values, image data), each offset
// repointed (sub_image_data.h; read from the edited file also when `in` is a
// new main picture). 13 when there is no image data to copy or `in` ends
// before it does.
uint32_t WriteTiffLayout(ExifEditor& editor, platform::File& out, platform::File& in);

// The same layouts over memory (the fuzzer, tests): `in` is the whole source
// file, `out` receives the new one.
uint32_t WriteJpegLayout(const ExifEditor& editor, std::span<const uint8_t> in,
                         std::vector<uint8_t>* out);
uint32_t WriteTiffLayout(ExifEditor& editor, std::span<const uint8_t> in,
                         std::vector<uint8_t>* out);

// `time` as the 19 characters "YYYY:MM:DD HH:MM:SS" (without the NUL);
// nullopt when a field does not fit its digits.
std::optional<std::string> DateText(const SYSTEMTIME& time);

// Writes `now` as "YYYY:MM:DD HH:MM:SS" and its NUL over IFD0's DateTime in
// `block`, keeping the template's separators. Only an ASCII DateTime of
// count exactly 20 whose 20 bytes lie inside the block is stamped; anything
// else is left alone and no tag is added (absent).
Outcome StampDateTime(std::span<uint8_t> block, bytes::ByteOrder order, uint32_t ifd0_offset,
                  const SYSTEMTIME& now);
// The stamp with the current local time on the work block.
void StampDateTime(ExifEditor& editor);

// The rebuild's guarded write: WriteResultFile with the TIFF layout for a
// bare TIFF source and the JPEG layout otherwise.
HRESULT WriteEditedFile(ExifEditor& editor, const char* target);

// Writes `patched`, a patched copy of the reader's loaded block, back over
// the reader's own file (no backup): the one span from the first to the last
// byte that differs from the block as it was read, at its place. 0, E_FAIL
// without a loaded block or when `patched` is not the same size, or
// WriteBlockInPlace's code. With `open_file`, the file the reader reads
// through, opened for reading and writing, the write goes through it.
[[nodiscard]] HRESULT WriteLoadedBlockInPlace(const exif::ExifReader& reader,
                                              std::span<const uint8_t> patched,
                                              platform::File* open_file = nullptr);

// Copies the reader's source file to `target` (backing an existing target up
// first) and writes `patched` (its block, patched) into the copy. E_FAIL
// without a block; a failure after the copy puts the backup back. Every
// temporary file is gone on return.
HRESULT CopyAndPatch(const exif::ExifReader& reader, std::span<const uint8_t> patched,
                     const char* target);

}  // namespace veltora::edit

#endif  // VELTORA_EDIT_REBUILT_OUTPUT_H_
