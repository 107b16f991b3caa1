// GetExif: the attributes a photo browser shows, read in one pass into up to
// three host records (ExifTagSet, GpsTagSet, MakerTagSet). Each record's tag
// list says on entry what is wanted (empty: the defaults below) and on return
// what was delivered, in directory order.
#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "exif/date_text.h"
#include "exif/directory.h"
#include "exif/maker_note_reader.h"
#include "frame/export_guard.h"
#include "frame/veltora.h"
#include "query/query_support.h"

namespace veltora::query {
namespace {

using exif::IfdEntry;
using exif::MakerNoteReader;

constexpr std::array<uint16_t, 3> kIfd0Defaults = {274, 271, 272};
constexpr std::array<uint16_t, 13> kExifDefaults = {36864, 36867, 33434, 33437, 34855,
                                                    37377, 37378, 37380, 37385, 41986,
                                                    41987, 41990, 41996};
constexpr std::array<uint16_t, 12> kGpsDefaults = {0, 1, 2, 3, 4, 5, 6, 7, 18, 27, 28, 29};
constexpr std::array<uint16_t, 21> kMakerDefaults = {
    0x0001, 0x0002, 0x0003, 0x0007, 0x000F, 0x001A, 0x001C, 0x001F, 0x0020, 0x0021, 0x0022,
    0x0026, 0x0027, 0x0028, 0x002A, 0x002B, 0x002D, 0x0032, 0x0033, 0x0E00, 0x4950};

// The maker whose note MakerTagSet describes, compared whole.
constexpr char kQuorvantaSignature[] = "Quorvanta";

template <size_t N>
bool Contains(const std::array<uint16_t, N>& tags, uint16_t tag) {
  return std::find(tags.begin(), tags.end(), tag) != tags.end();
}

void AddWanted(std::vector<IfdEntry>* set, uint16_t tag) {
  IfdEntry entry;
  entry.tag = tag;
  set->push_back(entry);
}

template <typename Range>
std::vector<IfdEntry> WantedSet(const Range& tags) {
  std::vector<IfdEntry> set;
  for (uint16_t tag : tags) AddWanted(&set, tag);
  return set;
}

// The record's tag list as a wanted set, or `defaults` when it is empty.
template <size_t N>
std::vector<IfdEntry> WantedOrDefaults(const ShortArray* list,
                                       const std::array<uint16_t, N>& defaults) {
  const auto listed = ArrayView(list);
  return listed.empty() ? WantedSet(defaults) : WantedSet(listed);
}

class BulkReader {
 public:
  explicit BulkReader(MakerNoteReader& reader) : reader_(reader) {}

  // Standard-directory value into a field of `width` bytes; true when at
  // least one item was delivered.
  bool Fixed(const IfdEntry& entry, void* field, uint32_t width) {
    return reader_.GetEntryValue(&entry, field, width) > 0;
  }
  bool MakerFixed(const IfdEntry& entry, void* field, uint32_t width) {
    return reader_.GetMakerEntryValue(&entry, field, width) > 0;
  }
  std::optional<std::string> Text(const IfdEntry& entry) {
    return FetchText(entry, static_cast<uint32_t>(reader_.LoadedData().size()),
                     [&](const IfdEntry* e, void* out, uint32_t capacity) {
                       return reader_.GetEntryValue(e, out, capacity);
                     });
  }
  std::optional<std::string> MakerText(const IfdEntry& entry) {
    return FetchText(entry, static_cast<uint32_t>(reader_.LoadedData().size()),
                     [&](const IfdEntry* e, void* out, uint32_t capacity) {
                       return reader_.GetMakerEntryValue(e, out, capacity);
                     });
  }
  // Text into a host string; true when delivered.
  bool TextInto(const IfdEntry& entry, CString* field) {
    std::optional<std::string> text = Text(entry);
    if (!text) return false;
    RequireGrowth(CStringSetN(field, text->data(), text->size()));
    return true;
  }
  // `count` bytes into a host byte array resized to hold them; an undelivered
  // value leaves the array empty.
  bool BytesInto(const IfdEntry& entry, ByteArray* field) {
    const uint32_t available = std::max<uint32_t>(static_cast<uint32_t>(reader_.LoadedData().size()), 4);
    if (entry.count == 0 || entry.count > available) return false;
    RequireGrowth(ArraySetSize(field, static_cast<int32_t>(entry.count)));
    if (reader_.GetEntryValue(&entry, field->elements, entry.count) > 0) return true;
    ArrayRemoveAll(field);
    return false;
  }

