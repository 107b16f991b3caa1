#include "edit/block_entries.h"

#include <gtest/gtest.h>

#include <vector>

namespace veltora::edit {
namespace {

// Values copied from a block of the other byte order turn unit by unit: a
// rational as its two words, a DOUBLE as one 8-byte unit, bytes and text not
// at all; the same order leaves every type alone.
TEST(ConvertValueOrderTest, TurnsEachUnitOfTheType) {
  const std::vector<uint8_t> kBytes = {1, 2, 3, 4, 5, 6, 7, 8};
  struct Case {
    uint16_t type;
    std::vector<uint8_t> turned;
  };
  const Case kCases[] = {
      {exif::kTypeByte, kBytes},
      {exif::kTypeAscii, kBytes},
      {exif::kTypeUndefined, kBytes},
      {exif::kTypeShort, {2, 1, 4, 3, 6, 5, 8, 7}},
      {8 /* SSHORT */, {2, 1, 4, 3, 6, 5, 8, 7}},
      {exif::kTypeLong, {4, 3, 2, 1, 8, 7, 6, 5}},
      {exif::kTypeRational, {4, 3, 2, 1, 8, 7, 6, 5}},
      {exif::kTypeSRational, {4, 3, 2, 1, 8, 7, 6, 5}},
      {12 /* DOUBLE */, {8, 7, 6, 5, 4, 3, 2, 1}},
      {99 /* unknown */, kBytes},
  };
  for (const Case& c : kCases) {
    std::vector<uint8_t> bytes = kBytes;
    ConvertValueOrder(bytes, c.type, bytes::kLittleEndian, bytes::kBigEndian);
    EXPECT_EQ(bytes, c.turned) << "type " << c.type;
    ConvertValueOrder(bytes, c.type, bytes::kBigEndian, bytes::kBigEndian);
    EXPECT_EQ(bytes, c.turned) << "type " << c.type << " unchanged in one order";
  }
  std::vector<uint8_t> odd = {1, 2, 3};  // a trailing part of a unit stays
  ConvertValueOrder(odd, exif::kTypeShort, bytes::kBigEndian, bytes::kLittleEndian);
  EXPECT_EQ(odd, (std::vector<uint8_t>{2, 1, 3}));
}

}  // namespace
}  // namespace veltora::edit
