// Fuzzes the query exports as a host calls them: the input is written to a
// file with a .jpg name and every query export runs on it. Beyond the
// sanitizers, each answer is checked against the exports' contracts (allowed
// result codes, delivered sizes within the capacity and made of whole items,
// outputs cleared on failure, flags 0 or 1, delivered dates on the calendar);
// a broken contract aborts.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "exif/maker_note_reader.h"
#include "exif/tiff_value.h"
#include "platform/local_time.h"
#include "plugin/veltora.h"

namespace {

using veltora::exif::IfdEntry;

// Each lookup reads the file again; querying thousands of entries of a
// crafted directory would measure the harness, not the exports.
constexpr size_t kTagsQueried = 16;

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

// A delivered value's contract; `guard` bytes past the capacity are 0xA5.
void CheckDelivered(HRESULT r, uint32_t capacity, uint32_t size, uint16_t type, uint32_t count,
                    const std::vector<uint8_t>& buffer) {
  CHECK(IsValueResult(r));
  CHECK(size <= capacity);
  CHECK(buffer[capacity] == 0xA5);
  if (r == S_OK) {
    CHECK(count > 0);
    CHECK(size == uint32_t{veltora::exif::TypeSize(type)} * count);
  } else {
    CHECK(size == 0 && type == 0 && count == 0);
  }
}

void QueryValues(const char* path, std::span<const uint8_t> bytes) {
  // The tags the file holds, found by the engine over the same bytes.
  veltora::exif::MakerNoteReader reader(bytes, 1, 0);
  for (uint32_t directory : {1u, 2u, 3u, 4u, 257u}) {
    std::vector<IfdEntry> entries;
    reader.CollectEntries(directory, &entries);
    IfdEntry absent;
    absent.tag = 0xFFFF;
    entries.push_back(absent);
    if (entries.size() > kTagsQueried) entries.resize(kTagsQueried);
    for (const IfdEntry& entry : entries) {
      for (uint32_t capacity : {1u, 3u, 8u, 24u, 256u}) {
        std::vector<uint8_t> buffer(capacity + 1, 0xA5);
        uint32_t size = capacity;
        uint16_t type = 0;
        uint32_t count = 0;
        const HRESULT r =
            GetExifValue(path, directory, entry.tag, buffer.data(), &size, &type, &count);
        CheckDelivered(r, capacity, size, type, count, buffer);
      }
    }
  }
  std::vector<IfdEntry> maker;
  reader.CollectMakerEntries(&maker);
  if (maker.size() > kTagsQueried) maker.resize(kTagsQueried);
  const std::string signature = reader.GetMakerSignature();
  for (const IfdEntry& entry : maker) {
    for (const char* wanted : {static_cast<const char*>(nullptr), signature.c_str(), "Quorvanta"}) {
      std::vector<uint8_t> buffer(33, 0xA5);
      uint32_t size = 32;
      uint16_t type = 0;
      uint32_t count = 0;
      const HRESULT r =
          GetExifMakerValue(path, wanted, entry.tag, buffer.data(), &size, &type, &count);
      CheckDelivered(r, 32, size, type, count, buffer);
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

void QueryBulk(const char* path) {
  ExifTagSet exif{};
  GpsTagSet gps{};
  MakerTagSet maker{};
  const HRESULT r = GetExif(path, &exif, &gps, &maker);
  CHECK(IsValueResult(r));
  CHECK((r == S_OK) == (exif.tags.count + gps.tags.count + maker.tags.count > 0));
  // With the default selections nothing outside them can be delivered.
  CHECK(exif.tags.count <= 16 && gps.tags.count <= 12 && maker.tags.count <= 21);
  for (uint16_t tag : ArrayView(&gps.tags)) CHECK(tag <= 29);
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
  QueryValues(file.path(), std::span<const uint8_t>(data, size));
  QueryMakerNote(file.path());
  QueryPresence(file.path());
  QueryBulk(file.path());
  return 0;
}
