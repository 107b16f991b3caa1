// ReplaceThumbImage, ReplaceExifImage and Encode with a newly built block,
// called as a host calls them, with the results read back by the plug-in's
// own decoder and reader, and by exiftool.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "edit/exif_editor.h"
#include "frame/veltora.h"
#include "imaging/dib_memory.h"
#include "imaging/picture_io.h"
#include "tests/edit/edit_test_support.h"
#include "tests/edit/picture_checks.h"
#include "tests/imaging/imaging_test_support.h"
#include "tests/platform/file_system_fixture.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/oracle.h"

namespace veltora::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

uint32_t Number(const fs::path& file, uint32_t code, uint16_t tag) {
  exif::ExifReader reader(file.string().c_str(), 1, 0);
  exif::IfdEntry entry{tag, 0, 0, 0};
  return exif::Done(reader.FindEntry(code, &entry)) ? entry.value : 0;
}


class ImageReplacementTest : public FileSystemTest {
 protected:
  std::string Out() const { return Path("out.jpg"); }
  Dib photo_{Gradient(640, 480)};
};

std::vector<uint8_t> CameraJpeg(Endian order) {
  return SpliceExif(RealJpeg(32, 24), CameraBlock(order).Bytes());
}

TEST_F(ImageReplacementTest, ThumbnailFollowsThePictureAndNothingElseChanges) {
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    const char* out;
  } cases[] = {
      {"II JPEG", CameraJpeg(kLittle), "out.jpg"},
      {"MM JPEG, Interoperability pointer 0",
       SpliceExif(RealJpeg(32, 24), TiffBuilder(kBig)
                                        .Undefined(kExif, 36864, {'0', '2', '2', '0'})
                                        .Long(kExif, 40965, 0)
                                        .Bytes()),
       "out.jpg"},
      {"TIFF over 64 KiB", TiffBuilder(kBig).RgbImage(kIfd0, 64, 48).Undefined(kExif, 0xC7F0, std::vector<uint8_t>(70000, 1)).Bytes(),
       "out.tif"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string ext = fs::path(c.out).extension().string();
    const fs::path in = Path("in" + ext), out = Path(std::string("out") + c.name[0] + ext);
    WriteBytes(in, c.file);
    ASSERT_EQ(ReplaceThumbImage(out.string().c_str(), in.string().c_str(), photo_.handle, 90), S_OK);
    EXPECT_GT(Likeness(out, DECODE_PREVIEW, 160, 120), 30);
    HGLOBAL picture = Decode(out.string().c_str(), DECODE_PICTURE);
    EXPECT_NE(picture, nullptr) << "the main picture decodes";
    GlobalFree(picture);
    auto before = AllValues(in), after = AllValues(out);
    for (const auto& [key, value] : before) {
      const bool moves = key.first == exif::kIfd1 || key == std::pair<uint32_t, uint16_t>{1, 306} ||
                         key == std::pair<uint32_t, uint16_t>{1, 273};  // stamp, TIFF strips
      EXPECT_TRUE(moves || after[key] == value) << "changed: " << key.first << "/" << key.second;
    }
    if (ext == ".tif") {
      EXPECT_GT(fs::file_size(out), 70000u) << "a TIFF's block is not size-limited";
      continue;
    }
    EXPECT_EQ(ReadValue(out, exif::kIfd1, 259), std::string("3/1:\x06\x00", 6)) << "JPEG";
    FileEditor editor(out);
    ASSERT_EQ(editor.CopyBlock(), exif::Outcome::kDone);
    const auto index = editor.FindBlockEntry(exif::kInteropIfd, 1);
    ASSERT_TRUE(index);
    EXPECT_EQ(index->value, 0x00383952u) << "R98";
    if (c.name[0] == 'M') {
      const auto version = editor.FindBlockEntry(exif::kInteropIfd, 2);
      ASSERT_TRUE(version) << "a new directory";
      EXPECT_EQ(version->value, 0x30303130u) << "0100";
    }
  }
}

