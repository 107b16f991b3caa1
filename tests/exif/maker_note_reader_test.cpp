#include "exif/maker_note_reader.h"

#include <gtest/gtest.h>

#include <memory>

#include <string>
#include <vector>

#include "exif_test_files.h"

namespace veltora::exif {
namespace {

using test::Block;
using test::ScratchFile;

constexpr uint32_t kNoteAt = 0x80;

// A TIFF file whose EXIF directory holds a MakerNote of `note` (written at
// kNoteAt) and whose IFD0 holds a RATIONAL at 0x200 for maker entries to
// point at.
std::vector<uint8_t> FileWithNote(ByteOrder order, const std::string& note,
                                  uint32_t declared_size = 0) {
  Block b(order);
  b.Header(8).Ifd(8, {{256, kTypeShort, 1, 4}, {257, kTypeShort, 1, 4},
                      {kTagExifIfdPointer, kTypeLong, 1, 0x40}});
  b.Ifd(0x40, {{kTagMakerNote, kTypeUndefined,
                declared_size ? declared_size : uint32_t(note.size()), kNoteAt}});
  b.Raw(kNoteAt, note);
  b.U32(0x200, 10).U32(0x204, 3).Grow(0x220);
  return b.bytes();
}

// Maker-note entries laid out in `order`.
std::string Entries(ByteOrder order, const std::vector<IfdEntry>& entries) {
  std::string out(entries.size() * 12, '\0');
  for (size_t i = 0; i < entries.size(); ++i) {
    EncodeEntry(reinterpret_cast<uint8_t*>(out.data()) + 12 * i, order, entries[i]);
  }
  return out;
}

std::string Count(ByteOrder order, uint16_t n) {
  uint8_t b[2];
  Write16(b, n, order);
  return std::string(reinterpret_cast<char*>(b), 2);
}

class MakerNoteReaderTest : public ::testing::TestWithParam<ByteOrder> {
 protected:
  ByteOrder order() const { return GetParam(); }
  std::vector<IfdEntry> ThreeEntries() const {
    return {{0x0002, kTypeShort, 1, 7}, {0x0001, kTypeRational, 1, 0x200},
            {0x0E00, kTypeUndefined, 12, 0x100}};
  }
};

TEST_P(MakerNoteReaderTest, SignatureFormFromEverySource) {
  const std::string note = std::string("Quorvanta\0\0\0", 12) + Count(order(), 3) +
                           Entries(order(), ThreeEntries()) + std::string(4, '\0');
  const auto file = FileWithNote(order(), note);
  ScratchFile scratch(file);
  for (uint32_t load : {0u, 1u}) {
    for (bool from_file : {false, true}) {
      SCOPED_TRACE(std::string(from_file ? "file" : "memory") + " load=" + std::to_string(load));
      auto r = from_file ? std::make_unique<MakerNoteReader>(scratch.path(), load, 0)
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
    const auto bytes_r = FileWithNote(order(), "ABCD");
    MakerNoteReader r(bytes_r, 1, 0);
    EXPECT_EQ(r.HasMakerNote(), 0);
    EXPECT_EQ(r.makerNote, nullptr);
  }
  {  // A signature whose count needs more bytes than the note has: signature kept.
    const std::string note = std::string("Quorvanta\0\0\0", 12) + Count(order(), 40) +
                             std::string(30, '\0');
    const auto bytes_r = FileWithNote(order(), note);
    MakerNoteReader r(bytes_r, 1, 0);
    EXPECT_EQ(r.makerEntryCount, 0);
    EXPECT_EQ(r.GetMakerSignature(), "Quorvanta");
    IfdEntry e;
    EXPECT_EQ(r.FindMakerEntry(&e), 0);
    std::vector<IfdEntry> list;
    EXPECT_EQ(r.CollectMakerEntries(&list), 0);
  }
  {  // A 19-character text with no NUL leaves no room for a count.
    const std::string note(21, 'Q');
    const auto bytes_r = FileWithNote(order(), note);
    MakerNoteReader r(bytes_r, 1, 0);
    EXPECT_EQ(r.makerSignature.size(), 19u);
    EXPECT_EQ(r.makerEntryCount, 0);
  }
  for (uint32_t declared : {0xFFFFFFFFu, 0x100000u, 0x1A1u}) {  // beyond the file / data
    const std::string note = std::string("Quorvanta\0\0\0", 12) + Count(order(), 1) +
                             Entries(order(), {{1, kTypeShort, 1, 1}});
    for (uint32_t load : {0u, 1u}) {
      const auto bytes_r = FileWithNote(order(), note, declared);
      MakerNoteReader r(bytes_r, load, 0);
      EXPECT_EQ(r.HasMakerNote(), 1);
      IfdEntry e;
      e.tag = 1;
      EXPECT_EQ(r.FindMakerEntry(&e), 0) << "declared " << declared << " load " << load;
    }
  }
}

TEST_P(MakerNoteReaderTest, FreedDataIsNotReadThroughTheNote) {
  const std::string note = std::string("Quorvanta\0\0\0", 12) + Count(order(), 3) +
                           Entries(order(), ThreeEntries());
  const auto bytes_r = FileWithNote(order(), note);
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
                         ::testing::Values(kLittleEndian, kBigEndian), test::OrderName);

}  // namespace
}  // namespace veltora::exif
