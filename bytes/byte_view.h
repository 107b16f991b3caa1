// The one window through which bytes that came from a file are read, by every
// layer (EXIF blocks, JPEG segments, packed DIBs and BMP headers). The names
// stay in veltora::exif, where the reader and the editor first used them.
#ifndef VELTORA_BYTES_BYTE_VIEW_H_
#define VELTORA_BYTES_BYTE_VIEW_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "bytes/byte_order.h"

namespace veltora::bytes {

// A borrowed window onto bytes read from a file. Reads succeed only inside the
// window; offsets are 64-bit so that a 32-bit offset plus a base can never
// wrap. The bytes belong to the caller and must outlive the view.
class ByteView {
 public:
  ByteView() = default;
  ByteView(std::span<const uint8_t> bytes, ByteOrder order) : bytes_(bytes), order_(order) {}
  ByteView(const uint8_t* data, size_t size, ByteOrder order) : bytes_(data, size), order_(order) {}

  uint64_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }
  const uint8_t* data() const { return bytes_.data(); }
  std::span<const uint8_t> bytes() const { return bytes_; }
  ByteOrder order() const { return order_; }
  ByteView WithOrder(ByteOrder order) const { return ByteView(bytes_, order); }

  // True when [off, off + n) lies inside the window; never overflows.
  bool Contains(uint64_t off, uint64_t n) const {
    return off <= bytes_.size() && n <= bytes_.size() - off;
  }
  // The n bytes at off, in the same byte order; nullopt when they are not all here.
  std::optional<ByteView> Sub(uint64_t off, uint64_t n) const;
  // The bytes from off to the end; nullopt when off is past the end.
  std::optional<ByteView> From(uint64_t off) const;

  std::optional<uint8_t> U8(uint64_t off) const;
  std::optional<uint16_t> U16(uint64_t off) const {
    if (!Contains(off, 2)) return std::nullopt;
    return Read16(bytes_.data() + off, order_);
  }
  std::optional<uint32_t> U32(uint64_t off) const {
    if (!Contains(off, 4)) return std::nullopt;
    return Read32(bytes_.data() + off, order_);
  }
  // Copies n bytes at off into `out`; false (and `out` untouched) when they are not all here.
  bool Copy(uint64_t off, uint64_t n, void* out) const;

 private:
  std::span<const uint8_t> bytes_;
  ByteOrder order_ = kLittleEndian;
};

// Reads fields in sequence. After the first failure every read returns 0 and
// the position stops moving, so a run of fields is read and ok() is tested once.
class ByteCursor {
 public:
  explicit ByteCursor(ByteView view, uint64_t pos = 0)
      : view_(view), pos_(pos), ok_(pos <= view.size()) {}

  uint8_t U8();
  uint16_t U16();
  uint32_t U32();
  // Moves over n bytes; fails like a read when they are not all there.
  bool Skip(uint64_t n);
  // The next n bytes as a view; an empty view (and the sticky error) when short.
  ByteView Take(uint64_t n);

  bool ok() const { return ok_; }
  uint64_t pos() const { return pos_; }
  uint64_t remaining() const { return ok_ ? view_.size() - pos_ : 0; }

 private:
  bool Claim(uint64_t n);
  ByteView view_;
  uint64_t pos_;
  bool ok_;
};

}  // namespace veltora::bytes

#endif  // VELTORA_BYTES_BYTE_VIEW_H_