TEST_F(ImageReplacementTest, ThumbnailQualityFallsUntilTheSegmentFits) {
  const Dib noise(imaging::testing::MakeNoise(640, 480, 24));
  struct Case {
    size_t room;  // bytes the APP1 segment has left for IFD1 and the thumbnail
    HRESULT expected;
  } cases[] = {{12000, S_OK}, {4000, S_OK}, {400, E_FAIL}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.room);
    // A block without thumbnail whose unknown tag leaves `room` bytes free:
    // header, IFD0 (one entry), the Exif IFD (two entries, the interop
    // pointer), the Interoperability IFD with its two entries, the filler.
    const size_t filler = 65527 - c.room - (8 + 18 + 30 + 30);
    WriteBytes(Path("in.jpg"),
               SpliceExif(RealJpeg(32, 24), TiffBuilder(kLittle)
                                                .Undefined(kExif, 36864, {'0', '2', '2', '0'})
                                                .Ascii(kInterop, 1, "R98").Undefined(kInterop, 2, {'0', '1', '0', '0'})
                                                .Undefined(kExif, 0xC7F0, std::vector<uint8_t>(filler, 0x5A))
                                                .Bytes()));
    fs::remove(Out());
    EXPECT_EQ(ReplaceThumbImage(Out().c_str(), Path("in.jpg").c_str(), noise.handle, 100), c.expected);
    EXPECT_TRUE(TempLeftovers().empty());
    if (c.expected != S_OK) {
      EXPECT_FALSE(fs::exists(Out()));
      continue;
    }
    exif::ExifReader reader(Out().c_str(), 1, 0);
    std::vector<uint8_t> thumbnail;
    EXPECT_LE(reader.GetThumbnail(&thumbnail), c.room);
    EXPECT_TRUE(DecodeCleanly(thumbnail));
  }
}

TEST_F(ImageReplacementTest, MainPictureReplacedWithItsDimensions) {
  const Dib wide(Gradient(320, 240));
  TiffBuilder tiff(kLittle);
  tiff.RgbImage(kIfd0, 64, 48).Rational(kIfd0, 282, 300, 1).Rational(kIfd0, 283, 300, 1)
      .Long(kExif, 40962, 64).Long(kExif, 40963, 48).Undefined(kExif, 36864, {'0', '2', '3', '0'});
  TiffBuilder camera = CameraBlock(kBig);
  camera.Long(kExif, 40962, 32).Long(kExif, 40963, 24)
      .Undefined(kIfd0, 50341, PrintImBlock(kBig, {{1, 2}}))
      .MakerNoteHeader(MakerNoteForm::kSignature, "Vendor")
      .Undefined(kMakerNote, 0x0E00, PrintImBlock(kBig, {{1, 2}}))
      .Short(kMakerNote, 1, 7);
  const std::vector<uint8_t> xmp = {'h', 't', 't', 'p', ':', '/', '/', 0, 'x'};
  const auto jpeg = JpegBuilder().Soi().Segment(kApp1, xmp).App1Exif(camera.Bytes())
                        .Segment(kApp6, PrintImBlock(kBig, {{1, 2}})).ImageSegments(RealJpeg(32, 24)).Bytes();
  const std::pair<const char*, std::vector<uint8_t>> inputs[] = {{"in.jpg", jpeg}, {"in.tif", tiff.Bytes()}};
  for (const auto& [name, bytes] : inputs) {
    SCOPED_TRACE(name);
    const std::string in = Path(name), out = Path(std::string("out") + fs::path(name).extension().string());
    WriteBytes(in, bytes);
    ASSERT_EQ(ReplaceExifImage(out.c_str(), in.c_str(), wide.handle, 95), S_OK);
    EXPECT_TRUE(TempLeftovers().empty());
    EXPECT_GT(Likeness(out, DECODE_PICTURE, 320, 240), 30);
    EXPECT_GT(Likeness(out, DECODE_PREVIEW, 160, 120), 30);
    EXPECT_EQ(Number(out, exif::kExifIfd, 40962), 320u);
    EXPECT_EQ(Number(out, exif::kExifIfd, 40963), 240u);
    EXPECT_EQ(ReadValue(out, exif::kIfd0, 282), ReadValue(in, exif::kIfd0, 282)) << "old resolution";
    EXPECT_FALSE(ReadValue(out, exif::kIfd0, 50341)) << "print matching in IFD0";
    FileEditor editor(out);
    ASSERT_EQ(editor.CopyBlock(), exif::Outcome::kDone);
    EXPECT_FALSE(editor.FindBlockEntry(exif::kMakerNoteIfd, 0x0E00)) << "print matching in the maker note";
    EXPECT_EQ(editor.FindBlockEntry(exif::kMakerNoteIfd, 1).has_value(), name[3] == 'j') << "maker note";
    std::vector<uint8_t> markers;
    for (const auto& s : WalkSegments(ReadFile(out))) markers.push_back(s.marker);
    EXPECT_EQ(std::count(markers.begin(), markers.end(), kApp6), 0);
    if (name[3] == 'j') {
      // The XMP segment in front of the EXIF one is the user's data too.
      ASSERT_GE(markers.size(), 3u);
      EXPECT_EQ(std::vector<uint8_t>(markers.begin(), markers.begin() + 3),
                (std::vector<uint8_t>{kSoi, kApp1, kApp1}));
      const auto written = ReadFile(out);
      EXPECT_TRUE(std::equal(xmp.begin(), xmp.end(), written.begin() + 6)) << "XMP first, whole";
    }
  }
}

