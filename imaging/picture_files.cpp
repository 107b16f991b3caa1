#include "imaging/picture_files.h"

#include <new>

#include "imaging/codecs.h"
#include "platform/file.h"
#include "platform/win32_error.h"

namespace veltora::imaging {
namespace {

using codecs::Bytes;

struct Codec {
  bool (*is)(Bytes);
  int32_t (*query)(Bytes, FileInformation*);
  int32_t (*decode)(Bytes, const codecs::DecodeRequest&, Bitmap*);
};

const Codec* FindCodec(Bytes bytes) {
  static constexpr Codec kCodecs[] = {
      {codecs::IsJpeg, codecs::QueryJpeg, codecs::DecodeJpeg},
      {codecs::IsPng, codecs::QueryPng, codecs::DecodePng},
      {codecs::IsGif, codecs::QueryGif, codecs::DecodeGif},
      {codecs::IsTiff, codecs::QueryTiff, codecs::DecodeTiff},
      {codecs::IsBmp, codecs::QueryBmp, codecs::DecodeBmp},
  };
  for (const Codec& codec : kCodecs) {
    if (codec.is(bytes)) return &codec;
  }
  return nullptr;
}

}  // namespace

int32_t ReadPictureFile(const char* path, std::vector<uint8_t>* out) {
  if (path == nullptr || *path == '\0') return kErrorInvalidArgument;
  platform::File file;
  if (platform::File::Open(path, platform::File::Access::kRead, &file) != 0) return kErrorFileOpen;
  switch (file.ReadAll(out, kMaxFileBytes)) {
    case platform::kErrorSuccess:
      return 1;
    case platform::kErrorFileTooLarge:
      return kErrorTooLarge;
    case platform::kErrorNotEnoughMemory:
      return kErrorNoMemory;
    default:
      return kErrorFileRead;
  }
}

namespace {

int32_t WriteWhole(const char* path, const std::vector<uint8_t>& bytes) {
  platform::File file;
  if (platform::File::Open(path, platform::File::Access::kCreateAlways, &file) != 0) return kErrorFileOpen;
  if (file.Write(bytes.data(), bytes.size()) != 0) return kErrorFileWrite;
  if (file.Close() != 0) return kErrorFileWrite;
  return 1;
}

}  // namespace

int32_t QueryMemory(std::span<const uint8_t> bytes, FileInformation* info) {
  if (info == nullptr) return kErrorInvalidArgument;
  const Codec* codec = FindCodec(bytes);
  if (codec == nullptr) return kErrorUnknownFormat;
  FileInformation found;
  found.file_size = static_cast<int64_t>(bytes.size());
  if (const int32_t r = codec->query(bytes, &found); r != 1) return r;
  *info = found;
  return 1;
}

int32_t QueryFile(const char* path, FileInformation* info) {
  if (info == nullptr) return kErrorInvalidArgument;
  std::vector<uint8_t> bytes;
  if (const int32_t r = ReadPictureFile(path, &bytes); r != 1) return r;
  return QueryMemory(bytes, info);
}

int32_t LoadMemory(std::span<const uint8_t> bytes, Bitmap* bitmap, int32_t bits, int32_t order, int32_t memory_kind) {
  if (bitmap == nullptr || order != kOrderBgr || (bits != 0 && !IsSupportedDepth(bits))) {
    return kErrorInvalidArgument;
  }
  FreeBitmap(bitmap);
  const Codec* codec = FindCodec(bytes);
  if (codec == nullptr) return kErrorUnknownFormat;
  try {
    Bitmap decoded;
    if (const int32_t r = codec->decode(bytes, {bits, memory_kind}, &decoded); r != 1) return r;
    decoded.view_perspective = kViewTopLeft;
    decoded.order = kOrderBgr;
    if (bits != 0 && bits != decoded.bits_per_pixel) {
      if (const int32_t r = ChangeBitDepth(&decoded, decoded, bits); r != 1) return r;
    }
    *bitmap = std::move(decoded);
  } catch (const std::bad_alloc&) {
    return kErrorNoMemory;
  }
  return 1;
}

int32_t LoadFile(const char* path, Bitmap* bitmap, int32_t bits, int32_t order, FileInformation* info,
                 int32_t memory_kind) {
  if (bitmap == nullptr) return kErrorInvalidArgument;
  FreeBitmap(bitmap);
  std::vector<uint8_t> bytes;
  if (const int32_t r = ReadPictureFile(path, &bytes); r != 1) return r;
  if (info != nullptr) {
    if (const int32_t r = QueryMemory(bytes, info); r != 1) return r;
  }
  return LoadMemory(bytes, bitmap, bits, order, memory_kind);
}

int32_t EncodeFile(const Bitmap& bitmap, int32_t format, int32_t bits, std::vector<uint8_t>* out) {
  if (out == nullptr || !IsSupportedDepth(bits)) return kErrorInvalidArgument;
  if (!bitmap.HoldsImage()) return kErrorNoImage;
  try {
    if (format == kSaveGif && bits != 8) return kErrorUnsupported;  // GIF is written at 8 bits only
    Bitmap converted;
    const Bitmap* source = &bitmap;
    if (bitmap.bits_per_pixel != bits) {
      if (const int32_t r = ChangeBitDepth(&converted, bitmap, bits); r != 1) return r;
      source = &converted;
    }
    switch (format) {
      case kSaveBmp: return codecs::EncodeBmp(*source, out);
      case kSavePng: return codecs::EncodePng(*source, out);
      case kSaveTiff: return codecs::EncodeTiff(*source, out);
      case kSaveGif: return codecs::EncodeGif(*source, out);
      default: return kErrorInvalidArgument;
    }
  } catch (const std::bad_alloc&) {
    return kErrorNoMemory;
  }
}

int32_t SaveFile(const char* path, const Bitmap& bitmap, int32_t format, int32_t bits) {
  if (path == nullptr || *path == '\0') return kErrorInvalidArgument;
  std::vector<uint8_t> bytes;
  if (const int32_t r = EncodeFile(bitmap, format, bits, &bytes); r != 1) return r;
  return WriteWhole(path, bytes);
}

}  // namespace veltora::imaging
