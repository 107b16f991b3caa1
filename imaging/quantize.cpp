#include "imaging/quantize.h"

#include <algorithm>
#include <array>
#include <unordered_map>

namespace veltora::imaging {
namespace {

constexpr int kBins = 1 << 15;  // 5 bits per channel

int BinOf(uint8_t blue, uint8_t green, uint8_t red) {
  return ((red >> 3) << 10) | ((green >> 3) << 5) | (blue >> 3);
}

struct BinStats {
  uint64_t count = 0;
  uint64_t sum[3] = {0, 0, 0};  // blue, green, red
};

struct Box {
  std::vector<int> bins;
  uint64_t pixels = 0;
};

int Channel(int bin, int channel) {  // 0 blue, 1 green, 2 red; 5-bit value
  return (bin >> (5 * channel)) & 31;
}

// The widest channel of a box and its extent.
std::pair<int, int> WidestChannel(const Box& box) {
  int best = 0, best_extent = -1;
  for (int c = 0; c < 3; ++c) {
    int lo = 31, hi = 0;
    for (int bin : box.bins) {
      lo = std::min(lo, Channel(bin, c));
      hi = std::max(hi, Channel(bin, c));
    }
    if (hi - lo > best_extent) {
      best_extent = hi - lo;
      best = c;
    }
  }
  return {best, best_extent};
}

bool ExactColours(const Bitmap& bitmap, int limit, Palette* out) {
  std::unordered_map<uint32_t, int> seen;
  const size_t bpp = static_cast<size_t>(bitmap.bits_per_pixel / 8);
  for (int32_t y = 0; y < bitmap.height; ++y) {
    const uint8_t* row = bitmap.Row(y);
    for (int32_t x = 0; x < bitmap.width; ++x) {
      const uint8_t* p = row + static_cast<size_t>(x) * bpp;
      uint32_t key = p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16);
      if (seen.emplace(key, 0).second && static_cast<int>(seen.size()) > limit) return false;
    }
  }
  std::vector<uint32_t> keys;
  keys.reserve(seen.size());
  for (const auto& entry : seen) keys.push_back(entry.first);
  std::sort(keys.begin(), keys.end());  // deterministic order
  out->clear();
  for (uint32_t key : keys) {
    out->push_back(RgbQuad{static_cast<uint8_t>(key), static_cast<uint8_t>(key >> 8),
                           static_cast<uint8_t>(key >> 16), 0});
  }
  return true;
}

}  // namespace

Palette BuildPalette(const Bitmap& bitmap, int colours) {
  colours = std::clamp(colours, 2, 256);
  Palette palette;
  if (!ExactColours(bitmap, colours, &palette)) {
    std::vector<BinStats> stats(kBins);
    const size_t bpp = static_cast<size_t>(bitmap.bits_per_pixel / 8);
    for (int32_t y = 0; y < bitmap.height; ++y) {
      const uint8_t* row = bitmap.Row(y);
      for (int32_t x = 0; x < bitmap.width; ++x) {
        const uint8_t* p = row + static_cast<size_t>(x) * bpp;
        BinStats& s = stats[static_cast<size_t>(BinOf(p[0], p[1], p[2]))];
        ++s.count;
        for (int c = 0; c < 3; ++c) s.sum[c] += p[c];
      }
    }
    std::vector<Box> boxes(1);
    for (int bin = 0; bin < kBins; ++bin) {
      if (stats[static_cast<size_t>(bin)].count != 0) {
        boxes[0].bins.push_back(bin);
        boxes[0].pixels += stats[static_cast<size_t>(bin)].count;
      }
    }
    // Split the box with the largest pixels x extent^2, a cheap stand-in for
    // its squared error: big flat boxes and small spread-out ones both lose
    // to boxes where many pixels are far from their mean.
    while (static_cast<int>(boxes.size()) < colours) {
      int pick = -1;
      uint64_t pick_score = 0;
      for (size_t i = 0; i < boxes.size(); ++i) {
        if (boxes[i].bins.size() < 2) continue;
        const uint64_t extent = static_cast<uint64_t>(WidestChannel(boxes[i]).second);
        const uint64_t score = boxes[i].pixels * extent * extent;
        if (pick < 0 || score > pick_score) {
          pick = static_cast<int>(i);
          pick_score = score;
        }
      }
      if (pick < 0) break;
      Box& box = boxes[static_cast<size_t>(pick)];
      const int channel = WidestChannel(box).first;
      std::sort(box.bins.begin(), box.bins.end(), [channel](int a, int b) {
        return Channel(a, channel) < Channel(b, channel);
      });
      uint64_t running = 0;
      size_t cut = 1;
      for (size_t i = 0; i + 1 < box.bins.size(); ++i) {
        running += stats[static_cast<size_t>(box.bins[i])].count;
        cut = i + 1;
        if (running * 2 >= box.pixels) break;
      }
      Box upper;
      upper.bins.assign(box.bins.begin() + static_cast<std::ptrdiff_t>(cut), box.bins.end());
      box.bins.resize(cut);
      for (int bin : upper.bins) upper.pixels += stats[static_cast<size_t>(bin)].count;
      box.pixels -= upper.pixels;
      boxes.push_back(std::move(upper));
    }
    for (const Box& box : boxes) {
      uint64_t sum[3] = {0, 0, 0};
      for (int bin : box.bins) {
        for (int c = 0; c < 3; ++c) sum[c] += stats[static_cast<size_t>(bin)].sum[c];
      }
      const uint64_t n = std::max<uint64_t>(box.pixels, 1);
      palette.push_back(RgbQuad{static_cast<uint8_t>((sum[0] + n / 2) / n),
                                static_cast<uint8_t>((sum[1] + n / 2) / n),
                                static_cast<uint8_t>((sum[2] + n / 2) / n), 0});
    }
  }
  palette.resize(static_cast<size_t>(colours));
  return palette;
}

PaletteMapper::PaletteMapper(const Palette& palette)
    : palette_(palette), cache_(kBins, -1) {
  // Bins that hold a palette colour are never cached: exact colours must map
  // to their own entry even when several share a bin.
  for (size_t i = palette_.size(); i-- > 0;) {
    const RgbQuad& q = palette_[i];
    cache_[static_cast<size_t>(BinOf(q.blue, q.green, q.red))] = -2;
    memo_[q.red | (uint32_t{q.green} << 8) | (uint32_t{q.blue} << 16)] = static_cast<uint8_t>(i);  // lowest index wins
  }
}

uint8_t PaletteMapper::Map(uint8_t blue, uint8_t green, uint8_t red) {
  const size_t bin = static_cast<size_t>(BinOf(blue, green, red));
  if (cache_[bin] >= 0) return static_cast<uint8_t>(cache_[bin]);
  const uint32_t colour = red | (uint32_t{green} << 8) | (uint32_t{blue} << 16);
  if (cache_[bin] == -2) {
    if (const auto it = memo_.find(colour); it != memo_.end()) return it->second;
  }
  const uint8_t index = NearestPaletteIndex(palette_, colour);
  if (cache_[bin] == -1) {
    cache_[bin] = index;
  } else {
    memo_.emplace(colour, index);
  }
  return index;
}

}  // namespace veltora::imaging
