#include "edit/range_list.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace veltora::edit {

void RangeList::Cut(uint32_t start, uint32_t length) {
  // The TIFF header is never cut: a malformed value or directory that claims
  // to lie inside it keeps the header, or the block would no longer read.
  if (start < kTiffHeaderSize) {
    const uint32_t overlap = kTiffHeaderSize - start;
    if (length <= overlap) return;
    length -= overlap;
    start = kTiffHeaderSize;
  }
  if (length == 0) return;
  const uint32_t n = std::min<uint32_t>(length, std::numeric_limits<int32_t>::max());
  pairs_.push_back({start, -static_cast<int32_t>(n)});
}

void RangeList::Insert(uint32_t start, uint32_t length) {
  if (length == 0) return;
  const uint32_t n = std::min<uint32_t>(length, std::numeric_limits<int32_t>::max());
  pairs_.push_back({start, static_cast<int32_t>(n)});
}

void RangeList::CutValue(uint32_t offset, uint64_t length, std::span<const uint8_t> block,
                         std::span<const uint32_t> structure_starts) {
  const uint64_t block_length = block.size();
  if (length == 0 || offset > block_length || length > block_length - offset) return;
  const uint64_t pad = uint64_t{offset} + length;
  // `pad` is read only when it lies inside the block, so it fits the block's size type.
  if (length % 2 == 1 && offset % 2 == 0 && pad < block_length && block[static_cast<size_t>(pad)] == 0 &&
      std::find(structure_starts.begin(), structure_starts.end(), pad) == structure_starts.end()) {
    ++length;
  }
  Cut(offset, static_cast<uint32_t>(length));
}

void RangeList::Normalise(uint32_t block_length) {
  // Stable, so that "the later one" of two equal starts is the one listed later.
  std::stable_sort(pairs_.begin(), pairs_.end(),
                   [](const RangePair& a, const RangePair& b) { return a.start < b.start; });
  std::vector<RangePair> kept;
  for (size_t i = 0; i < pairs_.size(); ++i) {
    if (i + 1 < pairs_.size() && pairs_[i + 1].start == pairs_[i].start) continue;
    kept.push_back(pairs_[i]);
  }
  std::vector<RangePair> clipped;
  uint64_t covered_to = 0;
  for (RangePair p : kept) {
    if (p.delta >= 0) {
      clipped.push_back(p);
      continue;
    }
    uint64_t start = std::max<uint64_t>(p.start, covered_to);
    uint64_t end = std::min<uint64_t>(uint64_t{p.start} + static_cast<uint32_t>(-int64_t{p.delta}),
                                      block_length);
    if (start >= end) continue;
    clipped.push_back({static_cast<uint32_t>(start), -static_cast<int32_t>(end - start)});
    covered_to = end;
  }
  pairs_ = std::move(clipped);
}

uint32_t RangeList::Shift(uint32_t o) const {
  int64_t sum = 0;
  for (const RangePair& p : pairs_) {
    if (p.start < o) sum += p.delta;
  }
  const int64_t moved = int64_t{o} + sum;
  if (moved < 0) return 0;
  return static_cast<uint32_t>(std::min<int64_t>(moved, std::numeric_limits<uint32_t>::max()));
}

void RangeList::Spare(uint32_t start, uint32_t length) {
  const uint64_t a = start;
  const uint64_t b = a + length;
  std::vector<RangePair> kept;
  for (RangePair p : pairs_) {
    const uint64_t s = p.start;
    const uint64_t e = s + (p.delta < 0 ? static_cast<uint32_t>(-int64_t{p.delta}) : 0);
    if (p.delta >= 0 || e <= a || s >= b) {
      kept.push_back(p);
      continue;
    }
    if (s < a) kept.push_back({p.start, -static_cast<int32_t>(a - s)});
    if (e > b) kept.push_back({static_cast<uint32_t>(b), -static_cast<int32_t>(e - b)});
  }
  pairs_ = std::move(kept);
}

std::vector<RangePair> RangeList::TakeHolesBelow(uint32_t pin) {
  std::vector<RangePair> holes;
  std::vector<RangePair> kept;
  for (RangePair p : pairs_) {
    if (p.delta >= 0 || p.start >= pin) {
      kept.push_back(p);
      continue;
    }
    const uint64_t end = uint64_t{p.start} + static_cast<uint32_t>(-int64_t{p.delta});
    const uint64_t hole_end = std::min<uint64_t>(end, pin);
    holes.push_back({p.start, static_cast<int32_t>(hole_end - p.start)});
    if (end > pin) kept.push_back({pin, -static_cast<int32_t>(end - pin)});
  }
  pairs_ = std::move(kept);
  return holes;
}

uint64_t RangeList::CutTotal() const {
  uint64_t total = 0;
  for (const RangePair& p : pairs_) {
    if (p.delta < 0) total += static_cast<uint32_t>(-int64_t{p.delta});
  }
  return total;
}

uint32_t CopyWithCuts(std::span<const uint8_t> old_block, const RangeList& cuts, uint32_t gap_at,
                      uint32_t gap, std::span<uint8_t> out) {
  size_t in = 0;
  size_t at = 0;
  uint32_t gap_position = 0;
  bool gap_done = gap == 0;
  const auto copy_to = [&](size_t end) {
    end = std::min(end, old_block.size());
    if (end > in) {
      const size_t n = std::min(end - in, out.size() - at);
      std::memcpy(out.data() + at, old_block.data() + in, n);
      at += n;
      in = end;
    }
  };
  const auto place_gap = [&] {
    copy_to(gap_at);
    gap_position = static_cast<uint32_t>(at);
    const size_t n = std::min<size_t>(gap, out.size() - at);
    std::memset(out.data() + at, 0, n);
    at += n;
    gap_done = true;
  };
  for (const RangePair& p : cuts.pairs()) {
    if (p.delta >= 0) continue;
    if (!gap_done && gap_at <= p.start) place_gap();
    copy_to(p.start);
    in = std::max<size_t>(in, std::min<size_t>(uint64_t{p.start} + static_cast<uint32_t>(-int64_t{p.delta}),
                                               old_block.size()));
  }
  if (!gap_done) place_gap();
  copy_to(old_block.size());
  return gap_position;
}

}  // namespace veltora::edit
