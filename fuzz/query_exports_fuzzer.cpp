// Fuzzes the query exports as a host calls them: the input is written to a
// file with a .jpg name and every query export runs on it. Beyond the
// sanitizers, each answer is checked against the exports' contracts (allowed
// result codes, delivered sizes within the capacity and made of whole items,
// a single-tag value taken from the tag's first entry, outputs cleared on
// failure, flags 0 or 1, delivered dates on the calendar, bulk tag lists that
// follow the directories, E_NOTEXIF exactly where IsExifFile says no); a
// broken contract aborts.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "exif/maker_note_reader.h"
#include "exif/tiff_value.h"
#include "frame/veltora.h"
#include "platform/local_time.h"

namespace {

using veltora::exif::IfdEntry;
using veltora::exif::MakerNoteReader;

// Each lookup reads the file again; querying thousands of entries of a
// crafted directory would measure the harness, not the exports.
constexpr size_t kTagsQueried = 16;

// The maker note's directory, by the editor's code for it.
constexpr uint32_t kMakerNote = 17;

// GetExif's default selections, written out here rather than taken from the
// export so that a wrong table there shows up as a broken list.
constexpr uint16_t kIfd0Defaults[] = {274, 271, 272};
constexpr uint16_t kExifDefaults[] = {36864, 36867, 33434, 33437, 34855, 37377, 37378,
                                      37380, 37385, 41986, 41987, 41990, 41996};
constexpr uint16_t kGpsDefaults[] = {0, 1, 2, 3, 4, 5, 6, 7, 18, 27, 28, 29};
constexpr uint16_t kMakerDefaults[] = {0x0001, 0x0002, 0x0003, 0x0007, 0x000F, 0x001A, 0x001C,
                                       0x001F, 0x0020, 0x0021, 0x0022, 0x0026, 0x0027, 0x0028,
                                       0x002A, 0x002B, 0x002D, 0x0032, 0x0033, 0x0E00, 0x4950};

#define CHECK(condition)                                                        \
  do {                                                                          \
    if (!(condition)) {                                                         \
      std::fprintf(stderr, "query_exports_fuzzer: %s:%d: broken: %s\n", __FILE__, \
                   __LINE__, #condition);                                        \
      std::abort();                                                             \
    }                                                                           \
  } while (0)

// One scratch file per process, removed at exit.
class ScratchFile {
 public:
  ScratchFile() {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") +
                          "/query_exports_fuzzer_XXXXXX.jpg";
    const int fd = ::mkstemps(pattern.data(), 4);
    CHECK(fd >= 0);
    ::close(fd);
    path_ = pattern;
  }
  ~ScratchFile() { ::unlink(path_.c_str()); }
  void Write(const uint8_t* data, size_t size) {
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    CHECK(file != nullptr);
    CHECK(size == 0 || std::fwrite(data, 1, size, file) == size);
    CHECK(std::fclose(file) == 0);
  }
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
};

bool IsValueResult(HRESULT r) { return r == S_OK || r == E_FAIL || r == E_NOTEXIF; }

// The type of the first entry with `tag`: single-tag lookups stop at the
// first match, so a repeated tag is read from there.
std::optional<uint16_t> FirstType(const std::vector<IfdEntry>& entries, uint16_t tag) {
  for (const IfdEntry& entry : entries) {
    if (entry.tag == tag) return entry.type;
  }
  return std::nullopt;
}

// A delivered value's contract; `guard` bytes past the capacity are 0xA5.
void CheckDelivered(HRESULT r, uint32_t capacity, uint32_t size, uint16_t type, uint32_t count,
                    std::optional<uint16_t> first_type, const std::vector<uint8_t>& buffer) {
  CHECK(IsValueResult(r));
  CHECK(size <= capacity);
  CHECK(buffer[capacity] == 0xA5);
  if (r == S_OK) {
    CHECK(count > 0);
    CHECK(type == first_type);  // also false when the tag is absent
    CHECK(size == uint32_t{veltora::exif::TypeSize(type)} * count);
  } else {
    CHECK(size == 0 && type == 0 && count == 0);
  }
}

// The first kTagsQueried tags of `entries` and one that no entry has.
std::vector<uint16_t> TagsToQuery(const std::vector<IfdEntry>& entries) {
  std::vector<uint16_t> tags;
  for (size_t i = 0; i < entries.size() && i < kTagsQueried; ++i) tags.push_back(entries[i].tag);
  uint16_t absent = 0xFFFF;
  while (FirstType(entries, absent)) --absent;
  tags.push_back(absent);
  return tags;
}

void QueryValues(const char* path, MakerNoteReader& reader) {
  // The tags the file holds, found by the engine over the same bytes.
  for (uint32_t directory : {1u, 2u, 3u, 4u, 257u}) {
    std::vector<IfdEntry> entries;
    (void)reader.CollectEntries(directory, &entries);
    for (uint16_t tag : TagsToQuery(entries)) {
      for (uint32_t capacity : {1u, 3u, 8u, 24u, 256u}) {
        std::vector<uint8_t> buffer(capacity + 1, 0xA5);
        uint32_t size = capacity;
        uint16_t type = 0;
        uint32_t count = 0;
        const HRESULT r = GetExifValue(path, directory, tag, buffer.data(), &size, &type, &count);
        CheckDelivered(r, capacity, size, type, count, FirstType(entries, tag), buffer);
      }
    }
  }
  std::vector<IfdEntry> maker;
  (void)reader.CollectMakerEntries(&maker);
  const std::string signature = reader.GetMakerSignature();
  for (uint16_t tag : TagsToQuery(maker)) {
    for (const char* wanted : {static_cast<const char*>(nullptr), signature.c_str(), "Quorvanta"}) {
      std::vector<uint8_t> buffer(33, 0xA5);
      uint32_t size = 32;
      uint16_t type = 0;
      uint32_t count = 0;
      const HRESULT r = GetExifMakerValue(path, wanted, tag, buffer.data(), &size, &type, &count);
      CheckDelivered(r, 32, size, type, count, FirstType(maker, tag), buffer);
    }
  }
}

void QueryMakerNote(const char* path) {
  for (const char* given : {"", "Quorvanta"}) {
    CString signature{};
    CWordArray tags{};
    CDWordArray values{};
    CHECK(CStringSet(&signature, given));
    const HRESULT r = GetMakerNoteValue(path, &signature, &tags, &values);
    CHECK(r == S_OK || r == E_FAIL || r == E_NOTEXIF || r == E_ABORT);
    CHECK(tags.count == values.count);
    if (r == E_ABORT) CHECK(tags.count == 0);
    CStringFree(&signature);
    ArrayFree(&tags);
    ArrayFree(&values);
  }
}

void QueryPresence(const char* path) {
  uint32_t is_exif = 7, print = 7, v22 = 7, plain = 7;
  CHECK(IsExifEx(path, &is_exif, &print, &v22) == S_OK);
  CHECK(is_exif <= 1 && print <= 1 && v22 <= 1);
  CHECK(IsExifFile(path, &plain) == S_OK);
  CHECK(plain == is_exif);
  // The value exports answer E_NOTEXIF exactly for the files that are not
  // EXIF files, whether or not the tag asked for is there.
  for (uint16_t tag : {uint16_t{274}, uint16_t{0xFFFF}}) {
    uint8_t value[8];
    uint32_t size = sizeof value, count = 0;
    uint16_t type = 0;
    const HRESULT r = GetExifValue(path, 1, tag, value, &size, &type, &count);
    CHECK((r == E_NOTEXIF) == (plain == 0));
  }

  for (int32_t allow_tiff : {0, 1}) {
    uint32_t primary = 7, thumbnail = 7;
    const HRESULT r = GetOrientation(path, &primary, &thumbnail, allow_tiff);
    CHECK(IsValueResult(r));
    CHECK(primary <= 0xFFFF && thumbnail <= 0xFFFF);
    if (r != S_OK) CHECK(primary == 0 && thumbnail == 0);
  }

  SYSTEMTIME when;
  std::memset(&when, 0xEE, sizeof when);
  const HRESULT r = GetDateTimeOriginal(path, &when);
  CHECK(IsValueResult(r) || r == S_FALSE);
  if (r == S_OK) {
    CHECK(veltora::platform::IsValidDateTime(when.wYear, when.wMonth, when.wDay, when.wHour,
                                             when.wMinute, when.wSecond));
    CHECK(when.wDayOfWeek == 0 && when.wMilliseconds == 0);
  } else {
    const SYSTEMTIME zero{};
    CHECK(std::memcmp(&when, &zero, sizeof when) == 0);
  }
}

// The tags a collecting lookup gives for `wanted`, in directory order.
std::vector<uint16_t> Collected(MakerNoteReader& reader, uint32_t directory,
                                std::span<const uint16_t> wanted) {
  std::vector<IfdEntry> entries(wanted.size());
  for (size_t i = 0; i < wanted.size(); ++i) entries[i].tag = wanted[i];
  const veltora::exif::Outcome found = directory == kMakerNote
                                           ? reader.CollectMakerEntries(&entries)
                                           : reader.CollectEntries(directory, &entries);
  std::vector<uint16_t> tags;
  if (!veltora::exif::Done(found)) return tags;
  for (const IfdEntry& entry : entries) tags.push_back(entry.tag);
  return tags;
}

// A bulk list holds collected tags that could be delivered: `delivered` is
// `collected` with entries left out, so each tag is wanted, the order is the
// directory's and a tag repeats only as often as the directory repeats it.
bool IsSubsequence(std::span<const uint16_t> delivered, std::span<const uint16_t> collected) {
  size_t next = 0;
  for (uint16_t tag : delivered) {
    while (next < collected.size() && collected[next] != tag) ++next;
    if (next == collected.size()) return false;
    ++next;
  }
  return true;
}

void QueryBulk(const char* path, MakerNoteReader& reader) {
  ExifTagSet exif{};
  GpsTagSet gps{};
  MakerTagSet maker{};
  const HRESULT r = GetExif(path, &exif, &gps, &maker);
  CHECK(IsValueResult(r));
  CHECK((r == S_OK) == (exif.tags.count + gps.tags.count + maker.tags.count > 0));

  // With the default selections: IFD0's tags, then the EXIF directory's.
  std::vector<uint16_t> exif_collected = Collected(reader, 1, kIfd0Defaults);
  const std::vector<uint16_t> exif_part = Collected(reader, 2, kExifDefaults);
  exif_collected.insert(exif_collected.end(), exif_part.begin(), exif_part.end());
  CHECK(IsSubsequence(ArrayView(&exif.tags), exif_collected));
  CHECK(IsSubsequence(ArrayView(&gps.tags), Collected(reader, 3, kGpsDefaults)));
  const bool quorvanta = reader.GetMakerSignature() == "Quorvanta";
  const std::vector<uint16_t> maker_collected =
      quorvanta ? Collected(reader, kMakerNote, kMakerDefaults) : std::vector<uint16_t>{};
  CHECK(IsSubsequence(ArrayView(&maker.tags), maker_collected));
  if (maker.tags.count > 0) CHECK(std::strcmp(CStringGet(&maker.signature), "Quorvanta") == 0);

  CHECK(GetExif(path, nullptr, &gps, nullptr) == r || gps.tags.count == 0);
  ExifTagSetRelease(&exif);
  GpsTagSetRelease(&gps);
  MakerTagSetRelease(&maker);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ScratchFile file;
  file.Write(data, size);
  // The export reads the file with its data loaded; so does this reader.
  MakerNoteReader reader(std::span<const uint8_t>(data, size), 1, 0);
  QueryValues(file.path(), reader);
  QueryMakerNote(file.path());
  QueryPresence(file.path());
  QueryBulk(file.path(), reader);
  return 0;
}
