#include "imaging/rle_rows.h"

namespace veltora::imaging {
namespace {

// Escape values behind a zero count.
constexpr uint8_t kEndOfLine = 0;
constexpr uint8_t kEndOfBitmap = 1;
constexpr uint8_t kDelta = 2;

// Writes pixels left to right along the rows, bottom row first, dropping
// what falls outside the bitmap.
class RowWriter {
 public:
  explicit RowWriter(Bitmap* out) : out_(out), four_bits_(out->bits_per_pixel == 4) {}
  bool Done() const { return y_ >= out_->height; }
  void Put(uint8_t index) {
    if (x_ < out_->width && y_ < out_->height) {
      uint8_t* row = out_->Row(static_cast<int32_t>(out_->height - 1 - y_));
      const size_t at = static_cast<size_t>(x_);
      if (!four_bits_) {
        row[at] = index;
      } else if ((at & 1) == 0) {
        row[at >> 1] = static_cast<uint8_t>((row[at >> 1] & 0x0F) | (index << 4));
      } else {
        row[at >> 1] = static_cast<uint8_t>((row[at >> 1] & 0xF0) | (index & 0x0F));
      }
    }
    ++x_;
  }
  void NextLine() {
    x_ = 0;
    ++y_;
  }
  void Move(uint8_t dx, uint8_t dy) {
    x_ += dx;
    y_ += dy;
  }
  bool four_bits() const { return four_bits_; }

 private:
  Bitmap* out_;
  bool four_bits_;
  int64_t x_ = 0, y_ = 0;
};

// The i-th pixel of a run or absolute group: RLE4 alternates the two
// nibbles of each byte, high first.
uint8_t PixelOf(uint8_t byte, uint32_t i, bool four_bits) {
  if (!four_bits) return byte;
  return (i & 1) == 0 ? static_cast<uint8_t>(byte >> 4) : static_cast<uint8_t>(byte & 0x0F);
}

}  // namespace

void DecodeRleRows(bytes::ByteView data, Bitmap* out) {
  RowWriter rows(out);
  bytes::ByteCursor in(data);
  while (!rows.Done()) {
    const uint8_t count = in.U8(), value = in.U8();
    if (!in.ok()) return;
    if (count > 0) {  // a run of `count` pixels
      for (uint32_t i = 0; i < count; ++i) rows.Put(PixelOf(value, i, rows.four_bits()));
      continue;
    }
    if (value == kEndOfLine) {
      rows.NextLine();
    } else if (value == kEndOfBitmap) {
      return;
    } else if (value == kDelta) {
      const uint8_t dx = in.U8(), dy = in.U8();
      if (!in.ok()) return;
      rows.Move(dx, dy);
    } else {  // `value` pixels as they are, padded to an even byte count
      const uint32_t bytes = rows.four_bits() ? (value + 1u) / 2 : value;
      const bytes::ByteView group = in.Take(bytes);
      if (!in.ok()) return;
      for (uint32_t i = 0; i < value; ++i) {
        rows.Put(PixelOf(group.data()[rows.four_bits() ? i / 2 : i], i, rows.four_bits()));
      }
      if ((bytes & 1) != 0) in.Skip(1);  // a missing pad ends the data at the next read
    }
  }
}

}  // namespace veltora::imaging
