#include "create/exif_block_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <tuple>
#include <vector>

#include "edit/block_entries.h"
#include "tests/create/records.h"

namespace veltora::create {
namespace {

using testing::RecordList;

constexpr uint32_t kMain = 0x00010000u, kThumb = 0x00020000u, kExif = 0x00040000u,
                   kGps = 0x00080000u;

std::vector<uint8_t> Tiff(const std::vector<uint8_t>& segment) {
  return {segment.begin() + kSegmentHeadSize, segment.end()};
}

// The entries of the directory at `offset` of a built (little-endian) block.
std::map<uint16_t, edit::BlockEntry> Entries(const std::vector<uint8_t>& tiff, uint32_t offset) {
  std::map<uint16_t, edit::BlockEntry> out;
  if (const auto dir = edit::ReadBlockDirectory(tiff, bytes::kLittleEndian, offset)) {
    for (const auto& e : dir->entries) out[e.entry.tag] = e;
  }
  return out;
}

std::vector<uint8_t> Build(RecordList& list, const ThumbnailMaker& maker = {}) {
  auto segment = BuildExifSegment(list.get(), maker);
  return segment ? *segment : std::vector<uint8_t>{};
}

TEST(ExifBlockBuilderTest, EmptyRecordsGiveTheBareStructure) {
  RecordList list;
  list.Add<TiffInfo>(kMain);
  list.Add<ExifInfo>(kExif);
  list.Add<GpsInfo>(kGps);  // both mask words 0: no GPS IFD, no pointer
  list.Add<TiffInfo>(kMain)->mask1 = TIFF_M1_ORIENTATION;  // a second IFD0 record: never used
  const std::vector<uint8_t> expected = {
      0xFF, 0xE1, 0, 34, 'E', 'x', 'i', 'f', 0, 0,  // 26 TIFF bytes + 8
      'I', 'I', 42, 0, 8, 0, 0, 0,                  // header
      0, 0, 0, 0, 0, 0,                             // IFD0: no entries, no IFD1
      0, 0, 0, 0, 0, 0,                             // EXIF sub-IFD
      0, 0, 0, 0, 0, 0};                            // Interoperability IFD
  EXPECT_EQ(Build(list), expected);
}

TEST(ExifBlockBuilderTest, ValuePlacement) {
  RecordList list;
  auto* main = list.Add<TiffInfo>(kMain);
  auto* exif = list.Add<ExifInfo>(kExif);
  main->mask1 = TIFF_M1_MAKE | TIFF_M1_MODEL | TIFF_M1_WHITE_POINT | TIFF_M1_IMAGE_WIDTH |
                TIFF_M1_JPEG_INTERCHANGE_FORMAT;  // a thumbnail pointer has no place in IFD0
  CStringSet(&main->Make, "abc");
  CStringSet(&main->Model, "abcd");
  main->ImageWidth = 0x12345;
  main->ImageWidthType = 3;
  main->WhitePoint[0] = {70000, 3};
  exif->mask_l = EXIF_L_ISO_SPEED_RATINGS | EXIF_L_EXPOSURE_BIAS_VALUE | EXIF_L_MAKER_NOTE;
  ArrayAdd(&exif->ISOSpeedRatings, uint16_t{400});
  exif->ExposureBiasValue = {-1, 3};
  HostBlobSet(&exif->MakerNote, "12345", 5);

  const auto tiff = Tiff(Build(list));
  ASSERT_FALSE(tiff.empty());
  auto ifd0 = Entries(tiff, 8);
  ASSERT_EQ(ifd0.size(), 5u);  // width, make, model, white point, EXIF pointer
  EXPECT_FALSE(ifd0.count(513));
  EXPECT_EQ(std::tuple(ifd0[256].entry.type, ifd0[256].entry.value, ifd0[271].entry.count),
            std::tuple(exif::kTypeShort, 0x2345u, 4u));
  EXPECT_EQ(std::memcmp(ifd0[271].field, "abc", 4), 0);
  // Values follow the next-IFD field in entry order: "abcd\0" and one zero
  // byte (5 mod 4), then the two rationals, unpadded.
  const uint32_t values = 8 + 2 + 5 * 12 + 4;
  EXPECT_EQ(std::tuple(ifd0[272].entry.count, ifd0[272].entry.value, ifd0[318].entry.value),
            std::tuple(5u, values, values + 6));
  EXPECT_EQ(bytes::Read32(&tiff[values + 6], bytes::kLittleEndian), 70000u);
  const uint32_t exif_at = ifd0[34665].entry.value;
  EXPECT_EQ(exif_at, values + 6 + 16);

  auto sub = Entries(tiff, exif_at);
  EXPECT_EQ(sub[34855].entry.count, 1u);  // one ISO value: inline
  EXPECT_EQ(std::tuple(sub[34855].entry.value, sub[37380].entry.type),
            std::tuple(400u, exif::kTypeSRational));
  const uint32_t bias = sub[37380].entry.value;
  EXPECT_EQ(bytes::Read32(&tiff[bias], bytes::kLittleEndian), 0xFFFFFFFFu);
  EXPECT_EQ(bytes::Read32(&tiff[bias + 4], bytes::kLittleEndian), 3u);
  EXPECT_EQ(sub[37500].entry.value, bias + 8);  // 5 bytes, then 1 zero byte
  EXPECT_FALSE(sub.count(40965));               // no Interoperability pointer asked for
  EXPECT_EQ(tiff.size(), bias + 8 + 6 + 6);  // then the empty Interoperability IFD

  ArrayAdd(&exif->ISOSpeedRatings, uint16_t{800});
  ArrayAdd(&exif->ISOSpeedRatings, uint16_t{1600});
  auto three = Entries(Tiff(Build(list)), exif_at);
  EXPECT_EQ(three[34855].entry.count, 3u);
  EXPECT_EQ(three[37380].entry.value, three[34855].entry.value + 6);
}

// A host that breaks its contract (a 1 GiB blob over 4 bytes, an array count
// of 0x7FFFFFFF) gets a refusal, not a crash: no element is read.
TEST(ExifBlockBuilderTest, RefusedLists) {
  const auto fail = [](std::vector<uint8_t>*) { return false; };
  const auto big = [](std::vector<uint8_t>* out) {
    out->assign(kMaxBuiltTiffSize, 0);
    return true;
  };
  enum class Lie : uint8_t { kNone, kBlob, kArray };
  struct Case {
    const char* name;
    bool main, exif, thumb;
    uint32_t maker_note_size;
    ThumbnailMaker maker;
    Lie lie = Lie::kNone;
  } cases[] = {
      {"no INFO_TIFF_MAIN", false, true, false, 0, {}},
      {"no INFO_EXIF", true, false, false, 0, {}},
      {"thumbnail maker fails", true, true, true, 0, fail},
      {"thumbnail does not fit", true, true, true, 0, big},
      {"values do not fit", true, true, false, kMaxBuiltTiffSize, {}},
      {"blob larger than its bytes", true, true, false, 0, {}, Lie::kBlob},
      {"array longer than its elements", true, true, false, 0, {}, Lie::kArray},
  };
  uint8_t four[4] = {1, 2, 3, 4};
  uint32_t one[1] = {8};
  for (const Case& c : cases) {
    RecordList list;
    TiffInfo* main = c.main ? list.Add<TiffInfo>(kMain) : nullptr;
    if (c.thumb) list.Add<TiffInfo>(kThumb);
    ExifInfo* exif = c.exif ? list.Add<ExifInfo>(kExif) : nullptr;
    if (exif) {
      exif->mask_l = EXIF_L_MAKER_NOTE;
      std::vector<uint8_t> note(c.maker_note_size, 1);
      HostBlobSet(&exif->MakerNote, note.data(), note.size());
    }
    if (c.lie == Lie::kBlob) exif->MakerNote = {four, 1u << 30};
    if (c.lie == Lie::kArray) {
      exif->mask_l = 0;
      main->mask1 = TIFF_M1_STRIP_OFFSETS;
      main->StripOffsets.elements = one;
      main->StripOffsets.count = 0x7FFFFFFF;
    }
    EXPECT_FALSE(BuildExifSegment(list.get(), c.maker)) << c.name;
    if (c.lie == Lie::kBlob) exif->MakerNote = {};  // the list frees what it holds
    if (main) main->StripOffsets = {};
  }
}

}  // namespace
}  // namespace veltora::create
