// The rebuilt file's layouts and the DateTime stamp.
#include "edit/rebuilt_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "frame/veltora.h"
#include "platform/file.h"
#include "tests/edit/edit_test_support.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"

namespace veltora::testing {
namespace {

class OutputTest : public ::testing::TestWithParam<Endian> {
 protected:
  TempDir dir_;
};
VELTORA_BOTH_BYTE_ORDERS(OutputTest);

// The source's APP0 and EXIF APP1 go; another APP1 (XMP) is kept whole in
// front of the new EXIF block, which stays the last APP1.
TEST_P(OutputTest, JpegLayoutReplacesApp0AndExifKeepsOtherApp1sAndTheRestInOrder) {
  const auto block = CameraBlock(GetParam()).Bytes();
  const std::vector<uint8_t> xmp = {'h', 't', 't', 'p', ':', '/', '/', 0, 'x'};
  const auto file = dir_ / "in.jpg";
  WriteFile(file, JpegBuilder()
                        .Soi()
                        .App0Jfif()
                        .Segment(kApp1, xmp)
                        .App1Exif(block)
                        .Segment(kApp2, {'I', 'C', 'C', 0, 1})
                        .Segment(kCom, {'h', 'i'})
                        .ImageSegments(SmallJpeg())
                        .Bytes());
  FileEditor editor(file);
  ASSERT_EQ(editor.CopyBlock(), exif::Outcome::kDone);
  std::vector<uint8_t> out;
  ASSERT_EQ(edit::WriteJpegLayout(editor, ReadFile(file), &out), 0u);

  const auto segments = WalkSegments(out);
  std::vector<uint8_t> markers;
  for (const auto& s : segments) markers.push_back(s.marker);
  ASSERT_GE(markers.size(), 6u);
  EXPECT_EQ(std::vector<uint8_t>(markers.begin(), markers.begin() + 5),
            (std::vector<uint8_t>{kSoi, kApp1, kApp1, kApp2, kCom}));
  EXPECT_EQ(std::count(markers.begin(), markers.end(), kApp0), 0);
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + 6, out.begin() + 6 + 9), xmp);
  EXPECT_EQ(segments[2].length, block.size() + 8);
  // From the scan on, the output ends exactly as the source does.
  const auto in = ReadFile(file);
  const auto& small = SmallJpeg();
  const size_t tail = small.size() - WalkSegments(small).back().offset;
  EXPECT_TRUE(std::equal(out.end() - static_cast<ptrdiff_t>(tail), out.end(),
                         in.end() - static_cast<ptrdiff_t>(tail)));
  WriteFile(dir_ / "out.jpg", out);
  EXPECT_TRUE(DecodeCleanly(out));
  EXPECT_EQ(AllValues(dir_ / "out.jpg"), AllValues(file));
}

// A JPEG that holds its EXIF segment and no picture, as EXIF-only files do:
// it ends there, or goes on with an EOI, an empty SOI-EOI picture, or tables
// without a scan. The block comes out once and what followed it stays; with
// an exact copy of the block the output is the source itself.
TEST_P(OutputTest, JpegWithoutScanDataGetsItsExifSegmentOnceAndKeepsWhatFollows) {
  const auto block = CameraBlock(GetParam()).Bytes();
  const std::vector<uint8_t> tails[] = {
      {},
      {0xFF, kEoi},
      {0xFF, kSoi, 0xFF, kEoi},
      JpegBuilder().Segment(0xDB, std::vector<uint8_t>(65, 1)).Soi().Eoi().Bytes()};
  for (const auto& tail : tails) {
    SCOPED_TRACE(tail.size());
    auto source = JpegBuilder().Soi().App1Exif(block).Bytes();
    source.insert(source.end(), tail.begin(), tail.end());
    const auto file = dir_ / "in.jpg";
    WriteFile(file, source);
    FileEditor editor(file);
    ASSERT_EQ(editor.CopyBlock(), exif::Outcome::kDone);
    std::vector<uint8_t> out;
    ASSERT_EQ(edit::WriteJpegLayout(editor, source, &out), 0u);
    EXPECT_EQ(out, source);
  }
  // Through an export whose rebuild grows the block: IFD1 gains Orientation.
  const auto file = dir_ / "exif-only.jpg";
  const auto source =
      JpegBuilder().Soi().App1Exif(CameraBlock(GetParam(), 1, 0).Bytes()).Soi().Eoi().Bytes();
  WriteFile(file, source);
  const auto out = dir_ / "turned.jpg";
  ASSERT_EQ(SetOrientation(out.string().c_str(), file.string().c_str(), 6, 1), S_OK);
  const auto bytes = ReadFile(out);
  const std::vector<uint8_t> exif = {'E', 'x', 'i', 'f', 0, 0};
  EXPECT_EQ(std::search(bytes.begin() + 12, bytes.end(), exif.begin(), exif.end()), bytes.end())
      << "one EXIF segment";
  EXPECT_TRUE(std::equal(bytes.end() - 4, bytes.end(), source.end() - 4));
  EXPECT_EQ(ReadValue(out, exif::kIfd1, exif::kTagOrientation), std::string("3/1:\x06\0", 6));
}

