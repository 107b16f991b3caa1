// The EXIF reader and its maker-note reader over blocks and files the
// builder lays out, in both byte orders.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "exif/exif_reader.h"
#include "exif/maker_note_reader.h"
#include "tests/info/exiftool_view.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tiff_builder.h"

namespace veltora::exif {
namespace {

namespace fs = std::filesystem;
namespace t = veltora::testing;

// Runs `check` over every way of reading the same bytes: from memory and
// from a file, with and without loaded data. They must agree.
template <typename Reader>
void ForEachReader(const std::vector<uint8_t>& file,
                   const std::function<void(Reader&, uint32_t load)>& check) {
  t::TempDir dir;
  const std::filesystem::path path = dir / "file";
  t::WriteFile(path, file);
  for (uint32_t load : {0u, 1u}) {
    Reader in_memory(file, load, 0);
    Reader on_disk(path.string().c_str(), load, load);  // file readers also try the page allocator
    for (Reader* r : {&in_memory, &on_disk}) {
      SCOPED_TRACE((r == &on_disk ? "file load=" : "memory load=") + std::to_string(load));
      check(*r, load);
    }
  }
}

class ExifReaderTest : public ::testing::TestWithParam<t::Endian> {
 protected:
  t::Endian order() const { return GetParam(); }
  // A TIFF block with image dimensions in IFD0 and an EXIF directory that
  // holds only the maker note.
  t::TiffBuilder Builder() const {
    t::TiffBuilder b(order());
    b.Short(t::kIfd0, 256, 4).Short(t::kIfd0, 257, 4).Directory(t::kExif);
    return b;
  }
  // A "Quorvanta" note with a SHORT, a RATIONAL (IFD0's, outside the note:
  // its offset counts from the TIFF header) and a print-matching block, in
  // that order.
  t::TiffBuilder WithThreeEntries() const {
    t::TiffBuilder b = Builder();
    b.Rational(t::kIfd0, 282, 10, 3);
    const uint32_t rational = b.Layout().value_offset.at({t::kIfd0, 282});
    b.MakerNoteHeader(t::MakerNoteForm::kSignature, "Quorvanta")
        .KeepEntryOrder()
        .Short(t::kMakerNote, 0x0002, 7)
        .Raw(t::kMakerNote, 0x0001, t::kRational, 1, {})
        .WithOffset(rational)
        .Undefined(t::kMakerNote, 0x0E00, std::vector<uint8_t>(12, 'P'));
    return b;
  }
};

TEST_P(ExifReaderTest, ScansAnExifJpegAndAnswersFromEverySource) {
  // IFD0 (Make, Orientation, XResolution), an EXIF directory (ExifVersion,
  // ExposureTime, DateTimeOriginal) and IFD1 (Orientation, DateTime, a JPEG
  // thumbnail), in a JPEG of 16x8 pixels.
  t::TiffBuilder tiff(order());
  tiff.Ascii(t::kIfd0, 271, "Maker")
      .Short(t::kIfd0, 274, 6)
      .Rational(t::kIfd0, 282, 300, 1)
      .Undefined(t::kExif, kTagExifVersion, {'0', '2', '2', '1'})
      .Rational(t::kExif, 33434, 1, 250)
      .Ascii(t::kExif, kTagDateTimeOriginal, "2006:05:14 09:30:05")
      .Short(t::kIfd1, 274, 3)
      .Ascii(t::kIfd1, kTagDateTime, "2006:05:14 09:30:05")
      .JpegThumbnail(
          {0xFF, 0xD8, 't', 'h', 'u', 'm', 'b', 'n', 'a', 'i', 'l', '!', '!', 0, 0xFF, 0xD9});
  t::JpegBuilder jpeg;
  jpeg.Soi().App1Exif(tiff.Bytes()).ImageSegments(t::RealJpeg(16, 8));
  const uint32_t ifd1 = tiff.Layout().block_offset.at(t::kIfd1);
  ForEachReader<ExifReader>(jpeg.Bytes(), [&](ExifReader& r, uint32_t) {
    EXPECT_EQ(std::tuple(r.Valid(), r.Order(), r.TiffHeaderOffset(), r.Jpeg().app1Offset),
              std::tuple(1u, order() == t::kBig ? bytes::kBigEndian : bytes::kLittleEndian, 2u + 10u, 2u));
    EXPECT_EQ(std::tuple(r.IsExif(), r.IsExifJpeg(), r.IsExifTiff()), std::tuple(1, 1, 0));
    EXPECT_EQ(std::tuple(r.GetImageSize().width, r.GetImageSize().height), std::tuple(16u, 8u));
    EXPECT_EQ(r.ThumbnailImage().ifdOffset, ifd1);
    EXPECT_EQ(r.DataSize(), r.Jpeg().app1Length - 8u);
    // Orientations, version and capture time: see the query exports' tests.
    EXPECT_EQ(r.GetOrientationTag(2), 0);

    IfdEntry exposure{.tag = 33434};
    ASSERT_EQ(r.FindEntry(kExifIfd, &exposure), Outcome::kDone);
    uint32_t words[16];
    std::memset(words, 0x77, sizeof words);
    ASSERT_EQ(r.GetEntryValue(&exposure, words, sizeof words), 1u);
    EXPECT_EQ(std::tuple(words[0], words[1]), std::tuple(1u, 250u));
    for (int i = 2; i < 16; ++i) ASSERT_EQ(words[i], 0u) << i;

    std::string text;
    EXPECT_EQ(r.ReadDateText(0, 16, &text), 1);
    EXPECT_EQ(text, "2006:05:14 09:30:05");
    EXPECT_EQ(r.ReadDateText(1, 0, &text), 1);
    EXPECT_EQ(r.ReadDateText(1, 16, &text), 0);  // code 258 is refused
    EXPECT_EQ(r.ReadDateText(0, 5, &text), 0);

    std::vector<uint8_t> thumbnail;
    ASSERT_EQ(r.GetThumbnail(&thumbnail), 16u);
    EXPECT_EQ(std::tuple(thumbnail[0], thumbnail[2]), std::tuple(0xFF, 't'));
  });
}

// A reader that reads on demand loads nothing, yet must not see past the
// bytes a loaded reader holds: a value placed behind the APP1 segment, where
// the file goes on with a comment of digits, is absent for both.
TEST_P(ExifReaderTest, ReadingOnDemandSeesOnlyWhatLoadedDataHolds) {
  for (bool past_block : {false, true}) {
    t::TiffBuilder tiff(order());
    tiff.Short(t::kIfd0, 274, 6).Ascii(t::kExif, kTagDateTimeOriginal, "2006:05:14 09:30:05");
    if (past_block) tiff.WithOffsetFromEnd(8);
    tiff.Short(t::kIfd1, 274, 3);
    t::JpegBuilder jpeg;
    jpeg.Soi().App1Exif(tiff.Bytes()).Segment(t::kCom, std::vector<uint8_t>(64, '2'));
    jpeg.ImageSegments(t::SmallJpeg());
    t::TempDir dir;
    t::WriteFile(dir / "file.jpg", jpeg.Bytes());
    const std::string path = (dir / "file.jpg").string();
    ExifReader loaded(path.c_str(), 1, 0);
    std::string text_loaded, text_on_demand;
    const auto loaded_view = std::tuple(loaded.GetOrientationTag(0), loaded.GetOrientationTag(1),
                                        loaded.ReadDateText(0, 16, &text_loaded), text_loaded);
    // More readers alive at once than the rooms the plug-in lends for first
    // reads: the last ones read into the heap, and all answer alike.
    std::vector<std::unique_ptr<ExifReader>> readers;
    for (int i = 0; i < 9; ++i) {
      readers.push_back(std::make_unique<ExifReader>(path.c_str(), ExifReader::kReadOnDemand, 0));
    }
    for (const auto& on_demand : readers) {
      EXPECT_EQ(loaded_view,
                std::tuple(on_demand->GetOrientationTag(0), on_demand->GetOrientationTag(1),
                           on_demand->ReadDateText(0, 16, &text_on_demand), text_on_demand))
          << "date past the block: " << past_block;
    }
    EXPECT_EQ(text_loaded.empty(), past_block);
  }
}

TEST_P(ExifReaderTest, HeadersThatFailOrLocateNothing) {
  const std::vector<uint8_t> seven = {'I', 'I', 42, 0, 8, 0, 0};
  EXPECT_EQ(ExifReader(seven, 0, 0).Valid(), 0u);
  EXPECT_EQ(ExifReader(static_cast<const char*>(nullptr), 0, 0).Valid(), 0u);
  EXPECT_EQ(ExifReader("/nonexistent/veltora/none.jpg", 0, 0).Valid(), 0u);
  const t::TiffBuilder tiff = t::TiffBuilder(order()).Short(t::kIfd0, 256, 5);
  // That block with its header changed at `at`.
  const auto patched = [&](size_t at, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> block = tiff.Bytes();
    std::copy(bytes.begin(), bytes.end(), block.begin() + static_cast<std::ptrdiff_t>(at));
    return block;
  };
  const auto bad_mark = patched(0, {'I', 'M'});
  EXPECT_EQ(ExifReader(bad_mark, 0, 0).Valid(), 0u);
  // A BigTIFF header: readable, but nothing is located.
  ForEachReader<ExifReader>(patched(2, tiff.U16({43})), [](ExifReader& r, uint32_t) {
    EXPECT_EQ(std::tuple(r.Valid(), r.Ifd0Offset(), r.HasTiffDimensions()), std::tuple(1u, 0u, 0));
    EXPECT_TRUE(r.LoadedData().empty());
  });
  // An IFD0 offset below the header fails the summary, and so the scan.
  const auto low = patched(4, tiff.U32({4}));
  EXPECT_EQ(ExifReader(low, 0, 0).Valid(), 0u);
}

TEST_P(ExifReaderTest, MakerNoteInSignatureFormFromEverySourceAndAfterFreeing) {
  ForEachReader<MakerNoteReader>(WithThreeEntries().Bytes(), [](MakerNoteReader& r, uint32_t load) {
    EXPECT_EQ(r.HasMakerNote(), 1);
    EXPECT_EQ(std::tuple(r.GetMakerSignature(), r.MakerEntryCount()), std::tuple("Quorvanta", 3));
    IfdEntry e{.tag = 0x0002};
    ASSERT_EQ(r.FindMakerEntry(&e), 1);  // entries start at byte 14
    EXPECT_EQ(e.value, 7u);
    uint16_t v = 0;
    EXPECT_EQ(r.GetMakerEntryValue(&e, &v, 2), 1u);
    EXPECT_EQ(v, 7);
    IfdEntry rational{.tag = 0x0001};
    ASSERT_EQ(r.FindMakerEntry(&rational), 1);
    uint32_t pair[2] = {};
    // Offsets count from the TIFF header; larger values only from loaded data.
    EXPECT_EQ(r.GetMakerEntryValue(&rational, pair, 8), load);
    EXPECT_EQ(pair[0], load ? 10u : 0u);
    std::vector<IfdEntry> list = {{.tag = 0x0001}, {.tag = 0x0002}};
    ASSERT_EQ(r.CollectMakerEntries(&list), Outcome::kDone);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].tag, 0x0002);  // maker-note order
    EXPECT_EQ(r.HasPrintMatching(), 1);
  });

