// Every EXIF JPEG and TIFF of the shared corpus, and a copy of each of its
// JFIF JPEGs without the APP0 segment, edited each way the exports allow and
// read back by exiftool and exiv2. Every tag of every group, maker notes
// included, must read as before except the edited tags, the DateTime stamp
// and file positions; scan data, TIFF image data and the thumbnail stay byte
// for byte; neither tool finds a new problem. An export may refuse an edit,
// but then leaves no file behind and the input as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <sstream>

#include "edit/exif_editor.h"
#include "frame/veltora.h"
#include "tests/create/records.h"
#include "tests/edit/edit_test_support.h"
#include "tests/edit/picture_checks.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"

namespace veltora::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// Keys an edit may change without damage: those about the file rather than
// its metadata, the DateTime stamp, and positions that move with the block.
bool FileOrPosition(const std::string& key) {
  static const std::set<std::string> kFileGroups = {"File", "System", "ExifTool", "Composite"};
  const size_t colon = key.find(':');
  if (key == "SourceFile" || key == "IFD0:ModifyDate" ||
      kFileGroups.count(key.substr(0, colon)) != 0) {
    return true;
  }
  const std::string name = key.substr(colon + 1);
  for (const char* end : {"Offset", "Offsets", "Start", "Pointer"}) {
    if (name.ends_with(end)) return true;
  }
  return false;
}

// The scan data (from the first SOS on) of a JPEG, or empty.
std::vector<uint8_t> ScanData(const std::vector<uint8_t>& jpeg) {
  for (const auto& s : WalkSegments(jpeg)) {
    if (s.marker == kSos) return {jpeg.begin() + static_cast<ptrdiff_t>(s.offset), jpeg.end()};
  }
  return {};
}

std::vector<uint8_t> ImageData(const fs::path& tiff) {
  FileEditor editor(tiff);
  if (!exif::Done(editor.CopyBlock())) return {};
  const uint32_t n = editor.DataLength(exif::kIfd0);
  const auto bytes = ReadFile(tiff);
  const uint64_t at = editor.Source().PrimaryImage().firstStripOffset;
  if (n == 0 || at + n > bytes.size()) return {};
  return {bytes.begin() + static_cast<ptrdiff_t>(at), bytes.begin() + static_cast<ptrdiff_t>(at + n)};
}

std::vector<uint8_t> Thumbnail(const fs::path& file) {
  std::vector<uint8_t> bytes;
  exif::ExifReader(file.c_str(), 0, 0).GetThumbnail(&bytes);
  return bytes;
}

// The JPEG without the APP0 segments that follow its SOI; empty when it
// starts with none.
std::vector<uint8_t> WithoutApp0(const std::vector<uint8_t>& jpeg) {
  const auto segments = WalkSegments(jpeg);
  size_t first = 1;
  while (first < segments.size() && segments[first].marker == kApp0) ++first;
  if (first == 1 || first == segments.size()) return {};
  std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
  out.insert(out.end(), jpeg.begin() + static_cast<ptrdiff_t>(segments[first].offset), jpeg.end());
  return out;
}

// What becomes of the pictures: kept byte for byte, or a new thumbnail, or a
// new main picture and thumbnail (both the Gradient of the host's picture).
enum class Pictures { kKept, kNewThumbnail, kNewMain };

struct Edit {
  const char* name;
  // Runs the edit of `in` into `out`; S_OK or the export's result.
  std::function<HRESULT(const fs::path& out, const fs::path& in)> run;
  std::vector<std::string> changed;  // key prefixes the edit changes on purpose
  std::vector<std::pair<std::string, json>> expected = {};  // null: the key is gone
  Pictures pictures = Pictures::kKept;
  // Keys that keep their value or take this one (a merge may leave a tag out).
  std::vector<std::pair<std::string, json>> merged = {};
  // The corpus files the edit refuses with E_FAIL, and why. A file refused
  // and not listed fails the test: an edit must not start refusing more.
  std::map<std::string, std::string> refusals = {};

