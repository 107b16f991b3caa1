#include "bytes/byte_view.h"

#include <cstring>

namespace veltora::bytes {

std::optional<ByteView> ByteView::Sub(uint64_t off, uint64_t n) const {
  if (!Contains(off, n)) return std::nullopt;
  return ByteView(bytes_.subspan(static_cast<size_t>(off), static_cast<size_t>(n)), order_);
}

std::optional<ByteView> ByteView::From(uint64_t off) const {
  if (off > bytes_.size()) return std::nullopt;
  return ByteView(bytes_.subspan(static_cast<size_t>(off)), order_);
}

std::optional<uint8_t> ByteView::U8(uint64_t off) const {
  if (!Contains(off, 1)) return std::nullopt;
  return bytes_[static_cast<size_t>(off)];
}

bool ByteView::Copy(uint64_t off, uint64_t n, void* out) const {
  if (!Contains(off, n)) return false;
  if (n != 0) std::memcpy(out, bytes_.data() + off, static_cast<size_t>(n));
  return true;
}

bool ByteCursor::Claim(uint64_t n) {
  if (!ok_ || !view_.Contains(pos_, n)) {
    ok_ = false;
    return false;
  }
  return true;
}

uint8_t ByteCursor::U8() {
  if (!Claim(1)) return 0;
  return *view_.U8(pos_++);
}

uint16_t ByteCursor::U16() {
  if (!Claim(2)) return 0;
  const uint16_t v = *view_.U16(pos_);
  pos_ += 2;
  return v;
}

uint32_t ByteCursor::U32() {
  if (!Claim(4)) return 0;
  const uint32_t v = *view_.U32(pos_);
  pos_ += 4;
  return v;
}

bool ByteCursor::Skip(uint64_t n) {
  if (!Claim(n)) return false;
  pos_ += n;
  return true;
}

ByteView ByteCursor::Take(uint64_t n) {
  if (!Claim(n)) return ByteView({}, view_.order());
  ByteView v = *view_.Sub(pos_, n);
  pos_ += n;
  return v;
}

}  // namespace veltora::bytes