// The sub-images of a TIFF (TiffWithSubImages) are kept, also when the main
// image is a new picture.
TEST_F(ImageReplacementTest, SubImagesAreKept) {
  if (!HaveTool("exiftool")) GTEST_SKIP() << "exiftool finds the sub-images";
  const std::string in = Path("in.tif"), out = Path("out.tif");
  using enum SubImages;
  for (const SubImages layout :
       {kInBlock, kBehindImage, kInImage, kNested, kChained, kShortOffsets}) {
    WriteBytes(in, TiffWithSubImages(kBig, layout));
    const auto before = SubImageView(in);
    for (auto* replace : {&ReplaceThumbImage, &ReplaceExifImage}) {
      ASSERT_EQ(replace(out.c_str(), in.c_str(), photo_.handle, 90), S_OK);
      EXPECT_EQ(SubImageView(out), before)
          << (replace == &ReplaceThumbImage ? "thumbnail" : "picture") << " layout "
          << static_cast<int>(layout);
    }
  }
}

TEST_F(ImageReplacementTest, RefusalsTouchNothing) {
  WriteBytes(Path("in.jpg"), CameraJpeg(kLittle));
  WriteBytes(Path("jfif.jpg"), RealJpeg(32, 24));
  WriteBytes(Path("in.png"), CameraJpeg(kLittle));
  const std::string out = Out(), in = Path("in.jpg"), png = Path("in.png"), jfif = Path("jfif.jpg"),
                    missing_dir = Path("none/out.jpg");
  struct Case {
    const char* out;
    const char* in;
    HGLOBAL dib;
    int32_t quality;
    HRESULT expected;
  } cases[] = {
      {nullptr, in.c_str(), photo_.handle, 90, E_INVALIDARG},
      {out.c_str(), "", photo_.handle, 90, E_INVALIDARG},
      {out.c_str(), in.c_str(), nullptr, 90, E_INVALIDARG},
      {out.c_str(), in.c_str(), photo_.handle, 0, E_INVALIDARG},
      {out.c_str(), in.c_str(), photo_.handle, 101, E_INVALIDARG},
      {out.c_str(), png.c_str(), photo_.handle, 90, E_FAIL},
      {out.c_str(), jfif.c_str(), photo_.handle, 90, E_NOTEXIF},
      {missing_dir.c_str(), in.c_str(), photo_.handle, 90, static_cast<HRESULT>(0x80070003u)},
  };
  for (const auto& c : cases) {
    for (auto* replace : {&ReplaceThumbImage, &ReplaceExifImage}) {
      SCOPED_TRACE(::testing::Message() << (c.in ? c.in : "null") << " q" << c.quality);
      EXPECT_EQ(replace(c.out, c.in, c.dib, c.quality), c.expected);
      EXPECT_FALSE(fs::exists(Out()));
      EXPECT_TRUE(TempLeftovers().empty());
    }
  }
}

// ImageTextInfo with the given version characters and texts.
struct TextRecord {
  explicit TextRecord(const char* version) {
    std::memcpy(info.version, version, 4);
    for (CString* s : {&info.ImageDescription, &info.Make, &info.Model, &info.Software}) CStringInit(s);
    CStringSet(&info.Make, "Veltora");
    CStringSet(&info.Model, "Bench 1");
    CStringSet(&info.ImageDescription, "A gradient");
    CStringSet(&info.Software, "tests");
    info.capture_time = SYSTEMTIME{2019, 3, 0, 9, 8, 7, 6, 0};
  }
  ~TextRecord() { ImageTextInfoRelease(&info); }
  ImageTextInfo info{};
};

