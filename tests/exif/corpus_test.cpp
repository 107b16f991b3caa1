// The reader over real files: every JPEG and TIFF of the shared corpus scans
// without fault and answers the same from the file and from memory. The
// values themselves are compared with exiftool's by the query corpus test.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "exif/maker_note_reader.h"
#include "tests/support/temp_dir.h"

namespace veltora::exif {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> PictureFiles(const fs::path& dir) {
  std::vector<fs::path> files;
  for (const auto& item : fs::directory_iterator(dir)) {
    std::string ext = item.path().extension().string();
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".jpg" || ext == ".jpeg" || ext == ".tif" || ext == ".tiff") {
      files.push_back(item.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(CorpusTest, EveryPictureScansAndAnswersTheSameFromFileAndMemory) {
  const auto dir = veltora::testing::CorpusDir();
  if (!dir) GTEST_SKIP() << "shared corpus not present";
  for (const fs::path& file : PictureFiles(*dir)) {
    SCOPED_TRACE(file.filename().string());
    const auto bytes = veltora::testing::ReadFile(file);
    for (uint32_t load : {0u, 1u}) {
      MakerNoteReader from_file(file.c_str(), load, 0);
      MakerNoteReader from_memory(bytes, load, 0);
      EXPECT_EQ(from_file.valid, from_memory.valid);
      EXPECT_EQ(from_file.dataSize, from_memory.dataSize);
      EXPECT_EQ(from_file.IsExif(), from_memory.IsExif());
      EXPECT_EQ(from_file.GetMakerSignature(), from_memory.GetMakerSignature());
      EXPECT_EQ(from_file.makerEntryCount, from_memory.makerEntryCount);
      for (uint32_t code : {kIfd0, kExifIfd, kGpsIfd, kIfd1}) {
        std::vector<IfdEntry> a, b;
        ASSERT_EQ(from_file.CollectEntries(code, &a), from_memory.CollectEntries(code, &b));
        for (size_t i = 0; i < a.size(); ++i) {
          uint8_t va[256], vb[256];
          EXPECT_EQ(from_file.GetEntryValue(&a[i], va, 256),
                    from_memory.GetEntryValue(&b[i], vb, 256))
              << "tag " << a[i].tag;
        }
      }
      std::vector<IfdEntry> maker;
      from_memory.CollectMakerEntries(&maker);
      std::vector<uint8_t> thumbnail;
      EXPECT_EQ(from_file.GetThumbnail(&thumbnail), from_memory.GetThumbnail(&thumbnail));
    }
  }
}

}  // namespace
}  // namespace veltora::exif