TEST_P(OutputTest, App1OfExactly65535BytesIsWrittenAndOneMoreIsRefused) {
  const auto file = CameraBlock(GetParam()).WriteJpeg(dir_);
  FileEditor editor(file);
  ASSERT_EQ(editor.CopyBlock(), exif::Outcome::kDone);
  const auto in = ReadFile(file);
  ASSERT_LT(editor.Block().size(), 65527u);
  // Bounded for the compiler's sake: it cannot see the assertion above.
  const size_t fill = std::min<size_t>(65527u - editor.Block().size(), 65527u);
  editor.HoldThumbnail(std::vector<uint8_t>(fill, 0x5A));
  EXPECT_EQ(editor.TotalSegmentSize(), 65527u);
  std::vector<uint8_t> out;
  ASSERT_EQ(edit::WriteJpegLayout(editor, in, &out), 0u);
  EXPECT_EQ(WalkSegments(out).at(1).length, 0xFFFFu);
  EXPECT_TRUE(DecodeCleanly(out));

  editor.HoldThumbnail(std::vector<uint8_t>(fill + 1, 0x5A));
  EXPECT_EQ(edit::WriteJpegLayout(editor, in, &out), 13u);
  EXPECT_TRUE(out.empty()) << "nothing is written";
}

TEST_P(OutputTest, MoreSegmentsThanA16BitCountBeforeTheExifAreWalkedAndCopied) {
  constexpr int kSegments = 70000;
  JpegBuilder builder;
  builder.Soi();
  for (int i = 0; i < kSegments; ++i) builder.Segment(kCom, {});
  const auto block = CameraBlock(GetParam()).Bytes();
  const size_t app1_end = builder.App1Exif(block).Bytes().size();
  const auto file = dir_ / "in.jpg";
  WriteFile(file, builder.ImageSegments(SmallJpeg()).Bytes());
  FileEditor editor(file);
  EXPECT_EQ(editor.Source().IsExifJpeg(), 1);
  ASSERT_EQ(editor.CopyBlock(), exif::Outcome::kDone);
  const auto in = ReadFile(file);
  std::vector<uint8_t> out;
  ASSERT_EQ(edit::WriteJpegLayout(editor, in, &out), 0u);
  // SOI, the new APP1, then every COM segment and the picture as they were.
  const auto at = [](const std::vector<uint8_t>& v, size_t n) {
    return v.begin() + static_cast<ptrdiff_t>(n);
  };
  std::vector<uint8_t> expected(in.begin(), at(in, 2 + 4 * size_t{kSegments}));
  expected.insert(expected.end(), at(in, app1_end), in.end());
  ASSERT_GT(out.size(), 4u);
  EXPECT_EQ(out[3], kApp1);
  out.erase(at(out, 2), at(out, 2 + 2 + editor.TotalSegmentSize() + 8));
  EXPECT_EQ(out, expected);
}

TEST_P(OutputTest, TiffLayoutWithoutImageDataIsInvalid) {
  auto b = CameraBlock(GetParam());
  b.RgbImage(kIfd0, 4, 4);
  const auto file = b.WriteTiff(dir_);
  FileEditor editor(file);
  ASSERT_EQ(editor.CopyBlock(), exif::Outcome::kDone);
  std::vector<uint8_t> out;
  EXPECT_EQ(edit::WriteTiffLayout(editor, ReadFile(file), &out), 13u) << "no data placed";
  editor.PlaceDataBehindBlock();
  const auto whole = ReadFile(file);
  ASSERT_GT(whole.size(), 10u);
  // The strips end after the file does.
  const std::vector<uint8_t> cut(whole.begin(), whole.end() - 10);
  EXPECT_EQ(edit::WriteTiffLayout(editor, cut, &out), 13u);
}

