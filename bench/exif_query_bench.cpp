// EXIF queries side by side with the libraries a user would otherwise call:
// (a) orientation + capture date of one file, (b) the bulk read a browser
// makes (GetExif filling real ExifTagSet, GpsTagSet and MakerTagSet records),
// each per file over the corpus and over many copies of it, against the floor
// of opening a file, reading 4 KiB and closing it (and of doing that twice
// with the 16 KiB the queries read); (c) the peak memory one
// GetExif call adds on the largest corpus file.
//
// Usage: exif_query_bench [corpus-dir] [rounds] [copies]
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/peer_timing.h"
#include "frame/veltora.h"

#if defined(VELTORA_HAVE_EXIV2)
#include <exiv2/exiv2.hpp>

#include "bench/exiv2_read_all.h"
#endif
#if defined(VELTORA_HAVE_LIBEXIF)
#include <libexif/exif-data.h>
#endif

namespace veltora::bench {
namespace {

struct Plugin {
  void* handle = nullptr;
  decltype(&::GetOrientation) get_orientation = nullptr;
  decltype(&::GetDateTimeOriginal) get_date_time_original = nullptr;
  decltype(&::GetExif) get_exif = nullptr;
};

Plugin LoadPlugin(const std::string& path) {
  Plugin plugin;
  plugin.handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (plugin.handle == nullptr) {
    std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), ::dlerror());
    return plugin;
  }
  plugin.get_orientation =
      reinterpret_cast<decltype(&::GetOrientation)>(::dlsym(plugin.handle, "GetOrientation"));
  plugin.get_date_time_original = reinterpret_cast<decltype(&::GetDateTimeOriginal)>(
      ::dlsym(plugin.handle, "GetDateTimeOriginal"));
  plugin.get_exif = reinterpret_cast<decltype(&::GetExif)>(::dlsym(plugin.handle, "GetExif"));
  return plugin;
}

using BulkRecords = GetExifRecords;

bool GetExifAll(const Plugin& plugin, const std::string& path) {
  BulkRecords records;
  const HRESULT result =
      plugin.get_exif(path.c_str(), &records.exif, &records.gps, &records.maker);
  volatile int32_t sink = records.exif.tags.count + records.gps.tags.count;
  (void)sink;
  return result == S_OK || result == E_NOTEXIF;
}

// KiB the process's peak resident set grows by during `work`, measured from
// the resident size just before it (the baseline: code and data already
// mapped by earlier rounds).
long PeakGrowthKiB(const std::function<void()>& work) {
  ResetPeakResident();
  const long baseline = PeakResidentKiB();
  work();
  return PeakResidentKiB() - baseline;
}

std::string LargestFile(const std::vector<std::string>& files) {
  std::string largest;
  uintmax_t size = 0;
  for (const std::string& file : files) {
    std::error_code ec;
    const uintmax_t s = std::filesystem::file_size(file, ec);
    if (!ec && s >= size) {
      size = s;
      largest = file;
    }
  }
  return largest;
}

bool OpenReadClose(const std::string& path, size_t size) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[16384];
  ssize_t n = ::pread(fd, buffer, std::min(size, sizeof buffer), 0);
  ::close(fd);
  return n > 0;
}

bool ReadFloor(const std::string& path) { return OpenReadClose(path, 4096); }

// What two queries cannot do without, however little they parse: each is a
// call of its own that names the file, so each opens it, and each must read
// the segment headers up to the compressed data (an APP0 anywhere before it,
// or a later APP1, changes the answer), which the first 16 KiB hold in most
// files.
bool TwoQueriesFloor(const std::string& path) {
  return OpenReadClose(path, 16384) && OpenReadClose(path, 16384);
}

#if defined(VELTORA_HAVE_EXIV2)
bool Exiv2Query(const std::string& path) {
  try {
    auto image = Exiv2::ImageFactory::open(path);
    image->readMetadata();
    Exiv2::ExifData& exif = image->exifData();
    auto orientation = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    auto date = exif.findKey(Exiv2::ExifKey("Exif.Photo.DateTimeOriginal"));
    volatile long o = orientation != exif.end() ? orientation->toLong() : 0;
    volatile size_t d = date != exif.end() ? date->toString().size() : 0;
    (void)o;
    (void)d;
    return true;
  } catch (...) {
    return false;
  }
}

#endif

#if defined(VELTORA_HAVE_LIBEXIF)
bool LibexifQuery(const std::string& path) {
  ExifData* data = exif_data_new_from_file(path.c_str());
  if (data == nullptr) return false;
  ExifEntry* orientation = exif_data_get_entry(data, EXIF_TAG_ORIENTATION);
  ExifEntry* date = exif_data_get_entry(data, EXIF_TAG_DATE_TIME_ORIGINAL);
  char text[64];
  if (orientation != nullptr) exif_entry_get_value(orientation, text, sizeof text);
  if (date != nullptr) exif_entry_get_value(date, text, sizeof text);
  exif_data_unref(data);
  return true;
}

void ValueOfEntry(ExifEntry* entry, void* sink) {
  char text[256];
  exif_entry_get_value(entry, text, sizeof text);
  *static_cast<size_t*>(sink) += text[0] != 0;
}

void ValuesOfContent(ExifContent* content, void* sink) {
  exif_content_foreach_entry(content, ValueOfEntry, sink);
}

