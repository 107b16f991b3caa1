#include "tests/support/write_paths.h"

#include <algorithm>
#include <ctime>

#include "imaging/dib_memory.h"
#include "tests/create/records.h"
#include "tests/edit/edit_test_support.h"
#include "tests/imaging/imaging_test_support.h"
#include "tests/support/jpeg_builder.h"

namespace veltora::testing {
namespace {

HRESULT CreateGps(const std::string& out, const std::string& in) {
  GpsSet gps;
  gps.Tags({1, 2, 3, 4}).Position('N', 48, 'E', 2);
  return ReplaceExifGps(out.c_str(), in.c_str(), 90, &gps.set);
}

// Records merged into the input's EXIF block: an Orientation replaced, a
// ColorSpace inserted.
HRESULT MergeRecords(const std::string& out, const std::string& in) {
  static RecordList* const records = [] {
    auto* list = new RecordList;
    AddRecords(*list, R"({"TiffMain": {"Orientation": 6}, "Exif": {"ColorSpace": 1}})");
    return list;
  }();
  return AppendExif(out.c_str(), in.c_str(), records->get(), 1);
}

// A JPEG of noise (large whatever the quality) with an EXIF block built from
// records: crosses a 64 KiB size limit and fills a 128 KiB disk.
HRESULT EncodeWithRecords(const std::string& out, const std::string&) {
  static const HGLOBAL dib = imaging::MakeDib(imaging::testing::MakeNoise(600, 400, 24));
  static RecordList* const records = [] {
    auto* list = new RecordList;
    AddFullRecords(*list);
    return list;
  }();
  return Encode(dib, out.c_str(), ENCODE_EXIF | ENCODE_EXIF_RECORDS, 90, records->get());
}

// A 270 KB BMP: crosses a 64 KiB size limit and fills a 128 KiB disk.
HRESULT EncodeBmp(const std::string& out, const std::string&) {
  static const HGLOBAL dib = imaging::MakeDib(imaging::testing::MakePhoto(300, 300));
  return Encode(dib, out.c_str(), ENCODE_BMP, 90, nullptr);
}

HRESULT ReplaceThumbnail(const std::string& out, const std::string& in) {
  static const HGLOBAL dib = imaging::MakeDib(imaging::testing::MakePhoto(300, 300));
  return ReplaceThumbImage(out.c_str(), in.c_str(), dib, 90);
}

// A picture whose JPEG crosses a 64 KiB size limit and fills a 128 KiB disk.
HGLOBAL LargePicture() {
  static const HGLOBAL dib = imaging::MakeDib(imaging::testing::MakeNoise(400, 300, 24));
  return dib;
}

HRESULT ReplaceMain(const std::string& out, const std::string& in) {
  return ReplaceExifImage(out.c_str(), in.c_str(), LargePicture(), 90);
}

HRESULT EncodeNewBlock(const std::string& out, const std::string&) {
  return Encode(LargePicture(), out.c_str(), ENCODE_JPEG | ENCODE_NEW_EXIF_FILE, 90, nullptr);
}

template <int32_t kAllowRebuild>
HRESULT Orientation6(const std::string& out, const std::string& in) {
  return SetOrientation(out.c_str(), in.c_str(), 6, kAllowRebuild);
}

const WritePath kPaths[] = {
    {"orientation in place", true, Orientation6<0>, kTooLarge, true},
    {"orientation copied and patched", false, Orientation6<0>},
    {"orientation rebuilt over its input", true, Orientation6<1>},
    {"orientation rebuilt into another file", false, Orientation6<1>},
    {"capture date", true,
     [](const std::string&, const std::string& in) {
       return SetDateTimeOriginal(in.c_str(), SYSTEMTIME{2024, 2, 0, 29, 1, 2, 3, 0});
     },
     kTooLarge, true},
    {"GPS to another file", false, CreateGps},
    {"GPS over its input", true, CreateGps},
    {"picture encoded", false, EncodeBmp, ResultFromImagingError(imaging::kErrorFileWrite)},
    {"records merged into another file", false, MergeRecords},
    {"records merged over its input", true, MergeRecords},
    {"picture encoded with records", false, EncodeWithRecords},
    {"thumbnail to another file", false, ReplaceThumbnail},
    {"thumbnail over its input", true, ReplaceThumbnail},
    // These encode into memory: with no temporary picture file to fail
    // first, the size limit is met by the write of the new file.
    {"main picture to another file", false, ReplaceMain},
    {"main picture over its input", true, ReplaceMain},
    {"encoded with a new block", false, EncodeNewBlock},
};

}  // namespace

std::span<const WritePath> WritePaths() { return kPaths; }

std::vector<uint8_t> Source(const WritePath& path) {
  const bool rebuild = std::string_view(path.name).find("rebuilt") != std::string_view::npos;
  return SpliceExif(RealJpeg(160, 120), CameraBlock(kBig, 1, rebuild ? 0 : 1).Bytes());
}

void MaskTodaysStamps(std::span<uint8_t> bytes) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char today[16];
  const size_t length = std::strftime(today, sizeof today, "%Y:%m:%d ", &local);
  constexpr size_t kStamp = 19;
  for (auto at = bytes.begin();
       (at = std::search(at, bytes.end(), today, today + length)) != bytes.end();) {
    if (bytes.end() - at < static_cast<std::ptrdiff_t>(kStamp) || at[13] != ':' || at[16] != ':') {
      ++at;
      continue;
    }
    std::fill(at, at + kStamp, '0');
    at += kStamp;
  }
}

}  // namespace veltora::testing
