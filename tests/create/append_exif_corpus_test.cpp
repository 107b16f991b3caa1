// AppendExif over every EXIF JPEG of the corpus, judged by exiftool (every
// group, maker notes included) before and after: exactly the merged values
// change, and the bytes outside the EXIF segment (the scan data among them)
// are identical. Skipped without the corpus or exiftool.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "bytes/byte_order.h"
#include "create/whole_file.h"
#include "edit/block_entries.h"
#include "exif/directory.h"
#include "exif/exif_reader.h"
#include "plugin/veltora.h"
#include "tests/create/records.h"
#include "tests/platform/file_system_fixture.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// One merged attribute: every one is a value of at most 4 bytes, so that it
// replaces an entry of the same size or is inserted where a higher tag exists.
struct Merged {
  uint32_t kind;
  uint16_t tag;
  uint16_t type;
  const char* key;
  uint32_t value;
};
constexpr Merged kMerged[] = {
    {INFO_TIFF_MAIN, 274, 3, "IFD0:Orientation", 8},
    {INFO_TIFF_MAIN, 296, 3, "IFD0:ResolutionUnit", 3},
    {INFO_TIFF_MAIN, 531, 3, "IFD0:YCbCrPositioning", 2},
    {INFO_EXIF, 40961, 3, "ExifIFD:ColorSpace", 65535},
    {INFO_EXIF, 40962, 4, "ExifIFD:ExifImageWidth", 1234},
    {INFO_EXIF, 41986, 3, "ExifIFD:ExposureMode", 1},
    {INFO_EXIF, 41987, 3, "ExifIFD:WhiteBalance", 1},
    {INFO_EXIF, 41990, 3, "ExifIFD:SceneCaptureType", 3},
    {INFO_EXIF, 41992, 3, "ExifIFD:Contrast", 2},
    {INFO_EXIF, 41996, 3, "ExifIFD:SubjectDistanceRange", 2},
    {INFO_TIFF_THUMB, 259, 3, "IFD1:Compression", 6},
    {INFO_TIFF_THUMB, 274, 3, "IFD1:Orientation", 8},
};

void AddMergeRecords(testing::RecordList& list) {
  auto* main = list.Add<TiffInfo>(INFO_TIFF_MAIN);
  main->mask1 = TIFF_M1_ORIENTATION | TIFF_M1_RESOLUTION_UNIT | TIFF_M1_YCBCR_POSITIONING |
                TIFF_M1_MAKE;  // a text: never merged
  main->Orientation = 8;
  main->ResolutionUnit = 3;
  main->YCbCrPositioning = 2;
  CStringSet(&main->Make, "Not merged");
  auto* exif = list.Add<ExifInfo>(INFO_EXIF);
  exif->mask_l = EXIF_L_COLOR_SPACE | EXIF_L_PIXEL_X_DIMENSION | EXIF_L_MAKER_NOTE;
  exif->mask_h = EXIF_H_EXPOSURE_MODE | EXIF_H_WHITE_BALANCE | EXIF_H_SCENE_CAPTURE_TYPE |
                 EXIF_H_CONTRAST | EXIF_H_SUBJECT_DISTANCE_RANGE;
  exif->ColorSpace = 65535;
  exif->PixelXDimension = 1234;
  exif->PixelXDimensionType = 4;
  HostBlobSet(&exif->MakerNote, "larger than 4 bytes: never merged", 33);
  exif->ExposureMode = 1;
  exif->WhiteBalance = 1;
  exif->SceneCaptureType = 3;
  exif->Contrast = 2;
  exif->SubjectDistanceRange = 2;
  auto* thumb = list.Add<TiffInfo>(INFO_TIFF_THUMB);
  thumb->mask1 = TIFF_M1_COMPRESSION | TIFF_M1_ORIENTATION;
  thumb->Compression = 6;
  thumb->Orientation = 8;
}

// The source's directories as the merge will meet them, read with the plain
// block reader: kind -> entries by tag.
std::map<uint32_t, std::map<uint16_t, edit::BlockEntry>> SourceDirectories(
    std::span<const uint8_t> tiff) {
  std::map<uint32_t, std::map<uint16_t, edit::BlockEntry>> dirs;
  if (tiff.size() < 8) return dirs;
  const exif::ByteOrder order = tiff[0] == 'I' ? exif::kLittleEndian : exif::kBigEndian;
  auto read = [&](uint32_t kind, uint32_t offset) {
    const auto dir = edit::ReadBlockDirectory(tiff, order, offset);
    if (!dir) return std::optional<edit::BlockDirectory>{};
    for (const auto& e : dir->entries) dirs[kind].emplace(e.entry.tag, e);
    return dir;
  };
  const auto ifd0 = read(INFO_TIFF_MAIN, exif::Read32(&tiff[4], order));
  if (!ifd0) return dirs;
  if (dirs[INFO_TIFF_MAIN].count(exif::kTagExifIfdPointer)) {
    read(INFO_EXIF, dirs[INFO_TIFF_MAIN][exif::kTagExifIfdPointer].entry.value);
  }
  if (ifd0->link.value_or(0) != 0) read(INFO_TIFF_THUMB, *ifd0->link);
  return dirs;
}

