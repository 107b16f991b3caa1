// GIF through giflib (which reports errors by return value, no longjmp).
// Only the first frame is read: a still-picture plug-in shows one picture.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "imaging/codecs.h"

namespace veltora::imaging::codecs {
namespace {

struct MemoryInput {
  Bytes bytes;
  size_t pos = 0;
};

int ReadInput(GifFileType* gif, GifByteType* out, int n) {
  auto* input = static_cast<MemoryInput*>(gif->UserData);
  const size_t want = static_cast<size_t>(std::max(n, 0));
  const size_t got = std::min(want, input->bytes.size() - input->pos);
  std::memcpy(out, input->bytes.data() + input->pos, got);
  input->pos += got;
  return static_cast<int>(got);
}

int WriteOutput(GifFileType* gif, const GifByteType* bytes, int n) {
  auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
  try {
    out->insert(out->end(), bytes, bytes + n);
  } catch (...) {
    return 0;
  }
  return n;
}

struct DecoderCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};
using GifDecoder = std::unique_ptr<GifFileType, DecoderCloser>;

struct FirstFrame {
  int transparent = -1;  // index, or -1
  int screen_width = 0, screen_height = 0;
};

// Walks the records up to the first image descriptor (read into gif->Image),
// remembering a graphic control extension's transparent index.
int32_t FindFirstFrame(GifFileType* gif, FirstFrame* frame) {
  // Extensions are bounded by the input's length: each costs at least a byte.
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif, &type) == GIF_ERROR) return kErrorCorrupt;
    if (type == TERMINATE_RECORD_TYPE) return kErrorCorrupt;  // no picture at all
    if (type == IMAGE_DESC_RECORD_TYPE) {
      if (DGifGetImageDesc(gif) == GIF_ERROR) return kErrorCorrupt;
      break;
    }
    if (type != EXTENSION_RECORD_TYPE) return kErrorCorrupt;
    int code = 0;
    GifByteType* ext = nullptr;
    if (DGifGetExtension(gif, &code, &ext) == GIF_ERROR) return kErrorCorrupt;
    if (code == GRAPHICS_EXT_FUNC_CODE && ext != nullptr && ext[0] >= 4 && (ext[1] & 1) != 0) {
      frame->transparent = ext[4];
    }
    while (ext != nullptr) {
      if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR) return kErrorCorrupt;
    }
  }
  const GifImageDesc& image = gif->Image;
  if (image.Width < 1 || image.Height < 1) return kErrorCorrupt;
  frame->screen_width = gif->SWidth > 0 ? gif->SWidth : image.Left + image.Width;
  frame->screen_height = gif->SHeight > 0 ? gif->SHeight : image.Top + image.Height;
  if (const int32_t r = CheckDecodedSize(frame->screen_width, frame->screen_height); r != 1) return r;
  if (const int32_t r = CheckDecodedSize(image.Width, image.Height); r != 1) return r;
  if (image.ColorMap == nullptr && gif->SColorMap == nullptr) return kErrorCorrupt;
  return 1;
}

// The frame's LZW codes are at least 3 bits long (a minimum code size of 2)
// and none stands for more than 4096 pixels, so the bytes left behind the
// image descriptor bound the pixels the file can still hold. A frame or a
// screen declaring more was cut short or lies: refused before the screen is
// allocated (a 35-byte file declaring an 11585 x 11585 screen over a 1 x 1
// frame would otherwise cost 383 MiB). A frame cut within the bound still
// shows what it holds.
bool DataCanFill(int width, int height, uint64_t bytes_left) {
  constexpr uint64_t kMinCodeBits = 3, kMaxPixelsPerCode = 4096;
  const uint64_t codes = bytes_left * 8 / kMinCodeBits + 1;
  return static_cast<uint64_t>(width) * static_cast<uint64_t>(height) <= codes * kMaxPixelsPerCode;
}

GifDecoder Open(MemoryInput* input) {
  int error = 0;
  return GifDecoder(DGifOpen(input, ReadInput, &error));
}

// The frame's colours, and white for transparent pixels and the screen the
// frame leaves uncovered (`covers` false): the transparent entry `*white`
// itself, else a spare entry, else the whitest one; `*white` says which.
Palette FramePalette(const ColorMapObject& map, bool covers, int* white) {
  Palette palette(256);
  const int colours = std::clamp(map.ColorCount, 0, 256);
  for (int i = 0; i < colours; ++i) {
    const GifColorType& c = map.Colors[i];
    palette[static_cast<size_t>(i)] = RgbQuad{c.Blue, c.Green, c.Red, 0};
  }
  if (*white >= 0 && *white < 256) {
    palette[static_cast<size_t>(*white)] = RgbQuad{255, 255, 255, 0};
  } else if (!covers && colours < 256) {
    *white = colours;
    palette[static_cast<size_t>(*white)] = RgbQuad{255, 255, 255, 0};
  } else {
    *white = NearestPaletteIndex(palette, 0xFFFFFF);
  }
  return palette;
}

}  // namespace

bool IsGif(Bytes bytes) {
  return bytes.size() >= 6 && (std::memcmp(bytes.data(), "GIF87a", 6) == 0 || std::memcmp(bytes.data(), "GIF89a", 6) == 0);
}

