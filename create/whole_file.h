// Whole files in memory and the marker search over them, as AppendExif and
// JPEG encoding with EXIF use them.
#ifndef VELTORA_CREATE_WHOLE_FILE_H_
#define VELTORA_CREATE_WHOLE_FILE_H_

#include <cstdint>
#include <span>
#include <vector>

#include "frame/veltora.h"

namespace veltora::create {

// Reads the whole existing file at `path` into `bytes`. S_OK; E_INVALIDARG
// for a null or empty path or a null output; 0x8007000E when the buffer
// cannot be allocated; E_FAIL when fewer bytes than the file's size were
// read (`bytes` is then emptied); the mapped Win32 error when the file cannot
// be opened or its size read.
HRESULT ReadWholeFile(const char* path, std::vector<uint8_t>* bytes);

// Offset of the first segment whose marker is `code`, walking from offset 0
// (an SOI steps two bytes, every other marker by its length field); -1 when
// the walk meets EOI, start of scan, a cut segment or the end first. Asked
// for EOI, the search goes on behind a start of scan for the bytes FF D9.
int64_t FindJpegMarker(uint16_t code, std::span<const uint8_t> bytes);

// The JPEG stream `jpeg` without its APP0 segments: SOI, the other segments,
// the scan up to and including its FF D9. S_OK; E_FAIL when the stream ends
// before a scan or an EOI, or a segment runs past its end.
HRESULT CopyJpegWithoutApp0(std::span<const uint8_t> jpeg, std::vector<uint8_t>* out);

}  // namespace veltora::create

#endif  // VELTORA_CREATE_WHOLE_FILE_H_
