#include "exif/maker_note_reader.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/support/tiff_builder.h"

namespace veltora::exif {
namespace {

namespace t = veltora::testing;

class MakerNoteReaderTest : public ::testing::TestWithParam<t::Endian> {
 protected:
  // A TIFF block with image dimensions in IFD0 and an EXIF directory that
  // holds only the maker note.
  t::TiffBuilder Builder() const {
    t::TiffBuilder b(GetParam());
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
        .Raw(t::kMakerNote, 0x0001, t::kRational, 1, {}).WithOffset(rational)
        .Undefined(t::kMakerNote, 0x0E00, std::vector<uint8_t>(12, 'P'));
    return b;
  }
  // The 12-byte signature field and an entry count, and nothing more.
  std::vector<uint8_t> SignatureAndCount(uint16_t count) const {
    std::vector<uint8_t> note = {'Q', 'u', 'o', 'r', 'v', 'a', 'n', 't', 'a', 0, 0, 0};
    const auto n = Builder().U16({count});
    note.insert(note.end(), n.begin(), n.end());
    return note;
  }
};

TEST_P(MakerNoteReaderTest, SignatureFormFromEverySource) {
  const auto file = WithThreeEntries().Bytes();
  t::TempDir dir;
  t::WriteFile(dir / "file", file);
  for (uint32_t load : {0u, 1u}) {
    for (bool from_file : {false, true}) {
      SCOPED_TRACE(std::string(from_file ? "file" : "memory") + " load=" + std::to_string(load));
      auto r = from_file ? std::make_unique<MakerNoteReader>((dir / "file").c_str(), load, 0)
                         : std::make_unique<MakerNoteReader>(file, load, 0);
      EXPECT_EQ(r->HasMakerNote(), 1);
      EXPECT_EQ(r->makerSignature, "Quorvanta");
      EXPECT_EQ(r->makerEntryCount, 3);
      EXPECT_EQ(r->GetMakerSignature(), "Quorvanta");
      IfdEntry e;
      e.tag = 0x0002;
      ASSERT_EQ(r->FindMakerEntry(&e), 1);  // entries start at byte 14
      EXPECT_EQ(e.value, 7u);
      uint16_t v = 0;
      EXPECT_EQ(r->GetMakerEntryValue(&e, &v, 2), 1u);
      EXPECT_EQ(v, 7);
      IfdEntry rational;
      rational.tag = 0x0001;
      ASSERT_EQ(r->FindMakerEntry(&rational), 1);
      uint32_t pair[2] = {};
      // Offsets count from the TIFF header; larger values only from loaded data.
      EXPECT_EQ(r->GetMakerEntryValue(&rational, pair, 8), load);
      EXPECT_EQ(pair[0], load ? 10u : 0u);
      std::vector<IfdEntry> list(2);
      list[0].tag = 0x0001;
      list[1].tag = 0x0002;
      ASSERT_EQ(r->CollectMakerEntries(&list), 2);
      EXPECT_EQ(list[0].tag, 0x0002);  // maker-note order
      EXPECT_EQ(r->HasPrintMatching(), 1);
    }
  }
}

TEST_P(MakerNoteReaderTest, NotesThatCannotBeRead) {
  {  // Exactly four bytes: ignored.
    const auto bytes_r = Builder().RawMakerNote({'A', 'B', 'C', 'D'}).Bytes();
    MakerNoteReader r(bytes_r, 1, 0);
    EXPECT_EQ(r.HasMakerNote(), 0);
    EXPECT_EQ(r.makerNote, nullptr);
  }
  {  // A signature whose count needs more bytes than the note has: signature kept.
    std::vector<uint8_t> note = SignatureAndCount(40);
    note.resize(note.size() + 30);
    const auto bytes_r = Builder().RawMakerNote(note).Bytes();
    MakerNoteReader r(bytes_r, 1, 0);
    EXPECT_EQ(r.makerEntryCount, 0);
    EXPECT_EQ(r.GetMakerSignature(), "Quorvanta");
    IfdEntry e;
    EXPECT_EQ(r.FindMakerEntry(&e), 0);
    std::vector<IfdEntry> list;
    EXPECT_EQ(r.CollectMakerEntries(&list), 0);
  }
  {  // A 19-character text with no NUL leaves no room for a count.
    const auto bytes_r = Builder().RawMakerNote(std::vector<uint8_t>(21, 'Q')).Bytes();
    MakerNoteReader r(bytes_r, 1, 0);
    EXPECT_EQ(r.makerSignature.size(), 19u);
    EXPECT_EQ(r.makerEntryCount, 0);
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
      IfdEntry e;
      e.tag = 1;
      EXPECT_EQ(r.FindMakerEntry(&e), 0) << "declared " << declared << " load " << load;
    }
  }
}

TEST_P(MakerNoteReaderTest, FreedDataIsNotReadThroughTheNote) {
  const auto bytes_r = WithThreeEntries().Bytes();
  MakerNoteReader r(bytes_r, 1, 0);
  ASSERT_NE(r.makerNote, nullptr);
  r.FreeExifData();
  IfdEntry e;
  e.tag = 2;
  EXPECT_EQ(r.FindMakerEntry(&e), 0);
  EXPECT_EQ(r.FreeMakerNote(), 1);
  EXPECT_NE(r.LoadMakerNote(), nullptr);  // now a copy read from the file
  EXPECT_EQ(r.FindMakerEntry(&e), 1);
}

INSTANTIATE_TEST_SUITE_P(BothByteOrders, MakerNoteReaderTest,
                         ::testing::Values(t::kLittle, t::kBig),
                         [](const auto& param_info) { return std::string(t::EndianName(param_info.param)); });

}  // namespace
}  // namespace veltora::exif