  bool Changes(const std::string& key) const {
    return std::any_of(changed.begin(), changed.end(),
                       [&](const std::string& p) { return key.starts_with(p); }) ||
           std::any_of(merged.begin(), merged.end(), [&](const auto& m) { return m.first == key; });
  }
};

// Removal is tried only on files that have a GPS directory: S_FALSE skips
// the others.
HRESULT Gps(const fs::path& out, const fs::path& in, bool remove) {
  if (remove && exif::ExifReader(in.c_str(), 0, 0).GpsIfd().offset == 0) return S_FALSE;
  GpsSet gps;
  if (!remove) {
    // With a processing method, which exiftool's validation asks of a TIFF.
    gps.Tags({1, 2, 3, 4, 5, 6, 18, 27})
        .Position('N', 48, 'E', 2)
        .Datum("WGS-84")
        .Method({'A', 'S', 'C', 'I', 'I', 0, 0, 0, 'G', 'P', 'S'});
  }
  return ReplaceExifGps(out.c_str(), in.c_str(), 90, &gps.set);
}

// Records merged into the EXIF segment: short values replace an entry of the
// same size or are inserted below a higher tag; texts and maker notes never
// are. Which entries the rule picks is checked by the merge's fuzz target.
// JPEGs only: S_FALSE skips a TIFF.
HRESULT MergeRecords(const fs::path& out, const fs::path& in) {
  if (in.extension() != ".jpg") return S_FALSE;
  static RecordList* const records = [] {
    auto* list = new RecordList;
    AddRecords(*list, R"({"TiffMain": {"Orientation": 8, "ResolutionUnit": 3, "Make": "Not merged"},
        "Exif": {"ColorSpace": 65535, "Contrast": 2, "MakerNote": "6e6f7420746869730a"},
        "TiffThumb": {"Orientation": 8}})");
    return list;
  }();
  return AppendExif(out.c_str(), in.c_str(), records->get(), 1);
}

const std::vector<std::string> kOrientation = {"IFD0:Orientation", "IFD1:Orientation"};
const std::vector<std::pair<std::string, json>> kNewGps = {{"GPS:GPSLatitudeRef", "N"},
                                                           {"GPS:GPSMapDatum", "WGS-84"}};

// The host's picture, as a 4:3 picture fits the thumbnail canvas exactly.
constexpr int32_t kNewWidth = 640, kNewHeight = 480;
HGLOBAL NewPicture() {
  static const Dib dib(Gradient(kNewWidth, kNewHeight));
  return dib.handle;
}

// A new thumbnail: IFD1 is new, and an Interoperability directory may be
// made for it. A new main picture also brings what describes it: its size,
// in a TIFF its coding in IFD0, and the print matching of the old one goes.
const std::vector<std::string> kNewThumbnail = {"IFD1:", "InteropIFD:"};
const std::vector<std::string> kNewMain = {
    "IFD1:", "InteropIFD:", "ExifIFD:ExifImageWidth", "ExifIFD:ExifImageHeight", "PrintIM:",
    "IFD0:ImageWidth", "IFD0:ImageHeight", "IFD0:BitsPerSample", "IFD0:Compression",
    "IFD0:PhotometricInterpretation", "IFD0:SamplesPerPixel", "IFD0:RowsPerStrip",
    "IFD0:StripByteCounts", "IFD0:PlanarConfiguration", "IFD0:Predictor", "IFD0:ExtraSamples",
    "IFD0:SampleFormat"};

// Why the corpus files an edit refuses are refused. In place, Orientation is
// patched in IFD0 and IFD1 together or not at all (the rebuild is not asked
// for); GPS tags may not be written below ExifVersion "0210".
const char kNoThumbnailOrientation[] = "IFD1 holds no Orientation to patch beside IFD0's";
const char kNoIfd1[] = "no IFD1, so no thumbnail Orientation to patch beside IFD0's";
const char kNoOrientation[] = "IFD0 holds no Orientation to patch";
const char kNoDate[] = "no DateTimeOriginal";
const char kOldExif[] = "ExifVersion below 0210, or not four characters";

