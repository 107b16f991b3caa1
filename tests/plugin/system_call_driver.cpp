// Calls each export of a plug-in once on a copy of a typical EXIF JPEG,
// fencing every call with marker system calls (close of a negative
// descriptor) so that a tracer can count the calls that each export makes and
// nothing else. The plug-in is loaded as a host loads it, so that any build
// of it can be counted.
//
// Usage: system_call_driver PLUGIN PICTURE SCRATCH-DIR
// Prints each export's name and result in the order they were called.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "frame/veltora.h"
#include "tests/support/gps_set.h"

namespace {

namespace fs = std::filesystem;

int next_mark = 1000;
void* plugin = nullptr;

// The export `name` of the loaded plug-in, typed as the chief header declares it.
// The type is taken unevaluated, so that no build links the export itself.
template <typename Function>
Function Export(const char* name) {
  return reinterpret_cast<Function>(::dlsym(plugin, name));
}
#define EXPORT(name) Export<decltype(&::name)>(#name)

// The first round warms up what a process does once (loading the time
// zone, the codec's tables); the second is counted.
bool counting = false;

// Runs `call`, when counting between two markers close(-N) and close(-N-1),
// and names it.
template <typename Call>
void Fenced(const char* name, Call call) {
  if (!counting) {
    call();
    return;
  }
  ::close(-next_mark);
  const HRESULT hr = call();
  ::close(-(next_mark + 1));
  next_mark += 2;
  std::printf("%s %08X\n", name, static_cast<unsigned>(hr));
}

// Every counted export once, on `work`, writing new files to `out`.
void RunExports(const std::string& work, const std::string& out, HGLOBAL dib) {
  uint32_t primary = 0, thumbnail = 0;
  Fenced("GetOrientation", [&] { return EXPORT(GetOrientation)(work.c_str(), &primary, &thumbnail, 0); });
  SYSTEMTIME when{};
  Fenced("GetDateTimeOriginal", [&] { return EXPORT(GetDateTimeOriginal)(work.c_str(), &when); });
  Fenced("SetOrientation", [&] { return EXPORT(SetOrientation)(work.c_str(), work.c_str(), counting ? 8 : 6, 0); });
  const SYSTEMTIME date{2024, 2, 0, 29, 10, 20, static_cast<uint16_t>(counting ? 30 : 40), 0};
  Fenced("SetDateTimeOriginal", [&] { return EXPORT(SetDateTimeOriginal)(work.c_str(), date); });

  veltora::testing::GpsSet gps;
  gps.Tags({1, 2, 3, 4}).Position('N', 48, 'E', 2);
  Fenced("ReplaceExifGps", [&] { return EXPORT(ReplaceExifGps)(out.c_str(), work.c_str(), 90, &gps.set); });
  fs::remove(out);

  TiffInfo main_info{};
  main_info.mask1 = TIFF_M1_ORIENTATION;
  main_info.Orientation = 6;
  ExifInfo exif{};
  exif.mask_l = EXIF_L_COLOR_SPACE;
  exif.ColorSpace = 1;
  ImageInfoList records{};
  ImageInfoListAppend(&records, INFO_TIFF_MAIN, &main_info);
  ImageInfoListAppend(&records, INFO_EXIF, &exif);
  Fenced("AppendExif", [&] { return EXPORT(AppendExif)(out.c_str(), work.c_str(), &records, 0); });
  fs::remove(out);

  TiffInfo thumb_info{};
  thumb_info.mask1 =
      TIFF_M1_COMPRESSION | TIFF_M1_JPEG_INTERCHANGE_FORMAT | TIFF_M1_JPEG_INTERCHANGE_FORMAT_LENGTH;
  thumb_info.Compression = 6;
  ImageInfoListAppend(&records, INFO_TIFF_THUMB, &thumb_info);
  Fenced("Encode", [&] {
    return EXPORT(Encode)(dib, out.c_str(), ENCODE_EXIF | ENCODE_EXIF_RECORDS, 90, &records);
  });
  fs::remove(out);
  ImageInfoListFree(&records);

  Fenced("ReplaceExifImage", [&] { return EXPORT(ReplaceExifImage)(out.c_str(), work.c_str(), dib, 90); });
  fs::remove(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s PLUGIN PICTURE SCRATCH-DIR\n", argv[0]);
    return 2;
  }
  plugin = ::dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (plugin == nullptr) {
    std::fprintf(stderr, "%s\n", ::dlerror());
    return 2;
  }
  const fs::path scratch = argv[3];
  const std::string work = (scratch / "work.jpg").string();
  const std::string out = (scratch / "out.jpg").string();
  fs::copy_file(argv[2], work, fs::copy_options::overwrite_existing);
  // A user's typical file is writable; the shared files may not be.
  fs::permissions(work, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                            fs::perms::others_read);
  HGLOBAL dib = EXPORT(Decode)(work.c_str(), 0);
  if (dib == nullptr) return 1;

  RunExports(work, out, dib);
  counting = true;
  RunExports(work, out, dib);
  GlobalFree(dib);
  fs::remove(work);
  return 0;
}