// Keys whose value may differ for reasons other than the merge: the file
// system's view; the DateTime stamp; values exiftool derives from others
// (compared themselves); and file positions of data that moved with a
// segment that grew (the thumbnail, whose bytes are compared instead, and
// images behind the segment, whose own offsets count from behind it).
bool Volatile(const std::string& key) {
  return key == "SourceFile" || key.starts_with("System:") || key.starts_with("ExifTool:") ||
         key.starts_with("Composite:") || key.ends_with(":ModifyDate") ||
         key == "IFD1:ThumbnailOffset" || key == "IFD1:StripOffsets" ||
         key.ends_with(":MPImageStart");
}

std::vector<uint8_t> Thumbnail(const fs::path& file) {
  exif::ExifReader reader(file.c_str(), 1, 0);
  std::vector<uint8_t> bytes;
  reader.GetThumbnail(&bytes);
  return bytes;
}

TEST(AppendExifCorpusTest, ExactlyTheMergedValuesChange) {
  const auto corpus = testing::CorpusDir();
  if (!corpus) GTEST_SKIP() << "no corpus";
  if (!testing::HaveTool("exiftool")) GTEST_SKIP() << "exiftool not installed";
  testing::TempDir out_dir;
  testing::RecordList records;
  AddMergeRecords(records);

  struct Run {
    fs::path source, result;
    std::vector<uint8_t> before;
    std::map<std::string, uint32_t> changed;  // exiftool key -> merged value
  };
  std::vector<Run> runs;
  std::vector<std::string> refused;
  for (const auto& entry : fs::directory_iterator(*corpus)) {
    const std::string ext = entry.path().extension().string();
    if (ext != ".jpg" && ext != ".jpeg" && ext != ".JPG") continue;
    Run run{entry.path(), out_dir.path() / entry.path().filename(), testing::ReadFile(entry.path()), {}};
    const int64_t app1 = create::FindJpegMarker(0xFFE1, run.before);
    const bool exif_first = app1 >= 0 && run.before.size() > static_cast<size_t>(app1) + 10 &&
                            std::memcmp(&run.before[static_cast<size_t>(app1) + 4], "Exif", 4) == 0;
    const HRESULT hr = AppendExif(run.result.c_str(), run.source.c_str(), records.get(), 0);
    if (!exif_first) {
      EXPECT_EQ(hr, E_FAIL) << run.source;
      continue;
    }
    if (hr != S_OK) {
      // A damaged block (a directory pointed to outside the segment) is
      // refused, and nothing is written.
      EXPECT_EQ(hr, E_FAIL) << run.source;
      EXPECT_FALSE(fs::exists(run.result)) << run.source;
      refused.push_back(run.source.filename().string());
      continue;
    }
    const auto at = static_cast<size_t>(app1);
    const auto tiff = std::span<const uint8_t>(run.before).subspan(at + 10);
    auto dirs = SourceDirectories(tiff);
    for (const Merged& m : kMerged) {
      if (!dirs.count(m.kind)) continue;
      const auto& dir = dirs[m.kind];
      const auto same = dir.find(m.tag);
      const bool replaced = same != dir.end() && same->second.size == (m.type == 3 ? 2u : 4u);
      const bool inserted = same == dir.end() && !dir.empty() && dir.rbegin()->first > m.tag;
      if (replaced || inserted) run.changed[m.key] = m.value;
    }
    // Outside the segment nothing moves.
    const auto after = testing::ReadFile(run.result);
    const size_t old_end = at + 2 + exif::Read16(&run.before[at + 2], exif::kBigEndian);
    const size_t new_end = at + 2 + exif::Read16(&after[at + 2], exif::kBigEndian);
    EXPECT_TRUE(std::equal(run.before.begin(), run.before.begin() + static_cast<std::ptrdiff_t>(at),
                           after.begin()))
        << run.source;
    EXPECT_TRUE(std::equal(run.before.begin() + static_cast<std::ptrdiff_t>(old_end), run.before.end(),
                           after.begin() + static_cast<std::ptrdiff_t>(new_end), after.end()))
        << run.source;
    EXPECT_EQ(Thumbnail(run.source), Thumbnail(run.result)) << run.source;
    runs.push_back(std::move(run));
  }
  ASSERT_FALSE(runs.empty());

  std::vector<fs::path> files;
  for (const Run& run : runs) {
    files.push_back(run.source);
    files.push_back(run.result);
  }
  const auto tags = testing::ExiftoolJsonEach(files, {"-a", "-u", "-G1", "-n"});
  ASSERT_TRUE(tags);
  size_t merged_values = 0;
  for (const Run& run : runs) {
    const json& before = tags->at(run.source.string());
    const json& after = tags->at(run.result.string());
    std::set<std::string> keys;
    for (const auto& [key, value] : before.items()) keys.insert(key);
    for (const auto& [key, value] : after.items()) keys.insert(key);
    for (const std::string& key : keys) {
      if (Volatile(key)) continue;
      const auto merged = run.changed.find(key);
      if (merged != run.changed.end()) {
        EXPECT_EQ(after.value(key, json()), json(merged->second)) << run.source << " " << key;
        ++merged_values;
      } else {
        EXPECT_EQ(before.value(key, json()), after.value(key, json())) << run.source << " " << key;
      }
    }
  }
  std::cout << runs.size() << " files merged, " << merged_values << " merged values; refused:";
  for (const std::string& name : refused) std::cout << " " << name;
  std::cout << "\n";
}

}  // namespace
}  // namespace veltora
