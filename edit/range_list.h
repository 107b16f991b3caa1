// How an edited TIFF block maps onto the block it was made from: a list of
// (start, delta) pairs, a negative delta cutting |delta| bytes at `start`, a
// positive one inserting that many bytes there. Every offset held anywhere in
// the block is moved with Shift() after a change.
#ifndef VELTORA_EDIT_RANGE_LIST_H_
#define VELTORA_EDIT_RANGE_LIST_H_

#include <cstdint>
#include <span>
#include <vector>

namespace veltora::edit {

// The TIFF header at the start of every block: byte order, magic, IFD0 offset.
inline constexpr uint32_t kTiffHeaderSize = 8;

struct RangePair {
  uint32_t start = 0;
  int32_t delta = 0;
};

class RangeList {
 public:
  void Cut(uint32_t start, uint32_t length);
  void Insert(uint32_t start, uint32_t length);
  // Cuts the value at `offset` of `length` bytes inside `block`: an odd
  // length at an even offset takes its pad byte along when that byte lies
  // inside the block, is zero and begins none of `structure_starts`
  // (directories and values). A camera that packed the next directory right
  // behind an odd value has no pad byte, and cutting one there would cut
  // into that directory. Values outside the block are not cut.
  void CutValue(uint32_t offset, uint64_t length, std::span<const uint8_t> block,
                std::span<const uint32_t> structure_starts);

  // Prepares the cuts for copying: sorted by start; of two pairs with the same
  // start only the later stays; cuts are clipped to the block and to each
  // other, so that no byte is removed twice and the deltas add up to what the
  // copy really removes.
  void Normalise(uint32_t block_length);

  // The new position of old offset `o`: `o` plus the deltas of every pair
  // starting before it, never below 0.
  uint32_t Shift(uint32_t o) const;

  // Takes every cut byte below `pin` out of the list (after Normalise) and
  // returns those ranges as (start, length) holes: bytes below the pin keep
  // their offsets, so what is cut there is zero-filled instead of removed.
  std::vector<RangePair> TakeHolesBelow(uint32_t pin);

  // Keeps the bytes [start, start + length) out of every cut (after
  // Normalise): a value or directory that overlaps them does not take them.
  void Spare(uint32_t start, uint32_t length);

  // Bytes removed by the cuts (after Normalise).
  uint64_t CutTotal() const;
  std::span<const RangePair> pairs() const { return pairs_; }
  bool empty() const { return pairs_.empty(); }
  void Clear() { pairs_.clear(); }

 private:
  std::vector<RangePair> pairs_;
};

// Copies `old_block` into `out` (which must hold old size − cuts + `gap`
// bytes) leaving out every cut of `cuts` (normalised, cuts only) and leaving
// `gap` zero bytes at old offset `gap_at` (none when gap is 0). Returns the
// new position of the gap.
uint32_t CopyWithCuts(std::span<const uint8_t> old_block, const RangeList& cuts, uint32_t gap_at,
                      uint32_t gap, std::span<uint8_t> out);

}  // namespace veltora::edit

#endif  // VELTORA_EDIT_RANGE_LIST_H_