std::map<std::string, std::string> Refused(const char* reason, std::vector<std::string> files) {
  std::map<std::string, std::string> out;
  for (auto& f : files) out[f] = reason;
  return out;
}

std::map<std::string, std::string> Merged(std::vector<std::map<std::string, std::string>> parts) {
  std::map<std::string, std::string> out;
  for (auto& part : parts) out.merge(part);
  return out;
}

const auto kOrientationRefusals = Merged({
    Refused(kNoThumbnailOrientation,
            {"etl_Apple.jpg", "etl_Casio.jpg", "etl_GoPro.jpg", "etl_Ricoh2.jpg",
             "ies_iphone_hdr_YES.jpg", "ies_olympus-c960.jpg", "ies_ricoh-rdc5300.jpg",
             "ies_sanyo-vpcg250.jpg", "mei_Canon_IXUS.jpg", "mei_Canon_IXUS_400.jpg",
             "mei_Canon_PowerShot_A40.jpg", "mei_Canon_PowerShot_S230.jpg",
             "mei_Canon_PowerShot_S30.jpg", "mei_FujiFilm_FinePix6800Zoom.jpg",
             "mei_Kodak_PIXPRO_FZ201.jpg", "mei_Konica_Q-M100_1.jpg", "mei_Nikon_E900_2.jpg",
             "mei_Nokia_3110c_Mobile_Phone.jpg", "mei_Olympus_C960.jpg", "mei_Ricoh_RDC5300.jpg",
             "mei_Sanyo_SR6.jpg", "mei_Sanyo_VPCSX550.jpg", "mei_Traveler_SX330Z.jpg",
             "noapp0_etl_Pentax.jpg", "noapp0_exv_exiv2-canon-eos-20d.jpg",
             "noapp0_exv_exiv2-nikon-d70.jpg", "noapp0_exv_exiv2-nikon-e990.jpg",
             "noapp0_exv_exiv2-olympus-c8080wz.jpg", "noapp0_exv_exiv2-sigma-d10.jpg",
             "noapp0_ies_Kodak_CX7530.jpg", "noapp0_mei_Canon_EOS_REBEL_T3i.jpg",
             "noapp0_mei_Epson_PhotoPC_3000Z.jpg"}),
    Refused(kNoIfd1,
            {"exv_Reagan.tiff", "mei_FujiFilm_DS-7_1.jpg", "mei_FujiFilm_DS-7_2.jpg",
             "mei_FujiFilm_DS-7_3.jpg", "mei_Kodak_DC210.jpg", "mei_Ricoh_DC-3Z_low_res.jpg",
             "mei_Ricoh_DC-3Z_normal_res.jpg", "mei_Sony_D700.jpg",
             "noapp0_exv_exiv2-kodak-dc210.jpg"}),
    Refused(kNoOrientation,
            {"mei_32d08f4a5eb10332506ebedbb9bc7257.jpg", "mei_Issue_211.jpg",
             "mei_Pentax_Optio_S4.jpg", "mei_Pentax_Optio_S4i.jpg", "noapp0_mei_Issue_508.jpg"}),
});

const auto kDateRefusals = Merged({
    Refused(kNoDate, {"mei_32d08f4a5eb10332506ebedbb9bc7257.jpg", "mei_Nokia_3110c_Mobile_Phone.jpg",
                      "mei_f505d8aaa96b8da1a1c92363b898f97a.tif"}),
    Refused("DateTimeOriginal stored in 21 bytes, not 20",
            {"mei_Pentax_Optio_S4.jpg", "mei_Pentax_Optio_S4i.jpg"}),
    Refused("DateTimeOriginal stored in 19 bytes, without its NUL", {"noapp0_ies_Kodak_CX7530.jpg"}),
});

