// Packed DIBs (BITMAPINFOHEADER, colour table, pixel rows), the exchange form
// with hosts, and the body of a BMP file.
#ifndef VELTORA_IMAGING_PACKED_DIB_H_
#define VELTORA_IMAGING_PACKED_DIB_H_

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "imaging/bitmap.h"
#include "imaging/picture_files.h"

namespace veltora::imaging {

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint32_t kBiBitfields = 3;
constexpr uint32_t kDibHeaderSize = 40;

// How the parts of a packed DIB are found.
//  kFile: as BMP files lay them out: the header may be a 12-byte core header
//    or a 40-byte or longer (V2 to V5) info header, the colour table has
//    biClrUsed entries (2^bits when 0).
//  kHost: as hosts hand DIBs over: the header is taken to be 40 bytes
//    whatever biSize says, biClrUsed is not looked at, the colour table has
//    2^bits entries below 16 bits and none otherwise; with BI_BITFIELDS three
//    masks follow the header.
enum class DibRules { kFile, kHost };

// Decodes a packed DIB held in `dib`. The rows start at `bits_offset` when
// given (a BMP file's bfOffBits, relative to `dib`), else right after the
// colour table. Negative heights are top-down rows. Every read stays inside
// `dib`; rows that do not fit are kErrorCorrupt. `info` (optional) receives
// what QueryFile would report, `out` (optional) the bitmap, its rows in
// `memory_kind`.
int32_t DecodePackedDib(std::span<const uint8_t> dib, DibRules rules, std::optional<uint64_t> bits_offset,
                        Bitmap* out, FileInformation* info, int32_t memory_kind = kMemoryHeap);

// Encodes a bitmap as a packed DIB: 40-byte header, bottom-up rows, a full
// colour table (2^bits entries) for indexed depths, biClrUsed 0, BI_RGB.
// Throws std::bad_alloc.
std::vector<uint8_t> EncodePackedDib(const Bitmap& bitmap);
// The same in two steps, for callers that own the memory: the byte count,
// then the bytes written to `out`, which must hold that many.
size_t PackedDibBytes(const Bitmap& bitmap);
void WritePackedDib(const Bitmap& bitmap, uint8_t* out);
// What comes in front of the rows: the header and the colour table, their
// size for a depth, and the bytes written to `out`.
size_t PackedDibFrontBytes(int32_t bits);
void WritePackedDibFront(const Bitmap& bitmap, uint8_t* out);

}  // namespace veltora::imaging

#endif  // VELTORA_IMAGING_PACKED_DIB_H_
