// The block editor: cuts and insertions keep every offset pointing at the
// same bytes, in both byte orders, whatever order the blocks were laid out in.
#include <gtest/gtest.h>

#include <functional>

#include "edit/exif_editor.h"
#include "edit/rebuilt_output.h"
#include "tests/edit/edit_test_support.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/temp_dir.h"

namespace veltora::testing {
namespace {

using edit::EntryEdit;
using edit::ExifEditor;

class EditorTest : public ::testing::TestWithParam<Endian> {
 protected:
  TempDir dir_;
  // Rebuilds `file` from the editor's block with the JPEG layout.
  std::filesystem::path WriteOut(const ExifEditor& editor, const std::filesystem::path& file,
                                 const char* name = "out.jpg") {
    std::vector<uint8_t> out;
    EXPECT_EQ(edit::WriteJpegLayout(editor, ReadFile(file), &out), 0u);
    WriteFile(dir_ / name, out);
    return dir_ / name;
  }
};
VELTORA_BOTH_BYTE_ORDERS(EditorTest);

// Values of IFD0, Exif and GPS (IFD1 is cut by StartEdit).
std::map<std::pair<uint32_t, uint16_t>, std::string> MainValues(const std::filesystem::path& f) {
  auto all = AllValues(f);
  std::erase_if(all, [](const auto& kv) { return kv.first.first == exif::kIfd1; });
  return all;
}

TiffBuilder WithGps(TiffBuilder b) {
  b.Byte(kGps, 0, {2, 2, 0, 0})
      .Ascii(kGps, 1, "N")
      .Rationals(kGps, 2, {{48, 1}, {51, 1}, {2160, 100}})
      .Rational(kGps, 6, 1234, 10);
  return b;
}

// A Software entry that needs room outside its directory.
const EntryEdit kLonger{{305, exif::kTypeAscii, 12, 0},
                        {'a', ' ', 'l', 'o', 'n', 'g', 'e', 'r', ' ', 'o', 'n', 0}};

// Whether the editor's block holds `bytes` at `at`.
bool Holds(const ExifEditor& editor, uint64_t at, std::span<const uint8_t> bytes) {
  return at + bytes.size() <= editor.Block().size() &&
         std::equal(bytes.begin(), bytes.end(), editor.Block().begin() + at);
}

TEST_P(EditorTest, StartEditCutsIfd1WithoutMovingValuesAndDropsInteropOnRequest) {
  auto b = WithGps(CameraBlock(GetParam()));
  b.LayoutOrder({kIfd0, kIfd1, kThumbnailData, kExif, kInterop, kGps});
  const auto file = b.WriteJpeg(dir_);
  const auto before = MainValues(file);
  ASSERT_GE(before.size(), 14u);

  FileEditor editor(file, 0);
  ASSERT_EQ(editor.StartEdit(false), exif::Outcome::kDone);
  EXPECT_EQ(editor.DirectoryOffset(exif::kIfd1), 0u);
  EXPECT_TRUE(editor.Source().LoadedData().empty()) << "a block loaded by StartEdit is released again";
  EXPECT_LT(editor.Block().size(), b.Layout().bytes.size() - RealJpeg(32, 24).size());
  const auto interop = editor.FindBlockEntry(exif::kInteropIfd, 1);
  ASSERT_TRUE(interop);
  EXPECT_EQ(interop->value, 0x00383952u) << "R98 still where the pointer leads";

  const auto out = WriteOut(editor, file);
  EXPECT_EQ(MainValues(out), before);
  EXPECT_FALSE(ReadValue(out, exif::kIfd1, 513));

  FileEditor dropping(file);
  ASSERT_EQ(dropping.StartEdit(true), exif::Outcome::kDone);
  EXPECT_EQ(dropping.StartEdit(true), exif::Outcome::kRefused) << "a second work block is refused";
  EXPECT_FALSE(dropping.FindBlockEntry(exif::kExifIfd, 40965)) << "interop pointer dropped";
  EXPECT_EQ(dropping.DirectoryOffset(exif::kInteropIfd), 0u);
  EXPECT_FALSE(dropping.Source().LoadedData().empty()) << "a block the caller loaded stays loaded";
}

// IFD0 laid out before its children grows by an entry, and every child
// moves, as do its SSHORT and DOUBLE values (sizeless to the reader, so
// checked in the block); GPS, between the Exif IFD's values and the interoperability IFD and
// after a gap, loses one entry and has another replaced, and only what
// follows it moves. Either way every value is still where its entry says.
TEST_P(EditorTest, RewriteMovesTheValuesBehindADirectoryAndKeepsThemAddressed) {
  const std::string software = "Veltora test writer 1.0";
  const uint16_t drop_altitude[] = {6};
  const struct {
    uint32_t code;
    std::vector<Dir> layout;
    std::span<const uint16_t> drop;
    EntryEdit edit;
    int result;
  } cases[] = {
      {exif::kIfd0,
       {kIfd0, kGps, kExif, kInterop, kIfd1, kThumbnailData},
       {},
       {{305, exif::kTypeAscii, 24, 0}, {software.c_str(), software.c_str() + 24}},
       1},
      {exif::kGpsIfd,
       {kIfd0, kExif, kGps, kInterop, kIfd1, kThumbnailData},
       drop_altitude,
       {{2, exif::kTypeRational, 3, 0}, std::vector<uint8_t>(24, 0)},
       -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    auto b = WithGps(CameraBlock(GetParam()));
    b.LayoutOrder(c.layout);
    if (c.code == exif::kGpsIfd) b.PlaceAt(kGps, 0x200);
    b.SShort(kIfd0, 50000, {-1, 2, -3, 4}).Double(kIfd0, 50001, {1.5, -2.25});
    const auto file = b.WriteJpeg(dir_);
    auto expected = AllValues(file);
    for (uint16_t tag : c.drop) expected.erase({c.code, tag});
    const exif::IfdEntry& e = c.edit.entry;
    expected[{c.code, e.tag}] = std::to_string(e.type) + "/" + std::to_string(e.count) + ":" +
                                std::string(c.edit.bytes.begin(), c.edit.bytes.end());

    FileEditor source(file);
    FileEditor editor(file);
    ASSERT_EQ(source.CopyBlock(), exif::Outcome::kDone);
    ASSERT_EQ(editor.CopyBlock(), exif::Outcome::kDone);
    EXPECT_EQ(editor.PinnedEnd(), 0u) << "nothing in this block needs pinning";
    const edit::RewriteResult rewrite = editor.RewriteIfd(c.code, c.drop, {&c.edit, 1});
    ASSERT_TRUE(rewrite.Done());
    ASSERT_EQ(rewrite.entryChange, c.result);
    for (const auto& [tag, size] : {std::pair<uint16_t, uint32_t>{50000, 8}, {50001, 16}}) {
      const auto was = source.FindBlockEntry(exif::kIfd0, tag);
      const auto is = editor.FindBlockEntry(exif::kIfd0, tag);
      ASSERT_TRUE(was && is);
      EXPECT_EQ(is->value != was->value, c.code == exif::kIfd0) << "moved with IFD0 only";
      EXPECT_TRUE(Holds(editor, is->value, source.Block().subspan(was->value, size))) << tag;
    }
    const auto out = WriteOut(editor, file);
    EXPECT_EQ(AllValues(out), expected);
    EXPECT_TRUE(ThumbnailDecodes(out)) << "JPEGInterchangeFormat follows the thumbnail";
    const auto interop = editor.FindBlockEntry(exif::kInteropIfd, 1);
    ASSERT_TRUE(interop);
    EXPECT_EQ(interop->value, 0x00383952u);
  }
}

TEST_P(EditorTest, RemoveTagRemovesEveryCopyAndKeepsTheLink) {
  auto b = CameraBlock(GetParam());
  b.Ascii(kIfd0, 305, "first").Ascii(kIfd0, 305, "second").KeepEntryOrder();
  const auto file = b.WriteJpeg(dir_);
  FileEditor editor(file);
  ASSERT_EQ(editor.CopyBlock(), exif::Outcome::kDone);
  const uint16_t count = editor.EntryCount(exif::kIfd0);
  const auto link = editor.NextLinkPosition(exif::kIfd0);
  ASSERT_TRUE(link);
  const uint32_t ifd1 = bytes::Read32(editor.Block().data() + *link, editor.Order());

  EXPECT_EQ(editor.RemoveTag(exif::kIfd0, 305), exif::Outcome::kDone);
  EXPECT_EQ(editor.RemoveTag(exif::kIfd0, 305), exif::Outcome::kAbsent);
  EXPECT_EQ(editor.RemoveTag(99, 305), exif::Outcome::kAbsent);
  EXPECT_EQ(editor.SetEntryInPlace(99, {274, 3, 1, 1}), exif::Outcome::kAbsent);
  EXPECT_FALSE(editor.FindBlockEntry(99, 274));
  EXPECT_EQ(editor.RewriteIfd(99, {}, {}).outcome, exif::Outcome::kAbsent);
  EXPECT_EQ(editor.EntryCount(exif::kIfd0), count - 2);
  const auto new_link = editor.NextLinkPosition(exif::kIfd0);
  ASSERT_TRUE(new_link);
  EXPECT_EQ(*new_link, *link - 24);
  EXPECT_EQ(bytes::Read32(editor.Block().data() + *new_link, editor.Order()), ifd1);
  const auto out = WriteOut(editor, file);
  EXPECT_FALSE(ReadValue(out, exif::kIfd0, 305));
  EXPECT_TRUE(ReadValue(out, exif::kIfd1, 513));
}

TEST_P(EditorTest, MakerNotesStayByteForByteWhereTheyWereThroughEveryRewrite) {
  // A note without a directory, and one whose directory holds an SSHORT array
  // out of line: neither may move, be shifted inside or be dropped.
  auto without = CameraBlock(GetParam());
  without.RawMakerNote({'Q', 'U', 'O', 'R', 'V', 'A', 0, 0, 0xFF, 0xFF, 1, 2, 3, 4});
  auto with = CameraBlock(GetParam());
  with.MakerNoteHeader(MakerNoteForm::kSignature, "Quorvanta", {1, 0})
      .Raw(kMakerNote, 1, exif::kTypeSShort, 4, {1, 2, 3, 4, 5, 6, 7, 8})
      .Short(kMakerNote, 2, 7);
  for (TiffBuilder* b : {&without, &with}) {
    const auto file = b->WriteJpeg(dir_);
    FileEditor source(file);
    ASSERT_EQ(source.CopyBlock(), exif::Outcome::kDone);
    const auto note = source.Block().subspan(source.MakerNote().offset, source.MakerNote().length);
    FileEditor editor(file);
    ASSERT_EQ(editor.StartEdit(false), exif::Outcome::kDone);
    EXPECT_NE(editor.PinnedEnd(), 0u);
    if (b == &with) {
      // The directory behind the nine-character signature, and its array
      // still resolving in the block that lost IFD1.
      EXPECT_EQ(editor.DirectoryOffset(exif::kMakerNoteIfd), editor.MakerNote().offset + 12);
      EXPECT_EQ(editor.EntryCount(exif::kMakerNoteIfd), 2);
      const auto array = editor.FindBlockEntry(exif::kMakerNoteIfd, 1);
      ASSERT_TRUE(array);
      const uint8_t raw[] = {1, 2, 3, 4, 5, 6, 7, 8};
      EXPECT_TRUE(Holds(editor, array->value, raw));
    }
    ASSERT_GT(editor.RewriteIfd(exif::kIfd0, {}, {&kLonger, 1}).entryChange, 0);
    ASSERT_GT(editor.RewriteIfd(exif::kExifIfd, {}, {&kLonger, 1}).entryChange, 0);
    const auto entry = editor.FindBlockEntry(exif::kExifIfd, exif::kTagMakerNote);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->value, source.MakerNote().offset);
    EXPECT_TRUE(Holds(editor, entry->value, note));
  }
}

TEST_P(EditorTest, GrowthBeyondTheHeadroomIsRefusedAndChangesNothing) {
  const auto file = CameraBlock(GetParam()).WriteJpeg(dir_);
  FileEditor editor(file);
  ASSERT_EQ(editor.CopyBlock(), exif::Outcome::kDone);
  const std::vector<uint8_t> before(editor.Block().begin(), editor.Block().end());
  EntryEdit huge{{700, exif::kTypeUndefined, ExifEditor::kHeadroom, 0},
                 std::vector<uint8_t>(ExifEditor::kHeadroom, 0xAB)};
  EXPECT_EQ(editor.RewriteIfd(exif::kIfd0, {}, {&huge, 1}).outcome, exif::Outcome::kRefused);
  EXPECT_EQ(std::vector<uint8_t>(editor.Block().begin(), editor.Block().end()), before);
  EXPECT_FALSE(editor.Append(std::vector<uint8_t>(editor.BlockCapacity()), false));

  EntryEdit fits{{700, exif::kTypeUndefined, 60000, 0}, std::vector<uint8_t>(60000, 0xAB)};
  EXPECT_EQ(editor.RewriteIfd(exif::kIfd0, {}, {&fits, 1}).entryChange, 1);
}

TEST_P(EditorTest, TiffImageDataFollowsTheBlockAtAnEvenPosition) {
  auto b = CameraBlock(GetParam());
  b.RgbImage(kIfd0, 8, 20, {}, 4);
  const auto layout = b.Layout();
  const auto file = b.WriteTiff(dir_);
  FileEditor editor(file);
  ASSERT_TRUE(editor.IsTiffSource());
  ASSERT_EQ(editor.CopyBlock(), exif::Outcome::kDone);
  const uint32_t length = editor.DataLength(exif::kIfd0);
  EXPECT_EQ(length, 8u * 20 * 3);
  ASSERT_EQ(editor.SetDataOffset(exif::kIfd0, 4001), exif::Outcome::kDone);
  EXPECT_EQ(editor.Placed(exif::kIfd0).offset, 4002u);

  std::vector<uint8_t> out;
  ASSERT_EQ(edit::WriteTiffLayout(editor, ReadFile(file), &out), 0u);
  ASSERT_EQ(out.size(), 4002u + length);
  EXPECT_TRUE(std::equal(out.begin() + 4002, out.end(),
                         layout.bytes.begin() + editor.Source().PrimaryImage().firstStripOffset));
  WriteFile(dir_ / "moved.tif", out);
  exif::ExifReader reread_source((dir_ / "moved.tif").string().c_str(), 1, 0);
  EXPECT_EQ(reread_source.PrimaryImage().firstStripOffset, 4002u);
}

TEST_P(EditorTest, BrokenBlocksAreEditedWithoutLeavingTheBlock) {
  struct Case {
    const char* name;
    std::function<void(TiffBuilder&)> breakIt;
  } cases[] = {
      {"IFD1 count past the end", [](TiffBuilder& b) { b.DeclareEntryCount(kIfd1, 0xFFFF); }},
      {"IFD1 links to itself", [](TiffBuilder& b) { b.NextIfdTo(kIfd1, kIfd1); }},
      {"value offset near 2^32",
       [](TiffBuilder& b) { b.Ascii(kIfd1, 305, "far away").WithOffset(0xFFFFFFF0); }},
      {"value count overflows",
       [](TiffBuilder& b) {
         b.Rationals(kIfd0, 318, {{1, 2}, {3, 4}}).WithCount(0x20000001);
       }},
      {"GPS pointer past the end", [](TiffBuilder& b) { b.Pointer(kGps).WithOffsetFromEnd(-1); }},
      {"thumbnail length past the end", [](TiffBuilder& b) { b.Long(kIfd1, 514, 0x7FFFFFFF); }},
      // Found by fuzzing: cutting or stamping such a value destroyed the header.
      {"values inside the TIFF header",
       [](TiffBuilder& b) {
         b.Ascii(kIfd0, 305, "inside the header").WithOffset(2);
         b.Ascii(kIfd0, 306, "2001:01:01 00:00:00").WithOffset(4);
       }},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto b = CameraBlock(GetParam());
    c.breakIt(b);
    const auto file = b.WriteJpeg(dir_);
    FileEditor editor(file);
    if (!exif::Done(editor.StartEdit(false))) continue;
    const EntryEdit add{{305, exif::kTypeAscii, 4, 0x00414141}, {}};
    // Refused or done, the rebuilt file must read.
    (void)editor.RewriteIfd(exif::kIfd0, {}, {&add, 1});
    (void)editor.RewriteIfd(exif::kGpsIfd, {}, {&add, 1});
    edit::StampDateTime(editor);
    EXPECT_LE(editor.Block().size(), editor.BlockCapacity());
    const auto out = WriteOut(editor, file);
    exif::ExifReader reread(out.string().c_str(), 1, 0);
    EXPECT_EQ(reread.Valid(), 1u);
    EXPECT_NE(reread.Ifd0Offset(), 0u) << "the TIFF header no longer reads";
  }
}

}  // namespace
}  // namespace veltora::testing