TEST_F(ImageReplacementTest, EncodeBuildsANewBlockFromTheTextRecord) {
  TextRecord v0120("0120"), v0110("0110"), v0121("0121");
  GpsSet gps;
  gps.Tags({1, 2, 3, 4}).Position('N', 48, 'E', 2);
  EncodeExifData pair{&v0120.info, &gps.set}, no_text{nullptr, &gps.set};
  struct Case {
    const char* name;
    uint32_t flags;
    void* data;
    HRESULT expected;
    const char* make;  // null: not given, count 1
    bool gps = false;
  } cases[] = {
      {"no record", ENCODE_JPEG | ENCODE_NEW_EXIF_FILE, nullptr, S_OK, ""},
      {"0110 reads older", ENCODE_JPEG | ENCODE_NEW_EXIF_FILE, &v0110.info, S_OK, ""},
      {"0120", ENCODE_JPEG | ENCODE_NEW_EXIF_FILE, &v0120.info, S_OK, "Veltora"},
      {"0121 reads newer", ENCODE_JPEG | ENCODE_NEW_EXIF_FILE, &v0121.info, E_FAIL, nullptr},
      {"with GPS", ENCODE_JPEG | ENCODE_NEW_EXIF_FILE | ENCODE_NEW_EXIF_GPS, &pair, S_OK, "Veltora", true},
      {"GPS, no record", ENCODE_JPEG | ENCODE_NEW_EXIF_FILE | ENCODE_NEW_EXIF_GPS, &no_text, S_OK, "", true},
      {"GPS, no data", ENCODE_JPEG | ENCODE_NEW_EXIF_FILE | ENCODE_NEW_EXIF_GPS, nullptr, E_INVALIDARG, nullptr},
      {"TIFF", ENCODE_TIFF | ENCODE_NEW_EXIF_FILE, &v0120.info, S_OK, "Veltora"},
  };
  std::vector<fs::path> outs;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    outs.push_back(Path("new" + std::to_string(outs.size()) + ((c.flags & ENCODE_TIFF) ? ".tif" : ".jpg")));
    const fs::path& out = outs.back();
    ASSERT_EQ(Encode(photo_.handle, out.string().c_str(), c.flags, 90, c.data), c.expected);
    EXPECT_TRUE(TempLeftovers().empty());
    if (c.make == nullptr) {
      EXPECT_FALSE(fs::exists(out));
      continue;
    }
    EXPECT_GT(Likeness(out, DECODE_PICTURE, 640, 480), 30);
    EXPECT_GT(Likeness(out, DECODE_PREVIEW, 160, 120), 30);
    EXPECT_EQ(ReadValue(out, exif::kIfd0, 271),
              "2/" + std::to_string(strlen(c.make) + 1) + ":" + c.make + std::string(1, '\0'));
    // A TIFF gets no Interoperability directory, so no pointer to offset 0.
    exif::ExifReader reader(out.string().c_str(), 1, 0);
    exif::IfdEntry interop{exif::kTagInteropIfdPointer, 0, 0, 0};
    EXPECT_TRUE(!exif::Done(reader.FindEntry(exif::kExifIfd, &interop)) || interop.value != 0);
  }
  std::erase_if(outs, [](const fs::path& f) { return !fs::exists(f); });
  const auto tags = ExiftoolJsonEach(outs, {"-a", "-u", "-n", "-G1"});
  const auto validate = ExiftoolValidateEach(outs);
  if (!tags || !validate) return;
  for (size_t i = 0, made = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    if (c.make == nullptr) continue;
    SCOPED_TRACE(c.name);
    const json& out = tags->at(outs[made].string());
    const bool given = *c.make != '\0';
    EXPECT_EQ(out.value("IFD0:ImageDescription", json()), given ? json("A gradient") : json());
    EXPECT_EQ(out.value("IFD0:Software", json()), given ? json("tests") : json());
    EXPECT_TRUE(out.contains("IFD0:ModifyDate"));
    EXPECT_EQ(out.value("ExifIFD:ExifVersion", json()), "0210");
    if (given) {
      EXPECT_EQ(out.value("ExifIFD:DateTimeOriginal", json()), "2019:03:09 08:07:06");
    }
    EXPECT_EQ(out.value("GPS:GPSLatitudeRef", json()), c.gps ? json("N") : json());
    EXPECT_EQ(out.value("GPS:GPSVersionID", json()), c.gps ? json("2 0 0 0") : json());
    for (const auto& line : validate->at(outs[made].string())) {
      EXPECT_EQ(line.find("Error"), std::string::npos) << line;
    }
    ++made;
  }
}

}  // namespace
}  // namespace veltora::testing
