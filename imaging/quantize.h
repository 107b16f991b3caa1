// Palette building for indexed depths (GIF saves, depth reductions).
#ifndef VELTORA_IMAGING_QUANTIZE_H_
#define VELTORA_IMAGING_QUANTIZE_H_

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "imaging/bitmap.h"

namespace veltora::imaging {

// A palette of at most `colours` entries (2..256) for a 24- or 32-bit bitmap
// (the fourth byte is ignored; callers flatten alpha first). When the picture
// has no more distinct colours than that, the palette holds exactly those
// colours; otherwise median cut over a 5-5-5 histogram, each box splitting
// along its widest channel at the pixel-count median, each entry the mean of
// the pixels in its box. The result is padded with black to `colours`.
Palette BuildPalette(const Bitmap& bitmap, int colours);

// Maps colours to their nearest palette entry through a 15-bit cache; exact
// palette colours always map to themselves.
class PaletteMapper {
 public:
  explicit PaletteMapper(const Palette& palette);
  uint8_t Map(uint8_t blue, uint8_t green, uint8_t red);

 private:
  const Palette& palette_;
  std::vector<int16_t> cache_;  // per 15-bit bin; -1 not computed, -2 see memo_
  // Bins holding a palette colour are answered per exact colour.
  std::unordered_map<uint32_t, uint8_t> memo_;
};

}  // namespace veltora::imaging

#endif  // VELTORA_IMAGING_QUANTIZE_H_
