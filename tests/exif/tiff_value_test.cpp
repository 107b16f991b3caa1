#include "exif/tiff_value.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

namespace veltora::exif {
namespace {

class TiffValueTest : public ::testing::TestWithParam<bytes::ByteOrder> {
 protected:
  bytes::ByteOrder order() const { return GetParam(); }
  // A stored entry laid out by hand: numbers in the order under test, the
  // value field given as raw stored bytes.
  std::array<uint8_t, 12> Raw(uint16_t tag, uint16_t type, uint32_t count,
                              std::array<uint8_t, 4> value_bytes) const {
    std::array<uint8_t, 12> raw{};
    bytes::Write16(raw.data(), tag, order());
    bytes::Write16(raw.data() + 2, type, order());
    bytes::Write32(raw.data() + 4, count, order());
    std::memcpy(raw.data() + 8, value_bytes.data(), 4);
    return raw;
  }
  std::array<uint8_t, 4> Shorts(uint16_t a, uint16_t b) const {
    std::array<uint8_t, 4> v{};
    bytes::Write16(v.data(), a, order());
    bytes::Write16(v.data() + 2, b, order());
    return v;
  }
};

TEST_P(TiffValueTest, TypesWithoutSizeCarryNoValue) {
  for (uint16_t type : {kTypeSByte, kTypeSShort, kTypeFloat, kTypeDouble, uint16_t{0},
                        uint16_t{13}, uint16_t{0xFFFF}}) {
    EXPECT_EQ(TypeSize(type), 0) << "type " << type;
    IfdEntry e{.value = 0xDEADBEEF};
    EXPECT_EQ(DecodeEntry(Raw(0x100, type, 1, {1, 2, 3, 4}).data(), order(), &e), 0)
        << "type " << type;
    EXPECT_EQ(std::tuple(e.tag, e.type, e.value), std::tuple(0x100, type, 0u)) << "type " << type;
  }
  IfdEntry zero_count;
  EXPECT_EQ(DecodeEntry(Raw(1, kTypeLong, 0, {1, 2, 3, 4}).data(), order(), &zero_count), 0);
  EXPECT_EQ(zero_count.value, 0u);
  EXPECT_EQ(DecodeEntry(nullptr, order(), &zero_count), 0);
  EXPECT_EQ(DecodeEntry(Raw(1, kTypeLong, 1, {}).data(), order(), nullptr), 0);
  EXPECT_EQ(EntryValueSize(nullptr), 0u);
}

TEST_P(TiffValueTest, ShortPairPacksFirstHighAndCopiesOutInOrder) {
  IfdEntry e;
  ASSERT_EQ(DecodeEntry(Raw(0x212, kTypeShort, 2, Shorts(0x0102, 0x0304)).data(), order(), &e),
            1);
  EXPECT_EQ(e.value, 0x01020304u);
  uint16_t out[3] = {9, 9, 9};
  EXPECT_EQ(CopyInlineValue(e, 4, out, 4), 2u);
  // The third number lies past the capacity: untouched.
  EXPECT_EQ(std::tuple(out[0], out[1], out[2]), std::tuple(0x0102, 0x0304, 9));
  EXPECT_EQ(CopyInlineValue(e, 4, out, 3), 1u);
  EXPECT_EQ(out[0], 0x0102);
  EXPECT_EQ(out[1] & 0xFF, 0);  // the third byte is cleared though no number fits there
  EXPECT_EQ(CopyInlineValue(e, 4, out, 2), 1u);
  EXPECT_EQ(CopyInlineValue(e, 4, out, 1), 0u);

  IfdEntry one;
  ASSERT_EQ(DecodeEntry(Raw(0x112, kTypeShort, 1, Shorts(6, 0xFFFF)).data(), order(), &one), 1);
  EXPECT_EQ(one.value, 6u);  // the unused half of the field is ignored

  // Counts whose 32-bit value size wraps to one SHORT's or a pair's hold none.
  for (uint32_t count : {0x80000001u, 0x80000002u}) {
    std::array<uint8_t, 12> raw{};
    ASSERT_EQ(EncodeEntry(raw.data(), order(), {0x212, kTypeShort, count, 0x01020304}), 1);
    EXPECT_EQ(bytes::Read32(raw.data() + 4, order()), count);
    EXPECT_EQ(bytes::Read32(raw.data() + 8, order()), 0u) << count;
    IfdEntry wrapped;
    ASSERT_EQ(DecodeEntry(Raw(0x212, kTypeShort, count, Shorts(1, 2)).data(), order(), &wrapped),
              1);
    EXPECT_EQ(wrapped.value, 0u) << count;
    EXPECT_EQ(CopyInlineValue(wrapped, EntryValueSize(&wrapped), out, 4), 0u) << count;
  }
}

TEST_P(TiffValueTest, InlineBytesAndTextKeepStoredOrder) {
  IfdEntry e;
  ASSERT_EQ(DecodeEntry(Raw(0x9000, kTypeUndefined, 4, {'0', '2', '2', '1'}).data(), order(), &e),
            1);
  EXPECT_EQ(e.value, 0x31323230u);  // byte 0 least significant in either file order
  char bytes[6] = "xxxxx";
  EXPECT_EQ(CopyInlineValue(e, 4, bytes, 6), 4u);
  EXPECT_STREQ(bytes, "0221");

  IfdEntry text;
  ASSERT_EQ(DecodeEntry(Raw(0x10F, kTypeAscii, 3, {'O', 'K', 0, 0x55}).data(), order(), &text),
            1);
  EXPECT_EQ(text.value, 0x00004B4Fu);  // bytes past the value size are not taken
  char two[2] = {'x', 'x'};
  EXPECT_EQ(CopyInlineValue(text, 3, two, 2), 2u);
  EXPECT_EQ(std::tuple(two[0], two[1]), std::tuple('O', 0));
  char none[1] = {'x'};
  EXPECT_EQ(CopyInlineValue(text, 3, none, 1), 1u);
  EXPECT_EQ(none[0], 0);
}

TEST_P(TiffValueTest, EncodeIsTheInverseAndLeftJustifies) {
  const IfdEntry entries[] = {
      {0x10F, kTypeAscii, 3, 0x00004B4F}, {0x9000, kTypeUndefined, 4, 0x31323230},
      {0x1, kTypeByte, 1, 0x2},           {0x112, kTypeShort, 1, 8},
      {0x212, kTypeShort, 2, 0x00020001}, {0x8769, kTypeLong, 1, 0x1234},
      {0x9204, kTypeSLong, 1, 0xFFFFFFFE}, {0x829A, kTypeRational, 1, 0x200},
      {0x9201, kTypeSRational, 3, 0x300},  {0x927C, kTypeUndefined, 100, 0x400},
  };
  for (const IfdEntry& in : entries) {
    std::array<uint8_t, 12> raw{};
    raw.fill(0xCC);
    ASSERT_EQ(EncodeEntry(raw.data(), order(), in), 1) << "tag " << in.tag;
    IfdEntry out;
    ASSERT_EQ(DecodeEntry(raw.data(), order(), &out), 1) << "tag " << in.tag;
    EXPECT_EQ(std::tie(out.tag, out.type, out.count, out.value),
              std::tie(in.tag, in.type, in.count, in.value));
    // Unused value bytes are written as zero, not left as they were.
    const uint32_t size = EntryValueSize(&in);
    for (uint32_t i = size; i < 4 && size <= 4; ++i) EXPECT_EQ(raw[8 + i], 0) << "tag " << in.tag;
  }
  std::array<uint8_t, 12> raw{};
  raw.fill(0xCC);
  EXPECT_EQ(EncodeEntry(raw.data(), order(), {0x100, kTypeShort, 1, 0x1234}), 1);
  EXPECT_EQ(bytes::Read16(raw.data() + 8, order()), 0x1234);  // the SHORT sits in the first two bytes
  EXPECT_EQ(EncodeEntry(raw.data(), order(), {0x100, kTypeFloat, 5, 0x1234}), 0);
  EXPECT_EQ(bytes::Read32(raw.data() + 4, order()), 0u);  // no value: count written as 0
  EXPECT_EQ(bytes::Read32(raw.data() + 8, order()), 0u);
}

TEST_P(TiffValueTest, DecodeValueBytesConvertsEveryElementAndClearsTheRest) {
  std::vector<uint8_t> stored(16);
  bytes::Write32(stored.data(), 10, order());
  bytes::Write32(stored.data() + 4, 1250, order());
  uint32_t words[16];
  std::memset(words, 0xEE, sizeof words);
  ASSERT_EQ(DecodeValueBytes(stored.data(), 8, kTypeRational, order(), words, 64), 1u);
  EXPECT_EQ(std::tuple(words[0], words[1]), std::tuple(10u, 1250u));
  for (int i = 2; i < 16; ++i) ASSERT_EQ(words[i], 0u) << "word " << i;

  for (int i = 0; i < 8; ++i) bytes::Write16(stored.data() + 2 * i, static_cast<uint16_t>(i + 1), order());
  uint16_t shorts[8] = {};
  EXPECT_EQ(DecodeValueBytes(stored.data(), 16, kTypeShort, order(), shorts, 7), 3u);
  // The odd byte of capacity is cleared, not filled.
  EXPECT_EQ(std::tuple(shorts[0], shorts[2], shorts[3]), std::tuple(1, 3, 0));
  // Capacity smaller than one element: nothing, but the buffer is still cleared.
  uint8_t small[3] = {1, 1, 1};
  EXPECT_EQ(DecodeValueBytes(stored.data(), 16, kTypeLong, order(), small, 3), 0u);
  EXPECT_EQ(small[0] | small[1] | small[2], 0);
  // Sizeless and unknown types deliver nothing.
  for (uint16_t type : {uint16_t{0}, kTypeSShort, kTypeFloat, kTypeDouble, uint16_t{11}}) {
    EXPECT_EQ(DecodeValueBytes(stored.data(), 16, type, order(), words, 64), 0u) << type;
  }
  const char text[] = "2006:05:14 09:30:05";
  char ten[10];
  EXPECT_EQ(DecodeValueBytes(reinterpret_cast<const uint8_t*>(text), 20, kTypeAscii, order(), ten,
                             10),
            10u);
  EXPECT_STREQ(ten, "2006:05:1");
}

INSTANTIATE_TEST_SUITE_P(BothByteOrders, TiffValueTest,
                         ::testing::Values(bytes::kLittleEndian, bytes::kBigEndian),
                         [](const auto& param_info) { return std::string(param_info.param ? "MM" : "II"); });

}  // namespace
}  // namespace veltora::exif