const auto kGpsRefusals = Refused(
    kOldExif, {"ies_sanyo-vpcg250.jpg", "mei_32d08f4a5eb10332506ebedbb9bc7257.jpg",
               "mei_FujiFilm_DS-7_1.jpg", "mei_FujiFilm_DS-7_2.jpg", "mei_FujiFilm_DS-7_3.jpg",
               "mei_Kodak_DC210.jpg", "mei_Konica_Q-M100_1.jpg", "mei_Nikon_E900_2.jpg",
               "mei_Ricoh_DC-3Z_low_res.jpg", "mei_Ricoh_DC-3Z_normal_res.jpg", "mei_Sanyo_SR6.jpg",
               "mei_Sony_D700.jpg", "noapp0_exv_exiv2-kodak-dc210.jpg"});

const Edit kEdits[] = {
    {.name = "orientation in place",
     .run =
         [](const fs::path& out, const fs::path& in) {
           fs::copy_file(in, out);
           return SetOrientation(out.c_str(), out.c_str(), 6, 0);
         },
     .changed = kOrientation,
     .expected = {{"IFD0:Orientation", 6}},
     .refusals = kOrientationRefusals},
    {.name = "date in place",
     .run =
         [](const fs::path& out, const fs::path& in) {
           fs::copy_file(in, out);
           return SetDateTimeOriginal(out.c_str(), SYSTEMTIME{2021, 7, 3, 14, 9, 30, 5, 0});
         },
     .changed = {"ExifIFD:DateTimeOriginal"},
     .expected = {{"ExifIFD:DateTimeOriginal", "2021:07:14 09:30:05"}},
     .refusals = kDateRefusals},
    // Created where the file has no GPS directory, merged where it has one.
    {.name = "GPS written",
     .run = [](const fs::path& out, const fs::path& in) { return Gps(out, in, false); },
     .changed = {"GPS:"},
     .expected = kNewGps,
     .refusals = kGpsRefusals},
    {.name = "GPS removed",
     .run = [](const fs::path& out, const fs::path& in) { return Gps(out, in, true); },
     .changed = {"GPS:"},
     .expected = {{"GPS:GPSLatitude", nullptr}}},
    {.name = "thumbnail replaced",
     .run =
         [](const fs::path& out, const fs::path& in) {
           return ReplaceThumbImage(out.c_str(), in.c_str(), NewPicture(), 90);
         },
     .changed = kNewThumbnail,
     .pictures = Pictures::kNewThumbnail},
    {.name = "main picture replaced",
     .run =
         [](const fs::path& out, const fs::path& in) {
           return ReplaceExifImage(out.c_str(), in.c_str(), NewPicture(), 90);
         },
     .changed = kNewMain,
     .pictures = Pictures::kNewMain,
     .refusals = {{"noapp0_ies_Kodak_CX7530.jpg",
                   "ExifImageWidth holds two numbers, not the one a new size fills"}}},
    // The merge stamps the DateTime of both IFDs.
    {.name = "records merged",
     .run = MergeRecords,
     .changed = {"IFD0:Orientation", "IFD1:ModifyDate"},
     .expected = {{"IFD0:Orientation", 8}},
     .merged = {{"IFD0:ResolutionUnit", 3},
                {"ExifIFD:ColorSpace", 65535},
                {"ExifIFD:Contrast", 2},
                {"IFD1:Orientation", 8}}},
};

// New warnings that the GPS rules force and that are listed here rather
// than fixed: GPSVersionID follows ExifVersion (2.2.0.0 for "0220" and
// "0221"), so a directory that already holds a GPS 2.3 tag such as
// GPSHPositioningError (etl_Apple.jpg) reads as too new for its version.
// exiv2 writes the same version and draws the same warning.
bool RuleForced(const Edit& edit, const std::string& validate_line) {
  return std::string_view(edit.name).starts_with("GPS") &&
         validate_line.find("requires GPSVersionID 2.3.0.0 or higher") != std::string::npos;
}

// What the oracles say of a set of files, exiftool run once for all of them.
struct Reads {
  std::map<std::string, json> tags;
  std::map<std::string, std::vector<std::string>> validate;
  std::map<std::string, Exiv2Output> exiv2;
};