bool LibexifReadAll(const std::string& path) {
  ExifData* data = exif_data_new_from_file(path.c_str());
  if (data == nullptr) return false;
  size_t values = 0;
  exif_data_foreach_content(data, ValuesOfContent, &values);
  exif_data_unref(data);
  return true;
}
#endif

}  // namespace
}  // namespace veltora::bench

int main(int argc, char** argv) {
  using namespace veltora::bench;
  std::string corpus = argc > 1 && argv[1][0] != 0 ? argv[1] : VELTORA_CORPUS_DIR;
#if defined(VELTORA_HAVE_EXIV2)
  Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
#endif
  int rounds = argc > 2 ? std::atoi(argv[2]) : 15;
  int copies = argc > 3 ? std::atoi(argv[3]) : 20;
  auto files = CorpusPictures(corpus);
  if (files.empty()) {
    std::printf("no corpus at %s: nothing to measure\n", corpus.c_str());
    return 0;
  }
  Plugin plugin = LoadPlugin(VELTORA_PLUGIN_PATH);

  if (plugin.get_exif != nullptr) {
    const std::string largest = LargestFile(files);
    // One call on another file first maps the code and the allocator's first
    // arena, which every later call finds in place; measured before the
    // timing rounds, whose peers would leave a large heap behind.
    GetExifAll(plugin, files.front() == largest ? files.back() : files.front());
    const long growth = PeakGrowthKiB([&] { GetExifAll(plugin, largest); });
    std::printf("(c) peak memory of one GetExif on the largest file (%s, %ju bytes): "
                "%ld KiB above the baseline (VmHWM)\n",
                std::filesystem::path(largest).filename().c_str(),
                std::filesystem::file_size(largest), growth);
  }

  std::vector<Contender> single;
  if (plugin.get_orientation != nullptr && plugin.get_date_time_original != nullptr) {
    single.push_back({"veltora GetOrientation+GetDateTime", [&](const std::string& path) {
                        uint32_t primary = 0, thumbnail = 0;
                        SYSTEMTIME when{};
                        plugin.get_orientation(path.c_str(), &primary, &thumbnail, 1);
                        plugin.get_date_time_original(path.c_str(), &when);
                        return true;
                      }});
  } else {
    std::printf("Veltora.pcp does not export the orientation/date queries yet\n");
  }
  const auto before_orientation =
      reinterpret_cast<decltype(&::GetOrientation)>(BeforePluginExport("GetOrientation"));
  const auto before_date =
      reinterpret_cast<decltype(&::GetDateTimeOriginal)>(BeforePluginExport("GetDateTimeOriginal"));
  if (before_orientation != nullptr && before_date != nullptr) {
    single.push_back({"before: GetOrientation+GetDateTime", [&](const std::string& path) {
                        uint32_t primary = 0, thumbnail = 0;
                        SYSTEMTIME when{};
                        before_orientation(path.c_str(), &primary, &thumbnail, 1);
                        before_date(path.c_str(), &when);
                        return true;
                      }});
  }
  single.push_back({"floor: open + 4 KiB read + close", ReadFloor});
  single.push_back({"two opens + 16 KiB read + close", TwoQueriesFloor});
#if defined(VELTORA_HAVE_EXIV2)
  single.push_back({"exiv2 open+readMetadata+2 keys", Exiv2Query});
#endif
#if defined(VELTORA_HAVE_LIBEXIF)
  single.push_back({"libexif new_from_file+2 entries", LibexifQuery});
#endif

  // The pair alone, each call made after 256 KiB of other data has passed
  // through the caches, as a host's own work between two files does: the
  // plug-in's code and data meet cold caches without the peers' allocations.
  std::vector<Contender> alone;
  std::vector<uint8_t> other_data(256 * 1024);
  const auto touch_other_data = [&other_data] {
    for (size_t i = 0; i < other_data.size(); i += 64) ++other_data[i];
  };
  for (size_t i = 0; i < single.size() && alone.size() < 3; ++i) {
    if (single[i].name.rfind("before", 0) == 0) continue;
    alone.push_back({single[i].name, single[i].run, touch_other_data});
  }

  std::vector<Contender> bulk;
  if (plugin.get_exif != nullptr) {
    bulk.push_back({"veltora GetExif (3 records, default lists)",
                    [&](const std::string& path) { return GetExifAll(plugin, path); }});
  }
#if defined(VELTORA_HAVE_EXIV2)
  bulk.push_back({"exiv2 readMetadata + all values", Exiv2ReadAll});
#endif
#if defined(VELTORA_HAVE_LIBEXIF)
  bulk.push_back({"libexif read + all values", LibexifReadAll});
#endif

  std::string scratch = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                        "/veltora-bench-copies";
  auto many = CopiesOf(files, scratch, copies);
  std::printf("%zu corpus files, %zu copies, %d rounds; ratios are medians of per-file ratios\n",
              files.size(), many.size(), rounds);
  PrintTable("(a) single-tag query, corpus files", CompareOnFiles(single, files, rounds));
  // Fewer rounds over the copies: there are three times as many files.
  constexpr int kCopyRounds = 4;
  PrintTable("(a) single-tag query, many copies", CompareOnFiles(single, many, kCopyRounds));
  PrintTable("(a) the pair alone, 256 KiB of other data touched before each call",
             CompareOnFiles(alone, files, rounds));
  if (!bulk.empty()) {
    PrintTable("(b) bulk read, corpus files", CompareOnFiles(bulk, files, rounds));
    PrintTable("(b) bulk read, many copies", CompareOnFiles(bulk, many, kCopyRounds));
  }
  std::filesystem::remove_all(scratch);

  return 0;
}
