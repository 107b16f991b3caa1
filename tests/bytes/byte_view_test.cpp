#include "bytes/byte_view.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <tuple>
#include <vector>

namespace veltora::exif {
namespace {

constexpr uint64_t kMax64 = std::numeric_limits<uint64_t>::max();

TEST(ByteViewTest, RangeChecksNeverWrap) {
  const std::vector<uint8_t> bytes(16, 0xAB);
  const bytes::ByteView view(bytes, bytes::kLittleEndian);
  struct {
    uint64_t off, n;
    bool inside;
  } cases[] = {
      {0, 16, true},           {16, 0, true},  // an empty range at the very end is inside
      {16, 1, false},          {17, 0, false},
      {15, 1, true},           {15, 2, false},
      {0xFFFFFFFF, 1, false},  {0xFFFFFFFC, 4, false},
      {1, 0xFFFFFFFF, false},  {kMax64, 1, false},
      {1, kMax64, false},      {kMax64 - 1, 2, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(view.Contains(c.off, c.n), c.inside) << "off=" << c.off << " n=" << c.n;
    EXPECT_EQ(view.Sub(c.off, c.n).has_value(), c.inside) << "off=" << c.off << " n=" << c.n;
  }
  EXPECT_FALSE(view.U8(16));
  EXPECT_FALSE(view.U16(15));
  EXPECT_FALSE(view.U32(13));
  EXPECT_FALSE(view.U32(kMax64 - 1));
  EXPECT_TRUE(view.U32(12));
  ASSERT_TRUE(view.From(16));
  EXPECT_EQ(view.From(16)->size(), 0u);
  EXPECT_FALSE(view.From(17));
}

TEST(ByteViewTest, ReadsInBothOrdersAndSubViewsKeepTheOrder) {
  const std::vector<uint8_t> bytes = {0x01, 0x02, 0x03, 0x04, 0x05};
  const bytes::ByteView le(bytes, bytes::kLittleEndian);
  const bytes::ByteView be(bytes, bytes::kBigEndian);
  EXPECT_EQ(*le.U16(0), 0x0201);
  EXPECT_EQ(*be.U16(0), 0x0102);
  EXPECT_EQ(*le.U32(1), 0x05040302u);
  EXPECT_EQ(*be.U32(1), 0x02030405u);
  // Any non-zero order flag is big-endian.
  EXPECT_EQ(*bytes::ByteView(bytes, 0x4D4D).U16(0), 0x0102);
  const auto sub = be.Sub(1, 4);
  ASSERT_TRUE(sub);
  EXPECT_EQ(*sub->U32(0), 0x02030405u);
  EXPECT_FALSE(sub->U8(4));  // a sub-view does not see its parent's bytes
}

TEST(ByteCursorTest, ErrorIsStickyAndPositionStops) {
  const std::vector<uint8_t> bytes = {0x4D, 0x4D, 0x00, 0x2A, 0x00, 0x00, 0x00, 0x08, 0xEE};
  bytes::ByteCursor cursor(bytes::ByteView(bytes, bytes::kBigEndian));
  EXPECT_EQ(cursor.U16(), 0x4D4D);
  EXPECT_EQ(cursor.U16(), 42);
  EXPECT_EQ(cursor.U32(), 8u);
  EXPECT_EQ(std::tuple(cursor.ok(), cursor.pos()), std::tuple(true, uint64_t{8}));
  EXPECT_EQ(cursor.U16(), 0);  // one byte left: fails
  EXPECT_EQ(std::tuple(cursor.ok(), cursor.pos()), std::tuple(false, uint64_t{8}));
  EXPECT_EQ(cursor.U8(), 0);  // would fit, but the error is sticky
  EXPECT_FALSE(cursor.Skip(0));
  EXPECT_EQ(cursor.Take(0).size(), 0u);
  EXPECT_EQ(std::tuple(cursor.pos(), cursor.remaining()), std::tuple(uint64_t{8}, uint64_t{0}));
}

TEST(ByteCursorTest, SkipAndTakeAreBoundedAndAStartPastTheEndIsAnError) {
  const std::vector<uint8_t> bytes(10, 7);
  bytes::ByteCursor cursor(bytes::ByteView(bytes, bytes::kLittleEndian));
  EXPECT_TRUE(cursor.Skip(4));
  EXPECT_EQ(cursor.Take(6).size(), 6u);
  EXPECT_TRUE(cursor.ok());
  EXPECT_EQ(cursor.remaining(), 0u);
  EXPECT_FALSE(cursor.Skip(kMax64));
  bytes::ByteCursor past(bytes::ByteView(bytes, bytes::kLittleEndian), 11);
  EXPECT_FALSE(past.ok());
  EXPECT_EQ(past.U8(), 0);
  bytes::ByteCursor at_end(bytes::ByteView(bytes, bytes::kLittleEndian), 10);
  EXPECT_TRUE(at_end.ok());
  EXPECT_EQ(at_end.U8(), 0);
  EXPECT_FALSE(at_end.ok());
}

}  // namespace
}  // namespace veltora::exif
