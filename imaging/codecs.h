// The per-format decoders and encoders behind picture_files.h. Each decoder
// reads only inside the bytes it is given, checks the size caps before it
// allocates, refuses (kErrorCorrupt) before it allocates a picture whose
// data is too short to fill what its header declares, and delivers its
// format's native bitmap or the requested depth (see picture_files.h).
#ifndef VELTORA_IMAGING_CODECS_H_
#define VELTORA_IMAGING_CODECS_H_

#include <cstdint>
#include <span>
#include <vector>

#include "imaging/bitmap.h"
#include "imaging/picture_files.h"

namespace veltora::imaging::codecs {

using Bytes = std::span<const uint8_t>;

// What a load asks of a decoder. A decoder that can deliver `bits` straight
// from its data does (no converted copy); otherwise it delivers its native
// depth and the load converts. Rows are allocated in `memory_kind`.
struct DecodeRequest {
  int32_t bits = 0;  // 0: the native depth
  int32_t memory_kind = kMemoryHeap;
};

bool IsJpeg(Bytes bytes);
bool IsPng(Bytes bytes);
bool IsGif(Bytes bytes);
bool IsTiff(Bytes bytes);
bool IsBmp(Bytes bytes);

// Queries fill everything in FileInformation but file_size.
int32_t QueryJpeg(Bytes bytes, FileInformation* info);
int32_t DecodeJpeg(Bytes bytes, const DecodeRequest& request, Bitmap* out);
int32_t QueryPng(Bytes bytes, FileInformation* info);
int32_t DecodePng(Bytes bytes, const DecodeRequest& request, Bitmap* out);
int32_t QueryGif(Bytes bytes, FileInformation* info);
int32_t DecodeGif(Bytes bytes, const DecodeRequest& request, Bitmap* out);
int32_t QueryTiff(Bytes bytes, FileInformation* info);
int32_t DecodeTiff(Bytes bytes, const DecodeRequest& request, Bitmap* out);
int32_t QueryBmp(Bytes bytes, FileInformation* info);
int32_t DecodeBmp(Bytes bytes, const DecodeRequest& request, Bitmap* out);

// Encoders take a bitmap already at a depth they write (the dispatcher
// converts first). They may throw std::bad_alloc.
int32_t EncodePng(const Bitmap& bitmap, std::vector<uint8_t>* out);
int32_t EncodeGif(const Bitmap& bitmap, std::vector<uint8_t>* out);
int32_t EncodeTiff(const Bitmap& bitmap, std::vector<uint8_t>* out);
int32_t EncodeBmp(const Bitmap& bitmap, std::vector<uint8_t>* out);

}  // namespace veltora::imaging::codecs

#endif  // VELTORA_IMAGING_CODECS_H_
