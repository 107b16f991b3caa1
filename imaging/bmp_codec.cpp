// BMP files: a 14-byte file header in front of a packed DIB.
#include <cstring>

#include "bytes/byte_view.h"
#include "imaging/codecs.h"
#include "imaging/packed_dib.h"

namespace veltora::imaging::codecs {
namespace {

constexpr uint64_t kFileHeaderSize = 14;

// The rows' offset inside the DIB part, from bfOffBits; an offset pointing
// back into the headers is ignored (the rows then follow the colour table),
// since writers that leave it zero exist.
std::optional<uint64_t> RowsOffset(Bytes bytes) {
  const std::optional<uint32_t> off = bytes::ByteView(bytes, bytes::kLittleEndian).U32(10);
  if (!off || *off < kFileHeaderSize + 12) return std::nullopt;
  return *off - kFileHeaderSize;
}

}  // namespace

bool IsBmp(Bytes bytes) { return bytes.size() >= kFileHeaderSize && bytes[0] == 'B' && bytes[1] == 'M'; }

int32_t QueryBmp(Bytes bytes, FileInformation* info) {
  if (!IsBmp(bytes)) return kErrorCorrupt;
  return DecodePackedDib(bytes.subspan(kFileHeaderSize), DibRules::kFile, RowsOffset(bytes), nullptr, info);
}

int32_t DecodeBmp(Bytes bytes, const DecodeRequest& request, Bitmap* out) {
  if (!IsBmp(bytes)) return kErrorCorrupt;
  return DecodePackedDib(bytes.subspan(kFileHeaderSize), DibRules::kFile, RowsOffset(bytes), out, nullptr,
                         request.memory_kind);
}

int32_t EncodeBmp(const Bitmap& bitmap, std::vector<uint8_t>* out) {
  const std::vector<uint8_t> dib = EncodePackedDib(bitmap);
  const size_t table = IsIndexedDepth(bitmap.bits_per_pixel) ? size_t{4} << bitmap.bits_per_pixel : 0;
  const uint64_t total = kFileHeaderSize + dib.size();
  if (total > 0xFFFFFFFFu) return kErrorTooLarge;
  const uint32_t size = static_cast<uint32_t>(total);
  const uint32_t rows_at = static_cast<uint32_t>(kFileHeaderSize + kDibHeaderSize + table);
  const uint8_t header[kFileHeaderSize] = {'B', 'M', static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                                           static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 24),
                                           0, 0, 0, 0, static_cast<uint8_t>(rows_at),
                                           static_cast<uint8_t>(rows_at >> 8), static_cast<uint8_t>(rows_at >> 16),
                                           static_cast<uint8_t>(rows_at >> 24)};
  out->assign(header, header + kFileHeaderSize);
  out->insert(out->end(), dib.begin(), dib.end());
  return 1;
}

}  // namespace veltora::imaging::codecs