// Every layout of TiffWithSubImages: each edit that rebuilds the file keeps
// every sub-image (directories, values, strips) as exiftool sees it; a loop
// of directories ends the walk.
TEST_P(OutputTest, RebuiltTiffKeepsEverySubImage) {
  if (!HaveTool("exiftool")) GTEST_SKIP() << "exiftool finds the sub-images";
  GpsSet gps;
  gps.Tags({1, 2, 3, 4}).Position('N', 48, 'E', 2);
  const auto file = dir_ / "in.tif";
  const std::pair<const char*, std::function<HRESULT(const char*)>> edits[] = {
      {"orientation", [&](const char* out) { return SetOrientation(out, file.string().c_str(), 6, 1); }},
      {"gps", [&](const char* out) { return ReplaceExifGps(out, file.string().c_str(), 90, &gps.set); }}};
  using enum SubImages;
  for (const SubImages layout : {kInBlock, kBehindImage, kInImage, kNested, kChained, kLoop}) {
    WriteFile(file, TiffWithSubImages(GetParam(), layout));
    const auto before = SubImageView(file);
    ASSERT_GE(before.size(), layout <= kInImage ? 4u : 8u);
    for (const auto& [name, edit] : edits) {
      SCOPED_TRACE(std::string(name) + " layout " + std::to_string(static_cast<int>(layout)));
      const auto out = dir_ / (std::string(name) + ".tif");
      ASSERT_EQ(edit(out.string().c_str()), S_OK);
      EXPECT_EQ(SubImageView(out), before);
    }
  }
}

// An input over 64 MiB is streamed between the files instead of being
// assembled in memory; the result is the same bytes.
TEST_P(OutputTest, StreamedLayoutOfALargeInputEqualsTheLayoutInMemory) {
  constexpr size_t kOverWholeFileLimit = (size_t{64} << 20) + 1;
  auto check = [&](const std::vector<uint8_t>& bytes, bool jpeg) {
    ASSERT_GT(bytes.size(), kOverWholeFileLimit);
    const auto in_path = dir_ / "large.in", out_path = dir_ / "large.out";
    WriteFile(in_path, bytes);
    FileEditor editor(in_path);
    ASSERT_EQ(editor.CopyBlock(), exif::Outcome::kDone);
    if (!jpeg) editor.PlaceDataBehindBlock();  // the strips to copy
    std::vector<uint8_t> in_memory;
    ASSERT_EQ(jpeg ? edit::WriteJpegLayout(editor, bytes, &in_memory)
                   : edit::WriteTiffLayout(editor, bytes, &in_memory),
              0u);
    {
      platform::File in, out;
      ASSERT_EQ(platform::File::Open(in_path.string().c_str(), platform::File::Access::kRead, &in), 0u);
      ASSERT_EQ(
          platform::File::Open(out_path.string().c_str(), platform::File::Access::kCreateAlways, &out), 0u);
      ASSERT_EQ(jpeg ? edit::WriteJpegLayout(editor, out, in) : edit::WriteTiffLayout(editor, out, in),
                0u);
    }
    EXPECT_TRUE(ReadFile(out_path) == in_memory) << (jpeg ? "JPEG" : "TIFF");
  };
  auto jpeg = JpegBuilder()
                  .Soi()
                  .App1Exif(CameraBlock(GetParam()).Bytes())
                  .ImageSegments(SmallJpeg())
                  .Bytes();
  jpeg.insert(jpeg.end() - 2, kOverWholeFileLimit, 0x55);  // more scan data before EOI
  check(jpeg, true);
  TiffBuilder tiff(GetParam());
  tiff.Ascii(kIfd0, 306, "2001:01:01 00:00:00").RgbImage(kIfd0, 4096, 5462, {}, 5462);
  check(tiff.Bytes(), false);
}

TEST_P(OutputTest, OnlyADateTimeOfCount20IsStamped) {
  const SYSTEMTIME now{2024, 2, 0, 29, 23, 5, 9, 0};
  struct Case {
    std::string text;
    bool terminate;
    bool stamped;
  } cases[] = {{"2001/01/01 00.00.00", true, true},
               {"2001:01:01 00:00:00", false, false},
               {"2001:01:01 00:00:00+01", true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    TiffBuilder b(GetParam());
    b.Ascii(kIfd0, 271, "Maker").Ascii(kIfd0, 306, c.text, c.terminate).Ascii(kExif, 36867, "x");
    auto layout = b.Layout();
    auto bytes = layout.bytes;
    EXPECT_EQ(edit::StampDateTime(bytes, GetParam() == kBig ? 1u : 0u, 8, now),
              c.stamped ? exif::Outcome::kDone : exif::Outcome::kAbsent);
    const uint32_t at = layout.value_offset.at({kIfd0, 306});
    const std::string value(bytes.begin() + at, bytes.begin() + at + 20);
    if (c.stamped) {
      EXPECT_EQ(value, std::string("2024:02:29 23:05:09") + '\0') << "template separators";
    } else {
      EXPECT_EQ(bytes, layout.bytes);
    }
  }
}

}  // namespace
}  // namespace veltora::testing