  // Freed data is not read through the maker note; a note loaded again is a
  // copy read from the file.
  const auto bytes_r = WithThreeEntries().Bytes();
  MakerNoteReader r(bytes_r, 1, 0);
  ASSERT_NE(r.LoadMakerNote(), nullptr);
  r.FreeExifData();
  IfdEntry e{.tag = 2};
  EXPECT_EQ(r.FindMakerEntry(&e), 0);
  r.FreeMakerNote();
  EXPECT_NE(r.LoadMakerNote(), nullptr);
  EXPECT_EQ(r.FindMakerEntry(&e), 1);
}

TEST_P(ExifReaderTest, MakerNotesThatCannotBeRead) {
  // A signature whose count (40) needs more bytes than the note has.
  std::vector<uint8_t> short_of_entries = {'Q', 'u', 'o', 'r', 'v', 'a', 'n', 't', 'a', 0, 0, 0};
  for (uint8_t b : Builder().U16({40})) short_of_entries.push_back(b);
  short_of_entries.resize(short_of_entries.size() + 30);
  const struct {
    const char* name;
    std::vector<uint8_t> note;
    int has_note;
    std::string signature;
  } cases[] = {
      {"exactly four bytes: ignored", {'A', 'B', 'C', 'D'}, 0, ""},
      {"count past the note: signature kept", short_of_entries, 1, "Quorvanta"},
      // 19 characters, no NUL: no room for a count.
      {"text without a NUL", std::vector<uint8_t>(21, 'Q'), 1, std::string(19, 'Q')},
  };
  for (const auto& c : cases) {
    const auto bytes_r = Builder().RawMakerNote(c.note).Bytes();
    MakerNoteReader r(bytes_r, 1, 0);
    EXPECT_EQ(std::tuple(r.HasMakerNote(), r.LoadMakerNote() != nullptr),
              std::tuple(c.has_note, c.has_note == 1))
        << c.name;
    EXPECT_EQ(std::tuple(r.GetMakerSignature(), r.MakerEntryCount()), std::tuple(c.signature, 0))
        << c.name;
    IfdEntry e;
    EXPECT_EQ(r.FindMakerEntry(&e), 0) << c.name;
    std::vector<IfdEntry> list;
    EXPECT_EQ(r.CollectMakerEntries(&list), Outcome::kAbsent) << c.name;
  }
  // Declared sizes beyond the file and the data, the last by a single byte.
  t::TiffBuilder one = Builder();
  one.MakerNoteHeader(t::MakerNoteForm::kSignature, "Quorvanta").Short(t::kMakerNote, 1, 1);
  const t::TiffLayout layout = one.Layout();
  const auto just_past =
      static_cast<uint32_t>(layout.bytes.size() - layout.block_offset.at(t::kMakerNote) + 1);
  for (uint32_t declared : {0xFFFFFFFFu, 0x100000u, just_past}) {
    t::TiffBuilder b = one;
    const auto bytes_r = b.Pointer(t::kMakerNote).WithCount(declared).Bytes();
    for (uint32_t load : {0u, 1u}) {
      MakerNoteReader r(bytes_r, load, 0);
      EXPECT_EQ(r.HasMakerNote(), 1);
      IfdEntry e{.tag = 1};
      EXPECT_EQ(r.FindMakerEntry(&e), 0) << "declared " << declared << " load " << load;
    }
  }
}

