// GetExifValue, GetExifMakerValue and GetMakerNoteValue over files made by
// the builder, in both byte orders.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "tests/query/query_test_files.h"

namespace veltora::testing {
namespace {

Value GetMaker(const std::string& path, const char* signature, uint16_t tag, uint32_t capacity) {
  return Call(capacity, [&](Value& v) {
    return GetExifMakerValue(path.c_str(), signature, tag, v.buffer.data(), &v.size, &v.type,
                             &v.count);
  });
}

// A call that delivered nothing: `result`, no size, type or count.
void ExpectNothing(const Value& v, HRESULT result) {
  EXPECT_EQ(std::tuple(v.result, v.size, v.type, v.count), std::tuple(result, 0u, 0, 0u));
}

using SingleTagTest = QueryTest;

TEST_P(SingleTagTest, ArgumentFaultsComeFirstAndTouchNothing) {
  const std::string path = Jpeg(Typical());
  uint8_t buffer[8];
  struct Case {
    const char* name;
    const char* path;
    uint32_t directory;
    void* buffer;
    uint32_t size;
    bool null_size;
  } cases[] = {
      {"null path", nullptr, 1, buffer, 8, false},
      {"null buffer", path.c_str(), 1, nullptr, 8, false},
      {"null size", path.c_str(), 1, buffer, 8, true},
      {"capacity 0", path.c_str(), 1, buffer, 0, false},
      {"directory 0", path.c_str(), 0, buffer, 8, false},
      {"directory 5", path.c_str(), 5, buffer, 8, false},
      {"maker-note code 17", path.c_str(), 17, buffer, 8, false},
      {"directory 256", path.c_str(), 256, buffer, 8, false},
      {"directory 258", path.c_str(), 258, buffer, 8, false},
  };
  for (const Case& c : cases) {
    uint32_t size = c.size, count = 77;
    uint16_t type = 77;
    EXPECT_EQ(GetExifValue(c.path, c.directory, 271, c.buffer, c.null_size ? nullptr : &size, &type,
                           &count),
              E_INVALIDARG)
        << c.name;
    EXPECT_EQ(std::tuple(size, type, count), std::tuple(c.size, 77, 77u)) << c.name;
  }
  uint32_t size = 8;
  EXPECT_EQ(GetExifMakerValue(nullptr, nullptr, 1, buffer, &size, nullptr, nullptr), E_INVALIDARG);
  size = 0;
  EXPECT_EQ(GetExifMakerValue(path.c_str(), nullptr, 1, buffer, &size, nullptr, nullptr),
            E_INVALIDARG);
}

TEST_P(SingleTagTest, ShortCapacitiesDeliverWholeItemsOnly) {
  const std::string path = Jpeg(Typical().Shorts(kIfd0, 530, {2, 1}));
  // Text cut to the capacity keeps its NUL inside what is delivered.
  Value date = Get(path, EXIF_DIR_EXIF, 36867, 10);
  EXPECT_EQ(std::tuple(date.result, date.size, date.count), std::tuple(S_OK, 10u, 10u));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(date.buffer.data()), 10),
            std::string("2024:05:1") + '\0');

  Value pair = Get(path, EXIF_DIR_IFD0, 530, 2);
  EXPECT_EQ(std::tuple(pair.result, pair.size, pair.count), std::tuple(S_OK, 2u, 1u));
  uint16_t first = 0;
  std::memcpy(&first, pair.buffer.data(), 2);
  EXPECT_EQ(first, 2);

  // Below one item's size: nothing delivered, buffer untouched.
  Value rational = Get(path, EXIF_DIR_EXIF, 33434, 7);
  ExpectNothing(rational, E_FAIL);
  EXPECT_EQ(std::count(rational.buffer.begin(), rational.buffer.end(), kFill), 8);
}

