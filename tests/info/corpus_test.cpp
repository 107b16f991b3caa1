// The record parser over the real corpus: every attribute it fills agrees
// with exiftool's view of the file (the oracle/ folder holds
// `exiftool -a -u -G1 -n -j` of each file), apart from the differences its
// rules force, each listed below with its reason; and the records survive
// the block builder: parsed, built into a new segment and parsed again, they
// are the same.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "create/exif_block_builder.h"
#include "create/whole_file.h"
#include "exif/exif_reader.h"
#include "frame/veltora.h"
#include "host/record_json.h"
#include "info/exif_records.h"
#include "info/record_parser.h"
#include "interface/record_fields.h"
#include "tests/create/records.h"
#include "tests/info/exiftool_view.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/temp_dir.h"

namespace veltora::info {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

// The file's records. A file that is not EXIF to the presence test (an
// APP0 segment, XMP behind the EXIF APP1, no EXIF directory) is handed to the
// parser itself, from its first APP1 or its first byte, as CollectExifRecords
// would after the test.
HRESULT ParseCorpusFile(const fs::path& file, testing::RecordList* records) {
  const HRESULT result = CollectExifRecords(file.c_str(), records->get(), INFO_EXIF_RECORDS);
  if (result != E_NOTEXIF) return result;
  const std::vector<uint8_t> bytes = testing::ReadFile(file);
  if (bytes.size() > 2 && bytes[0] == 0xFF && bytes[1] == 0xD8) {
    const int64_t app1 = create::FindJpegMarker(0xFFE1, bytes);
    if (app1 < 0) return E_FAIL;
    return ParseExifSegment(std::span(bytes).subspan(static_cast<size_t>(app1)), records->get(),
                            INFO_EXIF_RECORDS);
  }
  return ParseTiffBlock(bytes.data(), static_cast<uint32_t>(bytes.size()), records->get(),
                        INFO_EXIF_RECORDS);
}

bool Near(double a, double b) { return std::fabs(a - b) <= 1e-6 * std::max(1.0, std::fabs(b)); }

std::string OracleText(const Json& oracle) {
  return oracle.is_string() ? oracle.get<std::string>() : oracle.dump();
}

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

// A text as exiftool shows it: up to its first NUL (a version: without its
// NULs); bytes that are not UTF-8 (held in {"hex": ...}) as '?'.
std::string ShownText(const Json& ours, bool drop_nuls) {
  std::string text;
  if (ours.is_string()) {
    text = ours.get<std::string>();
  } else {
    for (uint8_t b : FromHex(ours.value("hex", ""))) text += b >= 0x80 ? '?' : static_cast<char>(b);
  }
  if (drop_nuls) std::erase(text, '\0');
  return testing::Trimmed(text.substr(0, text.find('\0')));
}

// Whether our value (in the records' JSON form) says what exiftool says.
// `base` is the file offset of the TIFF header, which exiftool adds to the
// thumbnail's and the strips' offsets.
bool Agrees(const RecordField& f, const Json& ours, const Json& oracle, uint32_t base) {
  std::vector<double> theirs = testing::ShownNumbers(oracle);
  if (f.tag == 513 || f.tag == 273) {
    for (double& v : theirs) v -= base;
  }
  switch (f.kind) {
    case FieldKind::kU8:
      // An UNDEFINED byte exiftool shows as text.
      if (oracle.is_string() && oracle.get<std::string>().size() == 1) {
        return static_cast<uint8_t>(oracle.get<std::string>()[0]) == ours.get<uint32_t>();
      }
      [[fallthrough]];
    case FieldKind::kU16:
    case FieldKind::kU32:
    case FieldKind::kSized:
      return theirs.size() == 1 && theirs[0] == ours.get<double>();
    case FieldKind::kU16Array:
    case FieldKind::kShortArray:
    case FieldKind::kLongArray: {
      if (theirs.empty() || theirs.size() > ours.size()) return false;
      if (f.kind != FieldKind::kU16Array && theirs.size() != ours.size()) return false;
      return std::equal(theirs.begin(), theirs.end(), ours.begin(),
                        [](double t, const Json& o) { return o.get<double>() == t; });
    }
    case FieldKind::kRational:
    case FieldKind::kSRational: {
      const Json pairs = f.count == 1 ? Json::array({ours}) : ours;
      std::vector<double> values;
      for (const Json& p : pairs) {
        if (p[1].get<double>() == 0)
          return oracle.is_string() || (theirs.size() == 1 && theirs[0] == 0);
        values.push_back(testing::ApexAsShown(f.name, p[0].get<double>() / p[1].get<double>()));
      }
      // GPS degrees: decimal in exiftool.
      if (f.tag == 2 || f.tag == 4 || f.tag == 20 || f.tag == 22) {
        return theirs.size() == 1 && Near(values[0] + values[1] / 60 + values[2] / 3600, theirs[0]);
      }
      if (f.directory == FieldDirectory::kGps && f.tag == 7) {  // GPSTimeStamp: "hh:mm:ss"
        double h = 0, m = 0, s = 0;
        char c1 = 0, c2 = 0;
        std::istringstream(OracleText(oracle)) >> h >> c1 >> m >> c2 >> s;
        return Near(values[0], h) && Near(values[1], m) && Near(values[2], s);
      }
      return theirs.size() == values.size() &&
             std::equal(values.begin(), values.end(), theirs.begin(), Near);
    }
    case FieldKind::kText:
    case FieldKind::kChars4:
      if (oracle.is_number())
        return ours.is_string() && theirs.size() == 1 &&
               Near(std::stod(ours.get<std::string>()), theirs[0]);
      return ShownText(ours, f.kind == FieldKind::kChars4) == testing::Trimmed(OracleText(oracle));
    case FieldKind::kBytes4: {
      const std::vector<uint8_t> bytes = FromHex(ours.get<std::string>());
      return !theirs.empty() && theirs.size() <= bytes.size() &&
             std::equal(theirs.begin(), theirs.end(), bytes.begin());
    }
    case FieldKind::kBlob: {
      const std::vector<uint8_t> bytes = FromHex(ours.get<std::string>());
      const std::string text = OracleText(oracle);
      if (f.tag == 41730 && bytes.size() >= 4) {  // CFAPattern: columns, rows (file order), colours
        for (const bool big : {false, true}) {
          std::vector<double> decoded = {
              big ? bytes[0] * 256.0 + bytes[1] : bytes[1] * 256.0 + bytes[0],
              big ? bytes[2] * 256.0 + bytes[3] : bytes[3] * 256.0 + bytes[2]};
          decoded.insert(decoded.end(), bytes.begin() + 4, bytes.end());
          if (decoded == theirs) return true;
        }
        return false;
      }
      if (text.rfind("(Binary data ", 0) == 0)
        return text.find(fmt::format("{} bytes", bytes.size())) != std::string::npos;
      // Comments: an 8-byte character code, then the text exiftool shows.
      if (bytes.size() < 8) return text.empty();
      const std::string comment(bytes.begin() + 8, bytes.end());
      return testing::Trimmed(comment.substr(0, comment.find('\0'))) == testing::Trimmed(text);
    }
    default:
      return true;
  }
}

// Whether a rule of the parser forces this disagreement.
bool Forced(const RecordField& f, const Json& ours, const Json& oracle) {
  // A fixed-length field takes its length whatever the entry's count
  // (BitsPerSample, YCbCrSubSampling, SubjectLocation, TransferFunction):
  // exiftool shows the stored values only.
  if (f.kind == FieldKind::kU16Array) return true;
  // A single-valued field takes the first value of an entry that holds
  // several; exiftool shows them all.
  const std::vector<double> theirs = testing::ShownNumbers(oracle);
  return f.count == 1 && ours.is_number() && theirs.size() > 1 && theirs[0] == ours.get<double>();
}

TEST(RecordParserCorpusTest, EveryFilledAttributeAgreesWithExiftool) {
  const std::vector<fs::path> files = testing::CorpusPictures();
  if (files.empty()) GTEST_SKIP() << "no corpus";
  size_t parsed = 0;
  for (const fs::path& file : files) {
    std::ifstream oracle_file(file.parent_path() / "oracle" /
                              (file.filename().string() + ".exiftool.json"));
    if (!oracle_file) continue;
    const Json oracle = Json::parse(oracle_file)[0];
    testing::RecordList records;
    if (ParseCorpusFile(file, &records) != S_OK) continue;
    ++parsed;
    const std::vector<uint8_t> head = testing::ReadFile(file);
    const int64_t first_app1 = create::FindJpegMarker(0xFFE1, head);
    const uint32_t base = first_app1 < 0 ? 0 : static_cast<uint32_t>(first_app1) + 10;
    const Json document = host::RecordsToJson(*records.get());
    for (const RecordSchema& schema : RecordSchemas()) {
      if (!document.contains(schema.name)) continue;
      const Json& record = document[schema.name];
      for (const RecordField& f : schema.fields) {
        if (f.kind == FieldKind::kFlag || !record.contains(f.name)) continue;
        const std::string key = testing::ExiftoolKey(schema.name, f);
        if (!oracle.contains(key)) {
          // exiftool decodes maker notes and print-matching data into groups
          // of their own and shows no raw value for them; a file it cannot
          // walk at all ("JPEG format error") has no EXIF view. The parser
          // walks on past an entry of an unknown type, as its rules say;
          // exiftool abandons the directory there ("Bad format") and shows
          // none of the entries after it.
          const bool decoded = f.tag == 37500 || f.tag == 50341;
          const bool abandoned =
              oracle.value("ExifTool:Warning", "").find("Bad format") != std::string::npos;
          EXPECT_TRUE(decoded || abandoned || !oracle.contains("IFD0:Make"))
              << file.filename() << " " << key;
          continue;
        }
        if (Agrees(f, record[f.name], oracle[key], base) ||
            Forced(f, record[f.name], oracle[key])) {
          continue;
        }
        ADD_FAILURE() << file.filename() << " " << key << ": ours "
                      << record[f.name].dump().substr(0, 120) << ", exiftool "
                      << oracle[key].dump().substr(0, 120);
      }
    }
  }
  EXPECT_GT(parsed, 50u);
}

// The records without what the builder computes or always writes: the
// thumbnail's place and length, which sub-directories were read, and type
// words other than SHORT, which all mean LONG and are written as LONG (4).
Json Comparable(const ImageInfoList& list) {
  Json document = host::RecordsToJson(list);
  for (auto& [name, record] : document.items()) {
    for (auto& [key, value] : record.items()) {
      if (key.ends_with("Type") && value.is_number() && value != 3) value = 4;
    }
  }
  for (const char* name : {"TiffMain", "TiffThumb"}) {
    if (!document.contains(name)) continue;
    for (const char* key :
         {"JPEGInterchangeFormat", "JPEGInterchangeFormatLength", "ExifIfdRead", "GpsIfdRead"}) {
      document[name].erase(key);
    }
  }
  if (document.contains("Exif")) document["Exif"].erase("InteroperabilityIfd");
  // A GPS record with nothing in it gives no GPS directory, hence no record.
  if (document.contains("Gps") && document["Gps"].empty()) document.erase("Gps");
  return document;
}

TEST(RecordParserCorpusTest, RecordsBuiltIntoANewBlockParseBackTheSame) {
  const std::vector<fs::path> files = testing::CorpusPictures();
  if (files.empty()) GTEST_SKIP() << "no corpus";
  std::vector<uint8_t> thumbnail;
  ASSERT_EQ(create::CopyJpegWithoutApp0(testing::SmallJpeg(), &thumbnail), S_OK);
  size_t from_big_endian = 0;  // round trips of MM files
  for (const fs::path& file : files) {
    testing::RecordList records;
    if (ParseCorpusFile(file, &records) != S_OK) continue;
    const bool big = exif::ExifReader(file.c_str(), 0, 0).Order() == bytes::kBigEndian;
    const auto segment = create::BuildExifSegment(&*records.get(), [&](std::vector<uint8_t>* jpeg) {
      *jpeg = thumbnail;
      return true;
    });
    if (!segment) {
      ADD_FAILURE() << file.filename() << ": the builder refused its records";
      continue;
    }
    testing::RecordList again;
    ASSERT_EQ(ParseExifSegment(*segment, again.get(), INFO_EXIF_RECORDS), S_OK) << file.filename();
    const Json before = Comparable(*records.get());
    const Json after = Comparable(*again.get());
    EXPECT_EQ(after, before) << file.filename() << ": " << Json::diff(before, after).dump();
    from_big_endian += big ? 1 : 0;
  }
  EXPECT_GT(from_big_endian, 10u);
}

}  // namespace
}  // namespace veltora::info