Reads ReadAll(const std::vector<fs::path>& files) {
  Reads reads;
  if (files.empty()) return reads;
  reads.tags = ExiftoolJsonEach(files, {"-a", "-u", "-G1", "-n"}).value_or(reads.tags);
  reads.validate = ExiftoolValidateEach(files).value_or(reads.validate);
  for (const auto& f : files) {
    if (auto v = Exiv2Values(f)) reads.exiv2[f.string()] = std::move(*v);
  }
  return reads;
}

std::string Show(const json& value) {
  constexpr size_t kShown = 40;
  const std::string text = value.is_null() ? "(none)" : value.dump();
  return text.size() > kShown ? text.substr(0, kShown) + "..." : text;
}

// "key before -> after" for every key that reads differently and that the
// edit may not change.
std::vector<std::string> Differences(const json& before, const json& after, const Edit& edit) {
  std::set<std::string> keys;
  for (const auto* object : {&before, &after}) {
    for (const auto& item : object->items()) keys.insert(item.key());
  }
  std::vector<std::string> out;
  for (const auto& key : keys) {
    if (FileOrPosition(key) || edit.Changes(key)) continue;
    const json was = before.value(key, json()), is = after.value(key, json());
    if (was != is) out.push_back(key + " " + Show(was) + " -> " + Show(is));
  }
  return out;
}

// The lines of `after` that `before` does not have.
std::vector<std::string> NewLines(const std::vector<std::string>& before,
                                  const std::vector<std::string>& after) {
  std::vector<std::string> added;
  for (const auto& line : after) {
    if (std::find(before.begin(), before.end(), line) == before.end()) added.push_back(line);
  }
  return added;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) text += "\n  " + l;
  return text;
}

class CorpusRoundTrip : public ::testing::TestWithParam<Edit> {
 protected:
  // The corpus pictures (camera and TIFF) and the copies without APP0, read
  // by the oracles once for all edits.
  static void SetUpTestSuite() {
    const auto dir = CorpusDir();
    if (!dir || !HaveTool("exiftool")) return;
    copies_.emplace();
    std::ifstream manifest(*dir / "MANIFEST.tsv");
    for (std::string line; std::getline(manifest, line);) {
      if (line.find("\tcamera;") == std::string::npos &&
          line.find("\ttiff;") == std::string::npos) {
        continue;
      }
      const fs::path file = *dir / line.substr(0, line.find('\t'));
      inputs_.push_back(file);
      if (file.extension() != ".jpg") continue;
      const auto stripped = WithoutApp0(ReadFile(file));
      if (stripped.empty()) continue;
      inputs_.push_back(*copies_ / ("noapp0_" + file.filename().string()));
      WriteFile(inputs_.back(), stripped);
    }
    before_ = ReadAll(inputs_);
  }

  void CheckEdited(const fs::path& in, const fs::path& out, const Reads& after) const;

  static inline std::optional<TempDir> copies_;
  static inline std::vector<fs::path> inputs_;
  static inline Reads before_;
  TempDir dir_;
};