TEST_P(SingleTagTest, UndeliverableValuesFailWithEmptyOutputs) {
  const std::string path = Jpeg(Typical()
                                    .Ascii(kIfd0, 270, "outside")
                                    .WithOffset(0xFFFFFFF0)
                                    .Ascii(kIfd0, 315, "at the end")
                                    .WithOffsetFromEnd(0)
                                    .Raw(kIfd0, 33432, 2, 0x40000000, {'a', 'b', 'c', 'd'})
                                    .SShort(kIfd0, 532, {1, 2}));
  for (uint16_t tag : {270, 315, 33432, 532, 999}) {
    SCOPED_TRACE(tag);
    ExpectNothing(Get(path, EXIF_DIR_IFD0, tag, 16), E_FAIL);
  }
  // An absent tag leaves the buffer as it was.
  const std::vector<uint8_t> untouched = Get(path, EXIF_DIR_IFD0, 999, 16).buffer;
  EXPECT_EQ(std::count(untouched.begin(), untouched.end(), kFill), 17);
  // The values read from each directory are compared with exiftool's over
  // the corpus, which leaves out the interoperability directory: it is never
  // located, however present.
  ExpectNothing(Get(path, EXIF_DIR_INTEROP, 1, 32), E_FAIL);
}

TEST_P(SingleTagTest, FilesWithoutUsableExifAreRefused) {
  const std::string jfif = JfifJpeg(Typical());
  WriteFile(dir_ / "empty.jpg", std::vector<uint8_t>{});
  for (const std::string& path :
       {jfif, (dir_ / "missing.jpg").string(), (dir_ / "empty.jpg").string()}) {
    SCOPED_TRACE(path);
    ExpectNothing(Get(path, EXIF_DIR_IFD0, 271, 16), E_NOTEXIF);
    ExpectNothing(GetMaker(path, nullptr, 1, 16), E_NOTEXIF);
  }
  // The extension is not looked at: a TIFF named .dat is read.
  EXPECT_EQ(Get(Tiff(Typical().RgbImage(kIfd0, 4, 4), "tiff.dat"), EXIF_DIR_IFD0, 271, 16).result,
            S_OK);
}

TiffBuilder WithQuorvantaNote(TiffBuilder b) {
  b.MakerNoteHeader(MakerNoteForm::kSignature, "Quorvanta")
      .KeepEntryOrder()
      .Short(kMakerNote, 0x0002, 22)
      .Short(kMakerNote, 0x0001, 11)
      .Ascii(kMakerNote, 0x0033, kCaptureText)
      .Long(kMakerNote, 0x0026, 0x01020304);
  return b;
}

TEST_P(SingleTagTest, MakerValueRequiresTheWholeSignature) {
  const std::string path = Jpeg(WithQuorvantaNote(Typical()));
  for (const char* signature : {"Quorvanta", static_cast<const char*>(nullptr)}) {
    const Value v = GetMaker(path, signature, 0x0033, 32);
    EXPECT_EQ(std::tuple(v.result, v.size, v.type), std::tuple(S_OK, 20u, 2));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(v.buffer.data())), kCaptureText);
  }
  for (const char* signature : {"Quorvant", "QuorvantaX", "quorvanta", ""}) {
    SCOPED_TRACE(signature);
    ExpectNothing(GetMaker(path, signature, 0x0001, 32), E_FAIL);
  }
  ExpectNothing(GetMaker(path, "Quorvanta", 0x0099, 32), E_FAIL);
}

struct MakerLists {
  HRESULT result = 0;
  std::string signature;
  std::vector<uint16_t> tags;
  std::vector<uint32_t> values;
};

MakerLists CallMakerNoteValue(const std::string& path, const std::string& signature,
                              std::vector<uint16_t> wanted) {
  CString s{};
  CWordArray tags{};
  CDWordArray values{};
  CStringSet(&s, signature.c_str());
  ArrayAppend(&tags, wanted.data(), wanted.size());
  const uint32_t stale = 0xDEAD;
  ArrayAppend(&values, &stale, 1);
  MakerLists out;
  out.result = GetMakerNoteValue(path.c_str(), &s, &tags, &values);
  out.signature = CStringGet(&s);
  out.tags.assign(ArrayView(&tags).begin(), ArrayView(&tags).end());
  out.values.assign(ArrayView(&values).begin(), ArrayView(&values).end());
  CStringFree(&s);
  ArrayFree(&tags);
  ArrayFree(&values);
  return out;
}