VELTORA_BOTH_BYTE_ORDERS(ExifReaderTest);

// The reader over real files: every JPEG and classic TIFF of the shared
// corpus scans without fault and answers the same from the file and from
// memory. The values themselves are compared with exiftool's by the query corpus test.
TEST(ExifReaderCorpusTest, EveryPictureScansAndAnswersTheSameFromFileAndMemory) {
  const std::vector<fs::path> files = t::CorpusPictures();
  if (files.empty()) GTEST_SKIP() << "shared corpus not present";
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    const auto bytes = t::ReadFile(file);
    for (uint32_t load : {0u, 1u}) {
      MakerNoteReader from_file(file.string().c_str(), load, 0);
      MakerNoteReader from_memory(bytes, load, 0);
      EXPECT_EQ(from_file.Valid(), from_memory.Valid());
      EXPECT_EQ(from_file.DataSize(), from_memory.DataSize());
      EXPECT_EQ(from_file.IsExif(), from_memory.IsExif());
      EXPECT_EQ(from_file.GetMakerSignature(), from_memory.GetMakerSignature());
      EXPECT_EQ(from_file.MakerEntryCount(), from_memory.MakerEntryCount());
      for (uint32_t code : {kIfd0, kExifIfd, kGpsIfd, kIfd1}) {
        std::vector<IfdEntry> a, b;
        ASSERT_EQ(from_file.CollectEntries(code, &a), from_memory.CollectEntries(code, &b));
        ASSERT_EQ(a.size(), b.size());
        for (size_t i = 0; i < a.size(); ++i) {
          uint8_t va[256], vb[256];
          EXPECT_EQ(from_file.GetEntryValue(&a[i], va, 256),
                    from_memory.GetEntryValue(&b[i], vb, 256))
              << "tag " << a[i].tag;
        }
      }
      std::vector<IfdEntry> maker;
      (void)from_memory.CollectMakerEntries(&maker);
      std::vector<uint8_t> thumbnail;
      EXPECT_EQ(from_file.GetThumbnail(&thumbnail), from_memory.GetThumbnail(&thumbnail));
    }
  }
}

}  // namespace
}  // namespace veltora::exif
