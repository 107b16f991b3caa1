#include "plugin/still_image_info.h"

#include <strings.h>

#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "bytes/byte_view.h"
#include "frame/export_guard.h"
#include "imaging/picture_files.h"
#include "imaging/picture_io.h"
#include "info/exif_records.h"
#include "info/record_list.h"

namespace veltora {
namespace {

// The file-information query takes a path of at most this many characters.
constexpr size_t kQueryPathLength = 260;
// A BMP file this small holds its two headers and no pixels.
constexpr int64_t kMinBmpFileSize = 54;
constexpr size_t kFormatNameSize = sizeof ImageSummary::format_name;

struct FormatName {
  const char* extension;
  const char* name;
};
constexpr std::array<FormatName, 8> kFormatNames = {{{"bmp", "BMP"},
                                                    {"jpg", "JPG"},
                                                    {"jpeg", "JPG"},
                                                    {"jpe", "JPG"},
                                                    {"tif", "TIFF"},
                                                    {"tiff", "TIFF"},
                                                    {"png", "PNG"},
                                                    {"gif", "GIF"}}};

// The view perspectives that show the picture turned by a quarter.
bool TurnsByAQuarter(int32_t view_perspective) {
  return view_perspective == 4 || view_perspective == 5 || view_perspective == 7 ||
         view_perspective == 8;
}

bool EndsWithBmp(const char* path) {
  const size_t length = std::strlen(path);
  return length >= 4 && strcasecmp(path + length - 4, ".bmp") == 0;
}

OwnedSummary NewSummary() {
  OwnedSummary summary(static_cast<ImageSummary*>(ImageInfoRecordNew(INFO_IMAGE)));
  if (summary == nullptr) throw std::bad_alloc();
  return summary;
}

// The summary of a decoded DIB: width, height and depth of its header.
OwnedSummary SummaryFromDecode(const char* path, int32_t mode) {
  const std::vector<uint8_t> dib = imaging::LoadDibCopy(path, mode);
  const bytes::ByteView header(dib, bytes::kLittleEndian);
  const std::optional<uint32_t> width = header.U32(offsetof(BITMAPINFOHEADER, biWidth));
  const std::optional<uint32_t> height = header.U32(offsetof(BITMAPINFOHEADER, biHeight));
  const std::optional<uint16_t> bits = header.U16(offsetof(BITMAPINFOHEADER, biBitCount));
  if (!width || !height || !bits) return nullptr;
  OwnedSummary summary = NewSummary();
  summary->width = *width;
  summary->height = *height;
  summary->bits_per_pixel = *bits;
  if (SetFormatName(path, summary->format_name) != S_OK) return nullptr;
  return summary;
}

// The work list of one call: it owns its records until they are handed
// over, and frees them (with its nodes) on every other way out.
class WorkingList {
 public:
  WorkingList() = default;
  ~WorkingList() {
    if (!handed_over_) ImageInfoListDeleteRecords(&list_);
    ImageInfoListFree(&list_);
  }
  WorkingList(const WorkingList&) = delete;
  WorkingList& operator=(const WorkingList&) = delete;

  ImageInfoList* list() { return &list_; }
  void Add(uint32_t type, OwnedSummary summary) {
    if (!ImageInfoListAppend(&list_, type, summary.get())) throw std::bad_alloc();
    (void)summary.release();
  }
  info::RecordBatch Entries() const {
    info::RecordBatch entries;
    ImageInfoListVisit(&list_, [&](uint32_t type, void* record) { entries.push_back({type, record}); });
    return entries;
  }
  void HandOver() { handed_over_ = true; }

 private:
  ImageInfoList list_{};
  bool handed_over_ = false;
};

// Step 6: one entry goes into the first two words of `out`, more into the
// list `out` points to.
HRESULT Deliver(WorkingList& working, void* out) {
  const info::RecordBatch entries = working.Entries();
  auto* result = static_cast<StillImageInfoOut*>(out);
  if (entries.size() == 1) {
    result->single = StillImageInfoSingle{entries[0].type, entries[0].record};
  } else if (entries.size() > 1) {
    ImageInfoListRemoveAll(&result->list);
    if (!info::AppendRecords(&result->list, entries)) return E_OUTOFMEMORY;
  }
  working.HandOver();
  return S_OK;
}

}  // namespace

HRESULT SetFormatName(const char* path, char* field) {
  if (path == nullptr || path[0] == '\0' || field == nullptr) return E_INVALIDARG;
  std::memset(field, 0, kFormatNameSize);
  const char* slash = std::strrchr(path, '/');
  const char* dot = std::strrchr(slash != nullptr ? slash : path, '.');
  if (dot == nullptr) return E_INVALIDARG;
  for (const FormatName& format : kFormatNames) {
    if (strcasecmp(dot + 1, format.extension) == 0) {
      std::strcpy(field, format.name);
      return S_OK;
    }
  }
  return E_INVALIDARG;
}

OwnedSummary MakeImageSummary(const char* path, int32_t mode) {
  if (path == nullptr || path[0] == '\0') return nullptr;
  if (mode != kSummaryPicture) return SummaryFromDecode(path, mode);
  imaging::FileInformation file;
  const std::string query_path(path, strnlen(path, kQueryPathLength));
  if (imaging::QueryFile(query_path.c_str(), &file) != 1) {
    return SummaryFromDecode(path, imaging::kLoadPicture);
  }
  if (EndsWithBmp(path) && file.file_size <= kMinBmpFileSize) return nullptr;
  OwnedSummary summary = NewSummary();
  summary->width = static_cast<uint32_t>(file.width);
  summary->height = static_cast<uint32_t>(file.height);
  summary->bits_per_pixel = static_cast<uint16_t>(file.bits_per_pixel);
  (void)SetFormatName(path, summary->format_name);  // a picture may be described without a name
  if (TurnsByAQuarter(file.view_perspective)) std::swap(summary->width, summary->height);
  return summary;
}

}  // namespace veltora

VELTORA_API HRESULT GetStillImageInfo(const char* path, void* out, uint32_t flags) {
  return veltora::GuardExport([&]() -> HRESULT {
    if (path == nullptr || path[0] == '\0' || out == nullptr || (flags & INFO_REQUEST_MASK) == 0) {
      return E_INVALIDARG;
    }
    veltora::WorkingList working;
    for (const uint32_t type : {INFO_IMAGE, INFO_THUMBNAIL}) {
      if ((flags & type) == 0) continue;
      veltora::OwnedSummary summary = veltora::MakeImageSummary(
          path, type == INFO_IMAGE ? veltora::kSummaryPicture : veltora::kSummaryPreview);
      if (summary == nullptr) return E_FAIL;
      working.Add(type, std::move(summary));
    }
    if ((flags & INFO_EXIF_RECORDS) != 0) {
      const HRESULT collected = veltora::info::CollectExifRecords(path, working.list(), flags);
      if (collected < 0) return collected;
    }
    return Deliver(working, out);
  });
}