void CorpusRoundTrip::CheckEdited(const fs::path& in, const fs::path& out,
                                  const Reads& after) const {
  const Edit& edit = GetParam();
  SCOPED_TRACE(in.filename().string() + ": " + edit.name);
  const auto was = before_.tags.find(in.string());
  const auto is = after.tags.find(out.string());
  ASSERT_TRUE(was != before_.tags.end() && is != after.tags.end());
  const auto differences = Differences(was->second, is->second, edit);
  EXPECT_TRUE(differences.empty()) << differences.size() << " tags differ:" << Joined(differences);
  for (const auto& [key, value] : edit.expected) {
    EXPECT_EQ(is->second.value(key, json()), value) << key;
  }
  for (const auto& [key, value] : edit.merged) {
    const json now = is->second.value(key, json());
    EXPECT_TRUE(now == value || now == was->second.value(key, json())) << key << " " << Show(now);
  }

  if (edit.pictures != Pictures::kKept) {
    EXPECT_GT(Likeness(out, DECODE_PREVIEW, 160, 120), 30) << "new thumbnail";
  }
  if (edit.pictures == Pictures::kNewMain) {
    EXPECT_GT(Likeness(out, DECODE_PICTURE, kNewWidth, kNewHeight), 30) << "new picture";
    for (const char* key : {"ExifIFD:ExifImageWidth", "ExifIFD:ExifImageHeight"}) {
      if (!was->second.contains(key)) continue;
      EXPECT_EQ(is->second.value(key, json()), key[17] == 'W' ? kNewWidth : kNewHeight) << key;
    }
  } else if (in.extension() != ".jpg") {
    // A TIFF's thumbnail is its whole structure, which every edit changes.
    EXPECT_EQ(ImageData(out), ImageData(in)) << "TIFF image data";
  } else {
    EXPECT_TRUE(ScanData(ReadFile(out)) == ScanData(ReadFile(in))) << "scan data";
    if (edit.pictures == Pictures::kKept) {
      EXPECT_TRUE(Thumbnail(out) == Thumbnail(in)) << "thumbnail";
    }
  }

  auto validate = NewLines(before_.validate.at(in.string()), after.validate.at(out.string()));
  std::erase_if(validate, [&](const std::string& line) { return RuleForced(edit, line); });
  EXPECT_TRUE(validate.empty()) << "exiftool -validate:" << Joined(validate);
  const auto old_v = before_.exiv2.find(in.string());
  const auto new_v = after.exiv2.find(out.string());
  if (old_v == before_.exiv2.end() || new_v == after.exiv2.end()) return;
  EXPECT_LE(new_v->second.exit_code, old_v->second.exit_code) << "exiv2 exit code";
  const auto exiv2 = NewLines(Lines(old_v->second.err), Lines(new_v->second.err));
  EXPECT_TRUE(exiv2.empty()) << "exiv2:" << Joined(exiv2);
}

TEST_P(CorpusRoundTrip, OnlyTheEditedTagsChange) {
  const Edit& edit = GetParam();
  if (inputs_.empty()) GTEST_SKIP() << "no corpus or no exiftool";
  std::vector<std::pair<fs::path, fs::path>> edited;
  std::set<std::string> refused;
  for (const fs::path& in : inputs_) {
    SCOPED_TRACE(in.filename().string() + ": " + edit.name);
    const fs::path out = dir_.path() / in.filename();
    const HRESULT result = edit.run(out, in);
    if (result == S_FALSE) continue;
    if (result == S_OK) {
      edited.emplace_back(in, out);
      continue;
    }
    // A JFIF APP0 beside the EXIF makes a file count as one without EXIF;
    // an EXIF file may be refused only as one the edit cannot be made on.
    EXPECT_EQ(result, exif::ExifReader(in.c_str(), 0, 0).IsExif() ? E_FAIL : E_NOTEXIF);
    EXPECT_TRUE(!fs::exists(out) || ReadFile(out) == ReadFile(in)) << "refused, yet written";
    if (result == E_FAIL) refused.insert(in.filename().string());
  }
  for (const auto& name : refused) {
    EXPECT_TRUE(edit.refusals.count(name)) << name << ": refused, and not among the expected refusals";
  }
  for (const auto& [name, reason] : edit.refusals) {
    if (!refused.count(name)) std::printf("%s: %s: edited now (%s)\n", edit.name, name.c_str(), reason.c_str());
  }
  ASSERT_FALSE(edited.empty());
  std::vector<fs::path> outputs;
  for (const auto& pair : edited) outputs.push_back(pair.second);
  const Reads after = ReadAll(outputs);
  for (const auto& [in, out] : edited) CheckEdited(in, out, after);
}

INSTANTIATE_TEST_SUITE_P(Edits, CorpusRoundTrip, ::testing::ValuesIn(kEdits), [](const auto& p) {
  std::string n = p.param.name;
  std::replace(n.begin(), n.end(), ' ', '_');
  return n;
});

}  // namespace
}  // namespace veltora::testing
