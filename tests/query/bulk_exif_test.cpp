// GetExif into the three host records.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "tests/query/query_test_files.h"

namespace veltora::testing {
namespace {

using Records = GetExifRecords;

std::vector<uint16_t> Tags(const ShortArray& list) {
  return {ArrayView(&list).begin(), ArrayView(&list).end()};
}

void Want(ShortArray* list, std::vector<uint16_t> tags) {
  ArrayAppend(list, tags.data(), tags.size());
}

using BulkExifTest = QueryTest;

TEST_P(BulkExifTest, UnsetCameraClockIsListedWithAnEmptyDate) {
  Records r;
  std::memset(&r.exif.DateTimeOriginal, 0xFF, sizeof r.exif.DateTimeOriginal);
  const std::string path = Jpeg(Builder().Ascii(kExif, 36867, "0000:00:00 00:00:00"));
  EXPECT_EQ(GetExif(path.c_str(), &r.exif, nullptr, nullptr), S_OK);
  EXPECT_EQ(Tags(r.exif.tags), (std::vector<uint16_t>{36867}));
  const SYSTEMTIME zero{};
  EXPECT_EQ(std::memcmp(&r.exif.DateTimeOriginal, &zero, sizeof zero), 0);
}

TEST_P(BulkExifTest, RequestedTagsSelectWithinTheirDirectory) {
  const std::string path = Jpeg(Typical());
  {
    // Only an EXIF tag named: the empty IFD0 set collects all of IFD0.
    Records r;
    Want(&r.exif.tags, {33434});
    EXPECT_EQ(GetExif(path.c_str(), &r.exif, nullptr, nullptr), S_OK);
    EXPECT_EQ(Tags(r.exif.tags), (std::vector<uint16_t>{271, 272, 274, 33434}));
  }
  {
    // Only a tag without a field: both sets empty, everything handled comes,
    // IFD0 tags first, each directory in its stored (sorted) order.
    Records r;
    Want(&r.exif.tags, {305});
    EXPECT_EQ(GetExif(path.c_str(), &r.exif, &r.gps, &r.maker), S_OK);
    EXPECT_EQ(Tags(r.exif.tags), (std::vector<uint16_t>{271, 272, 274, 33434, 33437, 34855, 36864,
                                                        36867, 37377, 37380, 37385, 41987}));
    const auto& e = r.exif;
    EXPECT_EQ(std::tuple(std::string(CStringGet(&e.Make)), e.Orientation,
                         std::string(e.ExifVersion, 4), e.DateTimeOriginal.wSecond,
                         e.ShutterSpeedValue.numerator, e.ExposureBiasValue.denominator),
              std::tuple("Maker", 6, "0230", 5, -3, 3));
    EXPECT_TRUE(Tags(r.gps.tags).empty());
    EXPECT_TRUE(Tags(r.maker.tags).empty());
  }
  {
    Records r;
    Want(&r.exif.tags, {274, 37385, 36867});
    r.exif.ISOSpeedRatings = 1234;  // not asked for: left alone
    EXPECT_EQ(GetExif(path.c_str(), &r.exif, nullptr, nullptr), S_OK);
    EXPECT_EQ(Tags(r.exif.tags), (std::vector<uint16_t>{274, 36867, 37385}));
    EXPECT_EQ(r.exif.ISOSpeedRatings, 1234);
    EXPECT_EQ(CStringLength(&r.exif.Make), 0);
  }
}

// A tag stored twice in one directory is collected twice: GetExif lists it
// twice in directory order, and GetExifValue reads its first entry.
TEST_P(BulkExifTest, RepeatedTagsComeAsOftenAsTheDirectoryHasThem) {
  struct {
    Dir dir;
    uint16_t repeated, between;  // UNDEFINED[4] and SHORT fields of the record
    std::vector<uint16_t> exif_tags, gps_tags;
  } cases[] = {
      {kExif, 36864, 37385, {36864, 37385, 36864}, {}},
      {kGps, 0, 1, {}, {0, 1, 0}},
  };
  for (const auto& c : cases) {
    TiffBuilder b = Builder();
    b.Directory(kExif)
        .KeepEntryOrder()
        .Undefined(c.dir, c.repeated, {'0', '2', '2', '0'})
        .Short(c.dir, c.between, 1)
        .Undefined(c.dir, c.repeated, {'0', '2', '3', '0'});
    const std::string path = Jpeg(b);
    Records r;
    EXPECT_EQ(GetExif(path.c_str(), &r.exif, &r.gps, nullptr), S_OK) << c.repeated;
    EXPECT_EQ(Tags(r.exif.tags), c.exif_tags);
    EXPECT_EQ(Tags(r.gps.tags), c.gps_tags);
    std::string first(4, '\0');
    uint32_t size = 4;
    EXPECT_EQ(GetExifValue(path.c_str(), c.dir, c.repeated, first.data(), &size, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(first, "0220") << c.repeated;
  }
}

TiffBuilder WithGps(TiffBuilder b) {
  const std::vector<uint8_t> method = {'A', 'S', 'C', 'I', 'I', 0, 0, 0, 'G', 'P', 'S'};
  b.Byte(kGps, 0, {2, 3, 0, 0})
      .Ascii(kGps, 1, "N")
      .Rationals(kGps, 2, {{48, 1}, {51, 1}, {3024, 100}})
      .Ascii(kGps, 3, "W")
      .Rationals(kGps, 4, {{2, 1}, {17, 1}, {4020, 100}})
      .Byte(kGps, 5, {1})
      .Rational(kGps, 6, 35, 2)
      .Rationals(kGps, 7, {{7, 1}, {30, 1}, {5, 1}})
      .Ascii(kGps, 18, "WGS-84")
      .Undefined(kGps, 27, method)
      .Ascii(kGps, 29, "2024:05:14")
      .Raw(kGps, 100, 3, 1, b.U16({5}));
  return b;
}

TEST_P(BulkExifTest, GpsRecord) {
  const std::string path = Jpeg(WithGps(Typical()));
  Records r;
  // Left over from an earlier call: the export empties them.
  const uint8_t old[] = {9, 9, 9};
  ArrayAppend(&r.gps.GPSAreaInformation, old, 3);
  EXPECT_EQ(GetExif(path.c_str(), nullptr, &r.gps, nullptr), S_OK);
  EXPECT_EQ(Tags(r.gps.tags), (std::vector<uint16_t>{0, 1, 2, 3, 4, 5, 6, 7, 18, 27, 29}));
  EXPECT_EQ(std::tuple(std::string(r.gps.GPSLongitudeRef), r.gps.GPSLongitude[1].numerator,
                       r.gps.GPSAltitudeRef, r.gps.GPSAltitude.numerator,
                       r.gps.GPSTimeStamp[1].numerator),
            std::tuple("W", 17u, 1, 35u, 30u));
  EXPECT_STREQ(CStringGet(&r.gps.GPSDateStamp), "2024:05:14");
  ASSERT_EQ(r.gps.GPSProcessingMethod.count, 11);
  EXPECT_EQ(std::memcmp(r.gps.GPSProcessingMethod.elements, "ASCII\0\0\0GPS", 11), 0);
  EXPECT_EQ(r.gps.GPSAreaInformation.count, 0);

  // A listed tag without a field is collected but cannot be delivered.
  Records some;
  Want(&some.gps.tags, {2, 100});
  EXPECT_EQ(GetExif(path.c_str(), nullptr, &some.gps, nullptr), S_OK);
  EXPECT_EQ(Tags(some.gps.tags), (std::vector<uint16_t>{2}));
}

// Every 2- and 4-byte field of the maker record takes the value of its own
// tag: each tag carries a different number. The flags and the date besides.
TEST_P(BulkExifTest, QuorvantaMakerRecord) {
  Records r;
  const MakerTagSet& m = r.maker;
  const std::map<uint16_t, const uint16_t*> shorts = {
      {0x0001, &m.value_0001}, {0x0003, &m.value_0003}, {0x0007, &m.value_0007},
      {0x000F, &m.value_000F}, {0x001A, &m.value_001A}, {0x001C, &m.value_001C},
      {0x001F, &m.value_001F}, {0x0020, &m.value_0020}, {0x0022, &m.value_0022},
      {0x0027, &m.value_0027}, {0x0028, &m.value_0028}, {0x002A, &m.value_002A},
      {0x002D, &m.value_002D}, {0x0032, &m.value_0032},
  };
  const std::map<uint16_t, const void*> longs = {
      {0x0002, m.value_0002}, {0x0026, m.value_0026}, {0x002B, m.value_002B}};
  TiffBuilder b = Typical();
  b.MakerNoteHeader(MakerNoteForm::kSignature, "Quorvanta")
      .Undefined(kMakerNote, 0x0021, {1, 0, 0, 0})
      .Ascii(kMakerNote, 0x0033, "2023:12:31 23:59:58")
      .Raw(kMakerNote, 0x0E00, 7, 0, {})
      .Short(kMakerNote, 0x0099, 1);
  for (const auto& [tag, field] : shorts) b.Short(kMakerNote, tag, uint16_t(0x100 + tag));
  for (const auto& [tag, field] : longs) b.Long(kMakerNote, tag, 0x10000u * tag + 1);
  r.maker.present_4950 = 7;  // kept: only the other two flags are reset
  r.maker.present_0E00 = 7;
  ASSERT_EQ(GetExif(Jpeg(b).c_str(), nullptr, nullptr, &r.maker), S_OK);
  EXPECT_STREQ(CStringGet(&r.maker.signature), "Quorvanta");
  // 0x0E00 has count 0: listed, flag 0. 0x0099 has no field.
  EXPECT_EQ(Tags(r.maker.tags).size(), shorts.size() + longs.size() + 3);
  EXPECT_EQ(std::tuple(r.maker.present_0021, r.maker.present_0E00, r.maker.present_4950),
            std::tuple(1u, 0u, 7u));
  EXPECT_EQ(std::tuple(r.maker.date_0033.wYear, r.maker.date_0033.wSecond), std::tuple(2023, 58));
  for (const auto& [tag, field] : shorts) EXPECT_EQ(*field, 0x100 + tag) << tag;
  for (const auto& [tag, field] : longs) {
    uint32_t v = 0;
    std::memcpy(&v, field, 4);
    EXPECT_EQ(v, 0x10000u * tag + 1) << tag;
  }
}

TEST_P(BulkExifTest, OtherMakersLeaveTheMakerRecordEmpty) {
  for (const char* signature : {"QuorvantaX", "Quorvant", "Other"}) {
    Records r;
    CStringSet(&r.maker.signature, "stale");
    r.maker.present_0021 = 5;
    TiffBuilder note = Typical();
    note.MakerNoteHeader(MakerNoteForm::kSignature, signature)
        .Short(kMakerNote, 0x0001, 11)
        .Undefined(kMakerNote, 0x0021, {1, 0, 0, 0});
    const std::string path = Jpeg(note, "other.jpg");
    EXPECT_EQ(GetExif(path.c_str(), nullptr, nullptr, &r.maker), E_FAIL) << signature;
    EXPECT_EQ(CStringLength(&r.maker.signature), 0) << signature;
    EXPECT_TRUE(Tags(r.maker.tags).empty()) << signature;
    EXPECT_EQ(r.maker.present_0021, 0u) << signature;
    // The other records still make the call a success.
    EXPECT_EQ(GetExif(path.c_str(), &r.exif, nullptr, &r.maker), S_OK) << signature;
  }
}

// A directory whose entry count lies outside the block delivers nothing and
// leaves the fields of the tags it was asked for as they were.
TEST_P(BulkExifTest, UnreadableDirectoryLeavesItsFieldsAlone) {
  for (Dir dir : {kExif, kGps}) {
    TiffBuilder b = WithGps(Typical());
    b.WithoutPointer(dir).Long(kIfd0, dir == kExif ? 34665 : 34853, 0xFFFFFFF0);
    Records r;
    r.exif.ISOSpeedRatings = 1234;
    r.exif.ExposureTime = {5, 6};
    r.gps.GPSAltitudeRef = 7;
    r.gps.GPSLatitude[0] = {8, 9};
    EXPECT_EQ(GetExif(Jpeg(b).c_str(), &r.exif, &r.gps, nullptr), S_OK) << dir;
    EXPECT_EQ(std::tuple(r.exif.ISOSpeedRatings, r.exif.ExposureTime.numerator,
                         r.gps.GPSAltitudeRef, r.gps.GPSLatitude[0].numerator),
              dir == kExif ? std::tuple(1234, 5u, 1, 48u) : std::tuple(400, 1u, 7, 8u))
        << dir;
  }
}

TEST_P(BulkExifTest, Refusals) {
  Records r;
  const std::string path = Jpeg(Typical());
  EXPECT_EQ(GetExif(nullptr, &r.exif, nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(GetExif(path.c_str(), nullptr, nullptr, nullptr), E_INVALIDARG);
  Want(&r.exif.tags, {271});
  EXPECT_EQ(GetExif(JfifJpeg(Typical()).c_str(), &r.exif, &r.gps, &r.maker), E_NOTEXIF);
  EXPECT_EQ(Tags(r.exif.tags), (std::vector<uint16_t>{271})) << "untouched when refused";
  // Found but not convertible: the field is cleared, the tag not listed.
  TiffBuilder broken = Builder();
  broken.Rational(kExif, 33434, 1, 8).WithOffset(0xFFFFFFF8);
  Records b;
  b.exif.ExposureTime = {5, 5};
  Want(&b.exif.tags, {33434});
  EXPECT_EQ(GetExif(Jpeg(broken, "broken.jpg").c_str(), &b.exif, nullptr, nullptr), E_FAIL);
  EXPECT_TRUE(Tags(b.exif.tags).empty());
}

VELTORA_BOTH_BYTE_ORDERS(BulkExifTest);

}  // namespace
}  // namespace veltora::testing
