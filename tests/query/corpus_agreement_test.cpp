// GetExifValue over the real files of the shared corpus, compared with what
// exiftool (-n -G1, run over the corpus) lists for IFD0, the EXIF and GPS
// directories and IFD1 (the thumbnail's offset and length among them). Every
// disagreement must be explained by one of this system's rules below. The
// result codes every query export may give on these files are checked by the
// query exports fuzzer's replay of the same corpus.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "exif/exif_reader.h"
#include "frame/veltora.h"
#include "tests/info/exiftool_view.h"
#include "tests/query/query_test_files.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"

namespace veltora::testing {
namespace {

namespace fs = std::filesystem;

const std::map<std::string, uint32_t> kGroups = {{"IFD0", EXIF_DIR_IFD0},
                                                 {"ExifIFD", EXIF_DIR_EXIF},
                                                 {"GPS", EXIF_DIR_GPS},
                                                 {"IFD1", EXIF_DIR_IFD1}};

// Bytes as exiftool prints text: NUL bytes are dropped, a byte that begins no
// valid UTF-8 sequence becomes '?', trailing blanks are cut.
std::string AsExiftoolPrints(const std::string& raw) {
  std::string out;
  for (size_t i = 0; i < raw.size();) {
    const auto c = static_cast<unsigned char>(raw[i]);
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    bool valid = n > 0 && i + n <= raw.size();
    for (size_t k = 1; valid && k < n; ++k)
      valid = (static_cast<unsigned char>(raw[i + k]) & 0xC0) == 0x80;
    if (!valid) {
      out += '?';
      ++i;
      continue;
    }
    if (c != 0) out.append(raw, i, n);
    i += n;
  }
  return Trimmed(out);
}

template <typename T>
T At(const std::vector<uint8_t>& bytes, size_t i) {
  T v;
  std::memcpy(&v, bytes.data() + i * sizeof(T), sizeof(T));
  return v;
}

// The i-th number of a delivered numeric value; rationals as quotients.
double NumberAt(const Value& d, uint32_t i) {
  const std::vector<uint8_t>& b = d.buffer;
  if (d.type == 3) return At<uint16_t>(b, i);
  if (d.type == 4) return At<uint32_t>(b, i);
  if (d.type == 9) return At<int32_t>(b, i);
  if (d.type == 5) return double(At<uint32_t>(b, 2 * i)) / At<uint32_t>(b, 2 * i + 1);
  if (d.type == 10) return double(At<int32_t>(b, 2 * i)) / At<int32_t>(b, 2 * i + 1);
  return b[i];  // BYTE, UNDEFINED
}

// Numbers of the delivered value; nullopt for text and types without numbers.
std::optional<std::vector<double>> Numbers(const Value& d) {
  if (std::set<uint16_t>{1, 3, 4, 5, 7, 9, 10}.count(d.type) == 0) return std::nullopt;
  std::vector<double> values;
  for (uint32_t i = 0; i < d.count; ++i) values.push_back(NumberAt(d, i));
  return values;
}

bool HasZeroDenominator(const Value& d) {
  if (d.type != 5 && d.type != 10) return false;
  for (uint32_t i = 0; i < d.count; ++i) {
    if (At<uint32_t>(d.buffer, 2 * i + 1) == 0) return true;
  }
  return false;
}

bool Near(double a, double b) {
  return std::fabs(a - b) <= 1e-6 * std::max(1.0, std::fabs(b)) + 1e-4;
}

bool SameNumbers(const std::vector<double>& ours, const std::vector<double>& theirs) {
  return !ours.empty() && ours.size() == theirs.size() &&
         std::equal(ours.begin(), ours.end(), theirs.begin(), Near);
}

// exiftool applies a value conversion to some tags even with -n; the same
// conversion is applied to our stored value before comparing.
// `tiff_header` is the file offset of the TIFF header: exiftool reports
// offsets as file offsets, the file stores them from the TIFF header.
bool Agrees(const std::string& name, const Value& d, const nlohmann::json& theirs,
            uint32_t tiff_header) {
  const std::string text = theirs.is_string() ? theirs.get<std::string>() : theirs.dump();
  if (text.rfind("(Binary data ", 0) == 0) {
    return std::to_string(d.size) == text.substr(13, text.find(' ', 13) - 13);
  }
  if (d.type == 2) {
    const char* chars = reinterpret_cast<const char*>(d.buffer.data());
    const std::string ours = AsExiftoolPrints(std::string(chars, strnlen(chars, d.size)));
    // exiftool's JSON makes a number of text that reads as one ("1.00").
    if (theirs.is_number())
      return SameNumbers(ShownNumbers(nlohmann::json(ours)), ShownNumbers(theirs));
    return ours == Trimmed(text);
  }
  if (d.type == 7) {
    const std::string raw(d.buffer.begin(), d.buffer.begin() + d.size);
    if (name == "UserComment" || name == "GPSProcessingMethod" || name == "GPSAreaInformation") {
      // An 8-byte character code, then text that ends at its first NUL.
      return raw.size() >= 8 && Trimmed(raw.substr(8, raw.find('\0', 8) - 8)) == Trimmed(text);
    }
    if (AsExiftoolPrints(raw) == Trimmed(text)) return true;  // versions: "0221"
  }
  std::optional<std::vector<double>> ours = Numbers(d);
  if (!ours) return false;
  if (ours->size() == 1) (*ours)[0] = ApexAsShown(name, (*ours)[0]);
  if ((name == "GPSLatitude" || name == "GPSLongitude" || name == "GPSDestLatitude" ||
       name == "GPSDestLongitude") &&
      ours->size() == 3) {
    *ours = {(*ours)[0] + (*ours)[1] / 60 + (*ours)[2] / 3600};
  }
  if (name == "ThumbnailOffset" || name == "StripOffsets" || name == "OtherImageStart") {
    for (double& offset : *ours) offset += tiff_header;
  }
  if (name == "GPSTimeStamp") return SameNumbers(*ours, ShownNumbers(theirs, ':'));
  return SameNumbers(*ours, ShownNumbers(theirs));
}

// ---- Explanations -------------------------------------------------------------
struct FileFacts {
  bool jfif = false;  // an APP0 segment of any kind precedes
  bool has_exif_ifd = false;
  uint32_t tiff_header = 0;
  bool tiff = false;  // a TIFF file rather than a JPEG
};

FileFacts Facts(const fs::path& file) {
  exif::ExifReader reader(file.c_str(), 0, 0);
  std::ifstream in(file, std::ios::binary);
  const bool tiff = in.get() != 0xFF;
  return {reader.Jpeg().app0Offset != 0, reader.HasExifIfd() != 0, reader.TiffHeaderOffset(), tiff};
}

// The rule of this system that explains a disagreement, or nullptr.
const char* Explain(const Value& ours, const nlohmann::json& theirs, const FileFacts& facts) {
  if (ours.result == E_NOTEXIF && facts.jfif) {
    return "an APP0 segment (JFIF, JFXX) makes a JPEG not an EXIF file: E_NOTEXIF";
  }
  if (ours.result == E_NOTEXIF && !facts.has_exif_ifd && !facts.tiff) {
    return "a JPEG's last APP1 segment is the one examined; when that holds XMP, no EXIF "
           "directory is located: E_NOTEXIF";
  }
  if (ours.result == E_NOTEXIF && !facts.has_exif_ifd && facts.tiff) {
    return "an EXIF file needs an EXIF directory: a TIFF without one (or whose pointer leads "
           "nowhere) answers E_NOTEXIF even for its IFD0 tags";
  }
  if (ours.result == E_FAIL && theirs == "") return "ASCII with count 0 carries no value: E_FAIL";
  if (ours.result == S_OK && HasZeroDenominator(ours)) {
    return "n/0 rationals are delivered as stored; exiftool shows undef or inf";
  }
  return nullptr;
}

TEST(QueryCorpusTest, GetExifValueAgreesWithExiftool) {
  const auto files = CorpusPictures();
  if (files.empty()) GTEST_SKIP() << "no corpus";
  // exiftool's view of every file in one run; each tag as {"id": tag number,
  // "val": value}.
  const auto oracles = ExiftoolJsonEach(files, {"-n", "-G1", "-a", "-u", "-D", "-q"});
  if (!oracles) GTEST_SKIP() << "no exiftool";
  size_t compared = 0, agreed = 0;
  for (const fs::path& file : files) {
    const auto oracle = oracles->find(file.string());
    if (oracle == oracles->end()) continue;
    const FileFacts facts = Facts(file);
    for (const auto& [key, tag] : oracle->second.items()) {
      const auto group = kGroups.find(key.substr(0, key.find(':')));
      // The thumbnail image has no tag number: its bytes are compared below.
      if (group == kGroups.end() || !tag.is_object() || !tag["id"].is_number()) continue;
      const nlohmann::json& theirs = tag["val"];
      const Value ours = Get(file.string(), group->second, tag["id"].get<uint16_t>(), 1 << 16);
      ++compared;
      if (ours.result == S_OK &&
          Agrees(key.substr(key.find(':') + 1), ours, theirs, facts.tiff_header)) {
        ++agreed;
      } else if (Explain(ours, theirs, facts) == nullptr) {
        ADD_FAILURE() << file.filename() << " " << key << ": exiftool " << theirs.dump()
                      << ", ours result 0x" << std::hex << uint32_t(ours.result) << std::dec
                      << " type " << ours.type << " count " << ours.count;
      }
    }
  }
  std::cout << compared << " values compared, " << agreed << " agree\n";
  EXPECT_GT(agreed, 500u);
}

}  // namespace
}  // namespace veltora::testing
