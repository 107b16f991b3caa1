#include <nlohmann/json.hpp>

#include "host/record_json.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "interface/record_fields.h"

namespace veltora::host {
namespace {

using Json = nlohmann::ordered_json;
using ::testing::HasSubstr;

// Gives every field of the record a value that differs from its neighbours'
// and sets every presence bit.
void FillEveryField(const RecordSchema& schema, void* r) {
  uint32_t seed = 7;
  for (const RecordField& f : schema.fields) {
    seed = seed * 31 + 11;
    switch (f.kind) {
      case FieldKind::kU8: *FieldAt<uint8_t>(r, f.offset) = static_cast<uint8_t>(seed); break;
      case FieldKind::kU16: *FieldAt<uint16_t>(r, f.offset) = static_cast<uint16_t>(seed); break;
      case FieldKind::kU32: *FieldAt<uint32_t>(r, f.offset) = seed; break;
      case FieldKind::kSized:
        *FieldAt<uint32_t>(r, f.offset) = seed & 0xFFFF;
        *FieldAt<uint16_t>(r, f.type_offset) = 3;
        break;
      case FieldKind::kU16Array:
        for (uint32_t i = 0; i < f.count; ++i) FieldAt<uint16_t>(r, f.offset)[i] = static_cast<uint16_t>(seed + i);
        break;
      case FieldKind::kRational:
        for (uint32_t i = 0; i < f.count; ++i) FieldAt<HostRational>(r, f.offset)[i] = {seed + i, 0xFFFFFFFFu};
        break;
      case FieldKind::kSRational:
        for (uint32_t i = 0; i < f.count; ++i) FieldAt<HostSRational>(r, f.offset)[i] = {-1 - int32_t(i), INT32_MIN};
        break;
      case FieldKind::kText:  // UTF-8, or bytes that are not (written as hex)
        ASSERT_TRUE(CStringSet(FieldAt<CString>(r, f.offset), seed & 1 ? "Caf\xe9" : "Caf\xc3\xa9 \"q\""));
        break;
      case FieldKind::kChars4: memcpy(FieldAt<char>(r, f.offset), "0231", 4); break;
      case FieldKind::kBytes4: memcpy(FieldAt<uint8_t>(r, f.offset), "\x01\x02\x03\x00", 4); break;
      case FieldKind::kBlob: ASSERT_TRUE(HostBlobSet(FieldAt<HostBlob>(r, f.offset), "\x00\xff\x10", 3)); break;
      case FieldKind::kShortArray: ASSERT_GE(ArrayAdd(FieldAt<ShortArray>(r, f.offset), 65535), 0); break;
      case FieldKind::kLongArray:
        ASSERT_GE(ArrayAdd(FieldAt<LongArray>(r, f.offset), 0xFFFFFFFFu), 0);
        *FieldAt<uint16_t>(r, f.type_offset) = 4;
        break;
      case FieldKind::kFlag: break;
      case FieldKind::kName128: strcpy(FieldAt<char>(r, f.offset), "JPG"); break;
    }
    MarkFieldPresent(f, r);
  }
}

TEST(RecordJsonTest, EveryFieldOfEveryRecordSurvivesTheRoundTrip) {
  for (const RecordSchema& schema : RecordSchemas()) {
    void* record = ImageInfoRecordNew(schema.type);
    FillEveryField(schema, record);
    const Json json = RecordToJson(schema.type, record);
    size_t type_words = 0;
    for (const RecordField& f : schema.fields) {
      type_words += f.kind == FieldKind::kSized || f.kind == FieldKind::kLongArray;
    }
    EXPECT_EQ(json.size(), schema.fields.size() + type_words) << schema.name;

    OwnedRecords back = RecordsFromJson(Json{{schema.name, json}});
    ASSERT_EQ(back.list()->count, 1u);
    void* again = ImageInfoListFind(back.list(), schema.type);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(RecordToJson(schema.type, again), json) << schema.name;
    // Masks are not in the JSON: they come back from the fields alone.
    for (const RecordField& f : schema.fields) {
      if (f.mask_offset != kNoMask) {
        EXPECT_EQ(*FieldAt<uint32_t>(again, f.mask_offset), *FieldAt<uint32_t>(record, f.mask_offset)) << f.name;
      }
    }
    ImageInfoRecordDelete(schema.type, record);
  }
}

TEST(RecordJsonTest, SizedValuesKeepTheirTypeWordAndDefaultToLong) {
  OwnedRecords records = RecordsFromJson(Json::parse(
      R"([{"SourceFile": "a.jpg", "TiffMain": {"ImageWidth": 640, "ImageWidthType": 3, "ImageLength": 70000}}])"));
  const auto* tiff = static_cast<const TiffInfo*>(ImageInfoListFind(records.list(), INFO_TIFF_MAIN));
  ASSERT_NE(tiff, nullptr);
  EXPECT_EQ(std::tuple(tiff->ImageWidthType, tiff->ImageLength, tiff->ImageLengthType),
            std::tuple(3, 70000u, 4));
  EXPECT_EQ(tiff->mask1, TIFF_M1_IMAGE_WIDTH | TIFF_M1_IMAGE_LENGTH);
}

TEST(RecordJsonTest, BadDocumentsAreRefusedNamingTheField) {
  const struct {
    const char* document;
    const char* message;
  } cases[] = {
      {R"({"Exif": {"FNumer": [1, 2]}})", "Exif.FNumer: unknown field"},
      {R"({"Exfi": {}})", "Exfi: unknown record"},
      {R"({"Exif": {"FNumber": "f/5.6"}})", "Exif.FNumber: expected [numerator, denominator]"},
      {R"({"Exif": {"FNumber": [56, -10]}})", "Exif.FNumber denominator: expected a whole number from 0"},
      {R"({"Exif": {"ShutterSpeedValue": [2147483648, 1]}})", "Exif.ShutterSpeedValue numerator"},
      {R"({"Exif": {"Flash": 65536}})", "Exif.Flash: expected a whole number from 0 to 65535"},
      {R"({"Exif": {"PixelXDimension": 70000, "PixelXDimensionType": 3}})", "Exif.PixelXDimension"},
      {R"({"Exif": {"PixelXDimensionType": 3}})", "Exif.PixelXDimensionType: given without PixelXDimension"},
      {R"({"Exif": {"ExifVersion": "02300"}})", "Exif.ExifVersion: at most 4 bytes"},
      {R"({"Exif": {"MakerNote": "0g"}})", "Exif.MakerNote: 'g' is not a hex digit"},
      {R"({"Exif": {"InteroperabilityIfd": 1}})", "Exif.InteroperabilityIfd: expected true or false"},
      {R"({"TiffMain": {"Make": "a\u0000b"}})", "TiffMain.Make: a text cannot hold a NUL"},
      {R"({"TiffMain": {"WhitePoint": [[1, 2]]}})", "TiffMain.WhitePoint: expected 2 [numerator, denominator] pairs"},
      {R"({"TiffMain": {"BitsPerSample": [8, 8]}})", "TiffMain.BitsPerSample: expected 3 numbers"},
      {R"({"TiffMain": {"StripOffsets": [70000], "StripOffsetsType": 3}})", "TiffMain.StripOffsets[0]"},
      {R"({"Gps": {"GPSLatitude": [[48, 1], [51, 1], [30, "1"]]}})", "Gps.GPSLatitude[2] denominator"},
      {R"([{}, {}])", "exactly one file"},
      {R"([{"SourceFile": "x", "Error": "E_NOTEXIF"}])", "a file that failed"},
  };
  for (const auto& c : cases) {
    EXPECT_THAT([&] { (void)RecordsFromJson(Json::parse(c.document)); },
                ::testing::ThrowsMessage<RecordJsonError>(HasSubstr(c.message)))
        << c.document;
  }
}

}  // namespace
}  // namespace veltora::host
