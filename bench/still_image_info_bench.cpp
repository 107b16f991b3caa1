// GetStillImageInfo asked for the EXIF records (TiffInfo, ExifInfo, GpsInfo,
// IFD1's TiffInfo) against GetExif, the bulk query, and against exiv2 reading
// every tag of the same file, in the same run, over the EXIF JPEGs of the
// corpus. Ratios are paired per file (peer_timing.h) against
// GetStillImageInfo: GetExif's ratio is how much faster the bulk query is,
// exiv2's how much slower a full read by the usual library is.
//
// Usage: still_image_info_bench [corpus-dir] [rounds]
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/peer_timing.h"
#include "frame/veltora.h"

#if defined(VELTORA_HAVE_EXIV2)
#include <exiv2/exiv2.hpp>

#include "bench/exiv2_read_all.h"
#endif

namespace veltora::bench {
namespace {

struct Plugin {
  decltype(&::GetExif) get_exif = nullptr;
  decltype(&::GetStillImageInfo) get_still_image_info = nullptr;
};

Plugin LoadPlugin(const std::string& path) {
  Plugin plugin;
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), ::dlerror());
    return plugin;
  }
  plugin.get_exif = reinterpret_cast<decltype(&::GetExif)>(::dlsym(handle, "GetExif"));
  plugin.get_still_image_info =
      reinterpret_cast<decltype(&::GetStillImageInfo)>(::dlsym(handle, "GetStillImageInfo"));
  return plugin;
}

bool GetExifAll(const Plugin& plugin, const std::string& path) {
  GetExifRecords records;
  return plugin.get_exif(path.c_str(), &records.exif, &records.gps, &records.maker) == S_OK;
}

// The records are the caller's: released as a host releases them.
bool ExifRecords(const Plugin& plugin, const std::string& path) {
  StillImageInfoOut out{};
  const HRESULT result = plugin.get_still_image_info(path.c_str(), &out, INFO_EXIF_RECORDS);
  if (out.single.type != 0) {
    ImageInfoRecordDelete(out.single.type, out.single.record);
  } else {
    ImageInfoListDeleteRecords(&out.list);
    ImageInfoListFree(&out.list);
  }
  return result == S_OK;
}

}  // namespace
}  // namespace veltora::bench

int main(int argc, char** argv) {
  using namespace veltora::bench;
  const std::string corpus = argc > 1 && argv[1][0] != 0 ? argv[1] : VELTORA_CORPUS_DIR;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 15;
  const Plugin plugin = LoadPlugin(VELTORA_PLUGIN_PATH);
  if (plugin.get_exif == nullptr || plugin.get_still_image_info == nullptr) return 1;
  // The files both exports describe: EXIF JPEGs.
  std::vector<std::string> files;
  for (const std::string& file : CorpusPictures(corpus)) {
    if (file.ends_with(".jpg") && GetExifAll(plugin, file) && ExifRecords(plugin, file)) files.push_back(file);
  }
  if (files.empty()) {
    std::printf("no EXIF JPEG in %s: nothing to measure\n", corpus.c_str());
    return 0;
  }
#if defined(VELTORA_HAVE_EXIV2)
  Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
#endif
  std::vector<Contender> contenders = {
      {"GetStillImageInfo, EXIF records (ref)", [&](const std::string& path) { return ExifRecords(plugin, path); }},
      {"GetExif", [&](const std::string& path) { return GetExifAll(plugin, path); }},
#if defined(VELTORA_HAVE_EXIV2)
      {"exiv2 readMetadata + every tag's value", Exiv2ReadAll},
#endif
  };
  PrintTable("EXIF records of " + std::to_string(files.size()) + " corpus JPEGs, per file",
             CompareOnFiles(contenders, files, rounds));
  return 0;
}