int32_t QueryGif(Bytes bytes, FileInformation* info) {
  MemoryInput input{bytes};
  GifDecoder gif = Open(&input);
  if (!gif) return kErrorCorrupt;
  FirstFrame frame;
  if (const int32_t r = FindFirstFrame(gif.get(), &frame); r != 1) return r;
  info->format = kSaveGif;
  info->width = frame.screen_width;
  info->height = frame.screen_height;
  info->bits_per_pixel = 8;
  info->decoded_size = int64_t{frame.screen_width} * frame.screen_height;
  std::memcpy(info->compression, "LZW", 4);
  info->view_perspective = kViewTopLeft;
  return 1;
}

// At 8 bits the frame's indices go into the screen as they are; asked for
// 24 bits, each line is turned into colours on its way into the one buffer,
// so a large screen is never held twice.
int32_t DecodeGif(Bytes bytes, const DecodeRequest& request, Bitmap* out) {
  MemoryInput input{bytes};
  GifDecoder gif = Open(&input);
  if (!gif) return kErrorCorrupt;
  FirstFrame frame;
  if (const int32_t r = FindFirstFrame(gif.get(), &frame); r != 1) return r;
  const GifImageDesc image = gif->Image;
  const uint64_t bytes_left = bytes.size() - input.pos;
  if (!DataCanFill(image.Width, image.Height, bytes_left) ||
      !DataCanFill(frame.screen_width, frame.screen_height, bytes_left)) {
    return kErrorCorrupt;
  }
  const ColorMapObject* map = image.ColorMap != nullptr ? image.ColorMap : gif->SColorMap;
  const int colours = std::clamp(map->ColorCount, 0, 256);
  const bool covers = image.Left == 0 && image.Top == 0 && image.Width >= frame.screen_width &&
                      image.Height >= frame.screen_height;
  int white = frame.transparent;
  const Palette palette = FramePalette(*map, covers, &white);
  const bool direct = request.bits == 24;
  if (const int32_t r = CreateBitmap(out, frame.screen_width, frame.screen_height, direct ? 24 : 8,
                                     request.memory_kind);
      r != 1) {
    return r;
  }
  const size_t bpp = direct ? 3 : 1;
  auto store = [&palette, direct](uint8_t* d, int index) {
    if (!direct) {
      *d = static_cast<uint8_t>(index);
      return;
    }
    const RgbQuad& q = palette[static_cast<size_t>(index)];
    d[0] = q.blue;
    d[1] = q.green;
    d[2] = q.red;
  };
  uint8_t* first = out->Row(0);
  for (int32_t x = 0; x < out->width; ++x) store(first + static_cast<size_t>(x) * bpp, white);
  for (int32_t y = 1; y < out->height; ++y) std::memcpy(out->Row(y), first, out->stride);
  if (!direct) out->palette = palette;

  std::vector<GifPixelType> line(static_cast<size_t>(image.Width));
  // Interlaced frames deliver rows in four passes.
  static constexpr int kPassStart[4] = {0, 4, 2, 1}, kPassStep[4] = {8, 8, 4, 2};
  const int passes = image.Interlace ? 4 : 1;
  for (int pass = 0; pass < passes; ++pass) {
    const int start = image.Interlace ? kPassStart[pass] : 0, step = image.Interlace ? kPassStep[pass] : 1;
    for (int row = start; row < image.Height; row += step) {
      if (DGifGetLine(gif.get(), line.data(), image.Width) == GIF_ERROR) {
        // A truncated frame keeps what was decoded, as viewers show it.
        return 1;
      }
      const int64_t y = int64_t{image.Top} + row;
      if (y < 0 || y >= frame.screen_height) continue;
      uint8_t* d = out->Row(static_cast<int32_t>(y));
      for (int x = 0; x < image.Width; ++x) {
        const int64_t sx = int64_t{image.Left} + x;
        if (sx < 0 || sx >= frame.screen_width) continue;
        const int index = line[static_cast<size_t>(x)];
        store(d + static_cast<size_t>(sx) * bpp, index == frame.transparent || index >= colours ? white : index);
      }
    }
  }
  return 1;
}

int32_t EncodeGif(const Bitmap& bitmap, std::vector<uint8_t>* out) {
  if (bitmap.bits_per_pixel != 8 || bitmap.palette.size() != 256) return kErrorUnsupported;
  GifColorType colours[256];
  for (size_t i = 0; i < 256; ++i) {
    colours[i] = GifColorType{bitmap.palette[i].red, bitmap.palette[i].green, bitmap.palette[i].blue};
  }
  ColorMapObject* map = GifMakeMapObject(256, colours);
  if (map == nullptr) return kErrorNoMemory;
  int error = 0;
  GifFileType* gif = EGifOpen(out, WriteOutput, &error);
  bool ok = gif != nullptr &&
            EGifPutScreenDesc(gif, bitmap.width, bitmap.height, 8, 0, map) != GIF_ERROR &&
            EGifPutImageDesc(gif, 0, 0, bitmap.width, bitmap.height, false, nullptr) != GIF_ERROR;
  std::vector<GifPixelType> line(static_cast<size_t>(bitmap.width));
  for (int32_t y = 0; ok && y < bitmap.height; ++y) {
    std::memcpy(line.data(), bitmap.Row(y), line.size());
    ok = EGifPutLine(gif, line.data(), bitmap.width) != GIF_ERROR;
  }
  if (gif != nullptr && EGifCloseFile(gif, &error) == GIF_ERROR) ok = false;
  GifFreeMapObject(map);
  return ok ? 1 : kErrorEncode;
}

}  // namespace veltora::imaging::codecs
