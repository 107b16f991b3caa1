#include "exif/jpeg_segments.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <vector>

namespace veltora::exif {
namespace {

// (marker, position, length, cut) of each step.
using Step = std::tuple<uint16_t, uint64_t, uint16_t, bool>;

std::vector<Step> Walk(const std::vector<uint8_t>& bytes, uint64_t start, SoiRule soi,
                       bool through_reads) {
  const auto read_at = [&bytes](uint64_t offset, std::span<uint8_t> out) -> size_t {
    if (offset >= bytes.size()) return 0;
    const size_t n = std::min(out.size(), static_cast<size_t>(bytes.size() - offset));
    std::memcpy(out.data(), bytes.data() + offset, n);
    return n;
  };
  JpegSegmentWalker walk(start, soi);
  std::vector<Step> steps;
  while (const auto s = through_reads ? walk.Next(read_at) : walk.Next(std::span(bytes))) {
    steps.emplace_back(s->marker, s->position, s->length, s->cut);
  }
  return steps;
}

TEST(JpegSegmentWalkerTest, StepsAndWhereTheWalkEnds) {
  constexpr auto kAlone = SoiRule::kStandalone;
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    uint64_t start;
    SoiRule soi;
    std::vector<Step> steps;
  } cases[] = {
      {"sos ends the walk",
       {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x04, 0xAA, 0xBB, 0xFF, 0xDA, 0x00, 0x02, 0xFF, 0xD9},
       0, kAlone, {{0xFFD8, 0, 0, false}, {0xFFE1, 2, 4, false}, {0xFFDA, 8, 2, false}}},
      {"eoi ends the walk", {0xFF, 0xD8, 0xFF, 0xD9, 0xFF, 0xE1, 0x00, 0x02}, 0, kAlone,
       {{0xFFD8, 0, 0, false}, {0xFFD9, 2, 0, false}}},
      {"fill bytes are read as a header", {0xFF, 0xD8, 0xFF, 0xFF, 0x00, 0x02, 0xFF, 0xD9}, 0,
       kAlone, {{0xFFD8, 0, 0, false}, {0xFFFF, 2, 2, false}, {0xFFD9, 6, 0, false}}},
      {"lengths 0 and 1 step two and three bytes, no marker needed",
       {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x00, 0x00, 0x01, 0x00, 0xFF, 0xD9}, 0, kAlone,
       {{0xFFD8, 0, 0, false}, {0xFFFE, 2, 0, false}, {0x0000, 4, 1, false},
        {0x0100, 7, 0xFFD9, false}}},
      {"header cut inside the length", {0xFF, 0xD8, 0xFF, 0xE1, 0x00}, 0, kAlone,
       {{0xFFD8, 0, 0, false}, {0xFFE1, 2, 0, true}}},
      {"one byte left is no segment", {0xFF, 0xD8, 0xFF}, 0, kAlone, {{0xFFD8, 0, 0, false}}},
      {"stray soi stands alone", {0xFF, 0xD8, 0xFF, 0xD8, 0x00, 0x02, 0xFF, 0xD9}, 0, kAlone,
       {{0xFFD8, 0, 0, false}, {0xFFD8, 2, 0, false}, {0x0002, 4, 0xFFD9, false}}},
      {"stray soi sized", {0xFF, 0xD8, 0xFF, 0xD8, 0x00, 0x02, 0xFF, 0xD9}, 2, SoiRule::kSized,
       {{0xFFD8, 2, 2, false}, {0xFFD9, 6, 0, false}}},
      {"start past the end", {0xFF, 0xD8}, 4, kAlone, {}},
  };
  for (const Case& c : cases) {
    for (bool through_reads : {false, true}) {
      EXPECT_EQ(Walk(c.bytes, c.start, c.soi, through_reads), c.steps)
          << c.name << (through_reads ? " (reads)" : " (memory)");
    }
  }
}

}  // namespace
}  // namespace veltora::exif