TEST_P(SingleTagTest, MakerNoteValuesComeInNoteOrderWithTheirValueFields) {
  const TiffBuilder b = WithQuorvantaNote(Typical());
  const std::string path = Jpeg(b);
  const TiffLayout layout = b.Layout();

  MakerLists wanted = CallMakerNoteValue(path, "Quorvanta", {0x0001, 0x0002});
  EXPECT_EQ(std::tuple(wanted.result, wanted.tags, wanted.values),
            std::tuple(S_OK, std::vector<uint16_t>{0x0002, 0x0001}, std::vector<uint32_t>{22, 11}));

  MakerLists all = CallMakerNoteValue(path, "", {});
  EXPECT_EQ(std::tuple(all.result, all.signature), std::tuple(S_OK, "Quorvanta"));
  ASSERT_EQ(all.tags, (std::vector<uint16_t>{0x0002, 0x0001, 0x0033, 0x0026}));
  // Larger values are represented by their offset from the TIFF header.
  EXPECT_EQ(all.values[2], layout.value_offset.at({kMakerNote, 0x0033}));
  EXPECT_EQ(all.values[3], 0x01020304u);

  MakerLists none = CallMakerNoteValue(path, "Quorvanta", {0x0099});
  EXPECT_EQ(std::tuple(none.result, none.tags.size(), none.values.size()),
            std::tuple(S_OK, 0u, 0u));

  // Another signature aborts and reports the file's own.
  MakerLists first = CallMakerNoteValue(path, "Other", {0x0001});
  EXPECT_EQ(std::tuple(first.result, first.signature, first.tags.size(), first.values.size()),
            std::tuple(E_ABORT, "Quorvanta", 0u, 0u));
  MakerLists second = CallMakerNoteValue(path, first.signature, {0x0001});
  EXPECT_EQ(std::tuple(second.result, second.tags), std::tuple(S_OK, std::vector<uint16_t>{1}));
}

TEST_P(SingleTagTest, MakerNoteValueRefusals) {
  const std::string no_note = Jpeg(Typical(), "plain.jpg");
  const std::string with_note = Jpeg(WithQuorvantaNote(Typical()), "note.jpg");
  const std::string as_png = (dir_ / "note.png").string();
  std::filesystem::copy_file(with_note, as_png);
  EXPECT_EQ(CallMakerNoteValue(no_note, "", {}).result, E_FAIL);
  EXPECT_EQ(CallMakerNoteValue(as_png, "", {}).result, E_FAIL);
  EXPECT_EQ(CallMakerNoteValue(JfifJpeg(WithQuorvantaNote(Typical())), "", {}).result, E_NOTEXIF);
  // values is emptied before anything else, also when the call is refused.
  EXPECT_TRUE(CallMakerNoteValue(as_png, "", {}).values.empty());

  CDWordArray values{};
  const uint32_t stale = 1;
  ArrayAppend(&values, &stale, 1);
  CWordArray tags{};
  EXPECT_EQ(GetMakerNoteValue(with_note.c_str(), nullptr, &tags, &values), E_INVALIDARG);
  EXPECT_EQ(values.count, 0);
  CString s{};
  EXPECT_EQ(GetMakerNoteValue(with_note.c_str(), &s, nullptr, &values), E_INVALIDARG);
  EXPECT_EQ(GetMakerNoteValue(with_note.c_str(), &s, &tags, nullptr), E_INVALIDARG);
  ArrayFree(&values);
}

TEST_P(SingleTagTest, CountFirstMakerNoteHasAnEmptySignature) {
  const std::string path =
      Jpeg(Typical().MakerNoteHeader(MakerNoteForm::kCountFirst).Short(kMakerNote, 0x0007, 70));
  MakerLists lists = CallMakerNoteValue(path, "", {});
  EXPECT_EQ(std::tuple(lists.result, lists.signature), std::tuple(S_OK, ""));
  EXPECT_EQ(GetMaker(path, "Quorvanta", 0x0007, 2).result, E_FAIL);
  if (order() == kLittle) {
    EXPECT_EQ(lists.tags, (std::vector<uint16_t>{0x0007}));
    EXPECT_EQ(GetMaker(path, "", 0x0007, 2).result, S_OK);
  } else {
    // A big-endian count below 256 starts with a NUL: the note reads as
    // empty text, which makes it unreadable; the maker note is still there.
    EXPECT_TRUE(lists.tags.empty());
    EXPECT_EQ(GetMaker(path, "", 0x0007, 2).result, E_FAIL);
  }
}

VELTORA_BOTH_BYTE_ORDERS(SingleTagTest);

}  // namespace
}  // namespace veltora::testing