 private:
  MakerNoteReader& reader_;
};

void Deliver(ShortArray* list, uint16_t tag) { RequireGrowth(ArrayAdd(list, tag) >= 0); }

// The wanted entries of directory `code`, found. A directory whose entry
// count cannot be read delivers none: CollectEntries then leaves the wanted
// set as it was, and its bare tags must not reach the record's fields.
void Collect(MakerNoteReader& reader, uint32_t code, std::vector<IfdEntry>* set) {
  if (reader.CollectEntries(code, set) == exif::Outcome::kRefused) set->clear();
}

void FillExifTagSet(MakerNoteReader& reader, ExifTagSet* exif) {
  std::vector<IfdEntry> ifd0_set, exif_set;
  const auto listed = ArrayView(&exif->tags);
  if (listed.empty()) {
    ifd0_set = WantedSet(kIfd0Defaults);
    exif_set = WantedSet(kExifDefaults);
  } else {
    // Tags this record has no field for are dropped here; if nothing is
    // left, the empty set collects the whole directory below.
    for (uint16_t tag : listed) {
      if (Contains(kIfd0Defaults, tag)) AddWanted(&ifd0_set, tag);
      if (Contains(kExifDefaults, tag)) AddWanted(&exif_set, tag);
    }
  }
  ArrayRemoveAll(&exif->tags);
  BulkReader values(reader);

  Collect(reader, exif::kIfd0, &ifd0_set);
  for (const IfdEntry& entry : ifd0_set) {
    bool delivered = false;
    switch (entry.tag) {
      case 274: delivered = values.Fixed(entry, &exif->Orientation, 2); break;
      case 271: delivered = values.TextInto(entry, &exif->Make); break;
      case 272: delivered = values.TextInto(entry, &exif->Model); break;
      default: break;
    }
    if (delivered) Deliver(&exif->tags, entry.tag);
  }

  Collect(reader, exif::kExifIfd, &exif_set);
  for (const IfdEntry& entry : exif_set) {
    bool delivered = false;
    switch (entry.tag) {
      case 36864: delivered = values.Fixed(entry, exif->ExifVersion, 4); break;
      case 33434: delivered = values.Fixed(entry, &exif->ExposureTime, 8); break;
      case 33437: delivered = values.Fixed(entry, &exif->FNumber, 8); break;
      case 37377: delivered = values.Fixed(entry, &exif->ShutterSpeedValue, 8); break;
      case 37378: delivered = values.Fixed(entry, &exif->ApertureValue, 8); break;
      case 37380: delivered = values.Fixed(entry, &exif->ExposureBiasValue, 8); break;
      case 34855: delivered = values.Fixed(entry, &exif->ISOSpeedRatings, 2); break;
      case 37385: delivered = values.Fixed(entry, &exif->Flash, 2); break;
      case 41986: delivered = values.Fixed(entry, &exif->ExposureMode, 2); break;
      case 41987: delivered = values.Fixed(entry, &exif->WhiteBalance, 2); break;
      case 41990: delivered = values.Fixed(entry, &exif->SceneCaptureType, 2); break;
      case 41996: delivered = values.Fixed(entry, &exif->SubjectDistanceRange, 2); break;
      case 36867: {
        const std::optional<std::string> text = values.Text(entry);
        delivered = text && exif::ParseDateText(*text, {}, &exif->DateTimeOriginal);
        // An unset camera clock ("0000:00:00 00:00:00") still counts as
        // delivered, as an empty date.
        if (delivered && !IsCalendarDateTime(exif->DateTimeOriginal)) {
          std::memset(&exif->DateTimeOriginal, 0, sizeof exif->DateTimeOriginal);
        }
        break;
      }
      default: break;
    }
    if (delivered) Deliver(&exif->tags, entry.tag);
  }
}

void FillGpsTagSet(MakerNoteReader& reader, GpsTagSet* gps) {
  std::vector<IfdEntry> set = WantedOrDefaults(&gps->tags, kGpsDefaults);
  ArrayRemoveAll(&gps->tags);
  ArrayRemoveAll(&gps->GPSProcessingMethod);
  ArrayRemoveAll(&gps->GPSAreaInformation);
  BulkReader values(reader);
  Collect(reader, exif::kGpsIfd, &set);
  for (const IfdEntry& entry : set) {
    bool delivered = false;
    switch (entry.tag) {
      case 0: delivered = values.Fixed(entry, gps->GPSVersionID, 4); break;
      case 1: delivered = values.Fixed(entry, gps->GPSLatitudeRef, 2); break;
      case 2: delivered = values.Fixed(entry, gps->GPSLatitude, 24); break;
      case 3: delivered = values.Fixed(entry, gps->GPSLongitudeRef, 2); break;
      case 4: delivered = values.Fixed(entry, gps->GPSLongitude, 24); break;
      case 5: delivered = values.Fixed(entry, &gps->GPSAltitudeRef, 1); break;
      case 6: delivered = values.Fixed(entry, &gps->GPSAltitude, 8); break;
      case 7: delivered = values.Fixed(entry, gps->GPSTimeStamp, 24); break;
      case 18: delivered = values.TextInto(entry, &gps->GPSMapDatum); break;
      case 29: delivered = values.TextInto(entry, &gps->GPSDateStamp); break;
      case 27: delivered = values.BytesInto(entry, &gps->GPSProcessingMethod); break;
      case 28: delivered = values.BytesInto(entry, &gps->GPSAreaInformation); break;
      default: break;
    }
    if (delivered) Deliver(&gps->tags, entry.tag);
  }
}

// The maker note's 2- and 4-byte fields by tag; null for tags without one.
void* MakerField(MakerTagSet* maker, uint16_t tag, uint32_t* width) {
  *width = 2;
  switch (tag) {
    case 0x0001: return &maker->value_0001;
    case 0x0003: return &maker->value_0003;
    case 0x0007: return &maker->value_0007;
    case 0x000F: return &maker->value_000F;
    case 0x001A: return &maker->value_001A;
    case 0x001C: return &maker->value_001C;
    case 0x001F: return &maker->value_001F;
    case 0x0020: return &maker->value_0020;
    case 0x0022: return &maker->value_0022;
    case 0x0027: return &maker->value_0027;
    case 0x0028: return &maker->value_0028;
    case 0x002A: return &maker->value_002A;
    case 0x002D: return &maker->value_002D;
    case 0x0032: return &maker->value_0032;
    default: break;
  }
  *width = 4;
  switch (tag) {
    case 0x0002: return maker->value_0002;
    case 0x0026: return maker->value_0026;
    case 0x002B: return maker->value_002B;
    default: return nullptr;
  }
}

void FillMakerTagSet(MakerNoteReader& reader, MakerTagSet* maker) {
  std::vector<IfdEntry> set = WantedOrDefaults(&maker->tags, kMakerDefaults);
  ArrayRemoveAll(&maker->tags);
  // The 0x4950 flag is left as the host had it unless the tag is found.
  maker->present_0021 = 0;
  maker->present_0E00 = 0;
  CStringEmpty(&maker->signature);
  const std::string signature = reader.GetMakerSignature();
  if (signature != kQuorvantaSignature) return;
  RequireGrowth(CStringSet(&maker->signature, signature.c_str()));

  BulkReader values(reader);
  (void)reader.CollectMakerEntries(&set);  // an unreadable directory leaves `set` empty
  for (const IfdEntry& entry : set) {
    bool delivered = false;
    uint32_t width = 0;
    if (void* field = MakerField(maker, entry.tag, &width)) {
      delivered = values.MakerFixed(entry, field, width);
    } else if (entry.tag == 0x0021 || entry.tag == 0x0E00 || entry.tag == 0x4950) {
      uint32_t* flag = entry.tag == 0x0021   ? &maker->present_0021
                       : entry.tag == 0x0E00 ? &maker->present_0E00
                                             : &maker->present_4950;
      *flag = entry.count != 0 ? 1 : 0;
      delivered = true;
    } else if (entry.tag == 0x0033) {
      const std::optional<std::string> text = values.MakerText(entry);
      delivered = text && exif::ParseDateText(*text, {}, &maker->date_0033);
    }
    if (delivered) Deliver(&maker->tags, entry.tag);
  }
}

}  // namespace
}  // namespace veltora::query

VELTORA_API HRESULT GetExif(const char* path, ExifTagSet* exif, GpsTagSet* gps,
                            MakerTagSet* maker) {
  return veltora::GuardExport([&]() -> HRESULT {
    if (path == nullptr || (exif == nullptr && gps == nullptr && maker == nullptr)) {
      return E_INVALIDARG;
    }
    veltora::exif::MakerNoteReader reader(path, 1, 0);
    if (!reader.IsExif()) return E_NOTEXIF;
    bool any = false;
    if (exif != nullptr) {
      veltora::query::FillExifTagSet(reader, exif);
      any = any || exif->tags.count > 0;
    }
    if (gps != nullptr) {
      veltora::query::FillGpsTagSet(reader, gps);
      any = any || gps->tags.count > 0;
    }
    if (maker != nullptr) {
      veltora::query::FillMakerTagSet(reader, maker);
      any = any || maker->tags.count > 0;
    }
    return any ? S_OK : E_FAIL;
  });
}
