// EXIF edits of existing files, against exiv2 doing the same edit and
// against the floors of the file system: a 2-byte positioned write for the
// in-place edits, reading the whole file and writing it over the target for
// the rebuilds, writing the picture's bytes over the target for Encode.
// Every target already exists (the previous round's output), so each export
// pays for whatever keeps an existing file safe. Ratios are to the floor (the
// first contender of each table).
//
// Usage: exif_edit_bench [corpus-dir] [rounds] [copies]
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bench/peer_timing.h"
#include "exif/exif_reader.h"
#include "frame/veltora.h"
#include "tests/support/gps_set.h"

#if defined(VELTORA_HAVE_EXIV2)
#include <exiv2/exiv2.hpp>
#endif

namespace {

namespace fs = std::filesystem;
using veltora::bench::CompareOnFiles;
using veltora::bench::Contender;
using veltora::bench::PrintTable;

// Alternating values, so that every in-place call really changes the file.
uint16_t next_orientation = 6;

bool TwoByteWrite(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY);
  if (fd < 0) return false;
  const uint8_t bytes[2] = {0, 6};
  const bool ok = ::pwrite(fd, bytes, 2, 40) == 2;
  ::close(fd);
  return ok;
}

// The whole file at `path` in one read; false when it cannot be read.
bool ReadForCopy(const std::string& path, std::vector<uint8_t>* bytes) {
  const int in = ::open(path.c_str(), O_RDONLY);
  if (in < 0) return false;
  bytes->resize(fs::file_size(path));
  const bool ok = ::read(in, bytes->data(), bytes->size()) == static_cast<ssize_t>(bytes->size());
  ::close(in);
  return ok;
}

bool CopyFloor(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (!ReadForCopy(path, &bytes)) return false;
  const int out = ::open((path + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) return false;
  const bool ok = ::write(out, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  ::close(out);
  return ok;
}

// The copy as the writers must make it durable: the new file flushed and
// renamed over its target, the folder flushed.
bool DurableCopyFloor(const std::string& path) {
  std::vector<uint8_t> bytes;
  return ReadForCopy(path, &bytes) &&
         veltora::bench::WriteDurably(path + ".out", bytes.data(), bytes.size());
}

// The same copy through the file steps the plug-in's writers must take: the
// target directory proven writable (a file created and deleted there), the
// new file written whole to a temporary file in the private temp directory,
// then copied over the target, and the temporary file deleted.
bool PrescribedStepsFloor(const std::string& path) {
  const std::string probe = fs::path(path).parent_path() / "CHK0.TMP";
  const int check = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (check < 0) return false;
  ::close(check);
  ::unlink(probe.c_str());
  const std::string temp = (fs::temp_directory_path() / "veltora-bench-PIC0.TMP").string();
  std::vector<uint8_t> bytes;
  const bool read_ok = ReadForCopy(path, &bytes);
  const int built = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (built < 0) return false;
  bool ok = read_ok && ::write(built, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  ::close(built);
  std::error_code ec;
  ok = ok && fs::copy_file(temp, path + ".out", fs::copy_options::overwrite_existing, ec);
  ::unlink(temp.c_str());
  return ok;
}

// The plug-in's exports, this build's or an earlier one's.
struct Exports {
  decltype(&::SetOrientation) set_orientation = &::SetOrientation;
  decltype(&::SetDateTimeOriginal) set_date_time_original = &::SetDateTimeOriginal;
  decltype(&::ReplaceExifGps) replace_exif_gps = &::ReplaceExifGps;
  decltype(&::AppendExif) append_exif = &::AppendExif;
};
const Exports kThisBuild;

// The exports of $VELTORA_BEFORE_PLUGIN, when it is set and has them all.
std::optional<Exports> BeforeBuild() {
  using veltora::bench::BeforePluginExport;
  Exports e;
  e.set_orientation = reinterpret_cast<decltype(e.set_orientation)>(BeforePluginExport("SetOrientation"));
  e.set_date_time_original =
      reinterpret_cast<decltype(e.set_date_time_original)>(BeforePluginExport("SetDateTimeOriginal"));
  e.replace_exif_gps = reinterpret_cast<decltype(e.replace_exif_gps)>(BeforePluginExport("ReplaceExifGps"));
  e.append_exif = reinterpret_cast<decltype(e.append_exif)>(BeforePluginExport("AppendExif"));
  if (e.set_orientation == nullptr || e.set_date_time_original == nullptr ||
      e.replace_exif_gps == nullptr || e.append_exif == nullptr) {
    return std::nullopt;
  }
  return e;
}

bool VeltoraOrientation(const Exports& x, const std::string& path) {
  next_orientation = next_orientation == 6 ? 1 : 6;
  return x.set_orientation(path.c_str(), path.c_str(), next_orientation, 0) == S_OK;
}

bool VeltoraDate(const Exports& x, const std::string& path) {
  const SYSTEMTIME when{2024, 2, 0, 29, 10, 20, static_cast<uint16_t>(next_orientation), 0};
  next_orientation = next_orientation == 6 ? 1 : 6;
  return x.set_date_time_original(path.c_str(), when) == S_OK;
}

bool VeltoraGps(const Exports& x, const std::string& path) {
  veltora::testing::GpsSet gps;
  gps.Tags({1, 2, 3, 4}).Position('N', 48, 'E', 2);
  return x.replace_exif_gps((path + ".out").c_str(), path.c_str(), 90, &gps.set) == S_OK;
}

// AppendExif over the previous output: an Orientation replaced and a ColorSpace
// inserted where the EXIF directory lacks one.
bool VeltoraAppend(const Exports& x, const std::string& path) {
  static TiffInfo main = [] {
    TiffInfo r{};
    r.mask1 = TIFF_M1_ORIENTATION;
    r.Orientation = 6;
    return r;
  }();
  static ExifInfo exif = [] {
    ExifInfo r{};
    r.mask_l = EXIF_L_COLOR_SPACE;
    r.ColorSpace = 1;
    return r;
  }();
  ImageInfoList list{};
  const bool made = ImageInfoListAppend(&list, INFO_TIFF_MAIN, &main) &&
                    ImageInfoListAppend(&list, INFO_EXIF, &exif);
  const bool ok = made && x.append_exif((path + ".out").c_str(), path.c_str(), &list, 0) == S_OK;
  ImageInfoListFree(&list);
  return ok;
}

// The picture of each file, decoded once (outside the timed calls).
HGLOBAL PictureOf(const std::string& path) {
  static std::map<std::string, HGLOBAL> pictures;
  auto [it, added] = pictures.try_emplace(path, nullptr);
  if (added) it->second = Decode(path.c_str(), 0);
  return it->second;
}

bool PictureBytesFloor(const std::string& path) {
  const HGLOBAL dib = PictureOf(path);
  if (dib == nullptr) return false;
  const int out = ::open((path + ".bmp").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) return false;
  const void* bytes = GlobalLock(dib);
  const size_t size = GlobalSize(dib);
  const bool ok = ::write(out, bytes, size) == static_cast<ssize_t>(size);
  GlobalUnlock(dib);
  ::close(out);
  return ok;
}

bool VeltoraEncodeBmp(const std::string& path) {
  const HGLOBAL dib = PictureOf(path);
  return dib != nullptr && Encode(dib, (path + ".bmp").c_str(), ENCODE_BMP, 90, nullptr) == S_OK;
}

#if defined(VELTORA_HAVE_EXIV2)
bool Exiv2Set(const std::string& path, const char* key, const std::string& value) {
  try {
    auto image = Exiv2::ImageFactory::open(path);
    image->readMetadata();
    image->exifData()[key] = value;
    image->writeMetadata();
    return true;
  } catch (...) {
    return false;
  }
}

bool Exiv2Orientation(const std::string& path) {
  next_orientation = next_orientation == 6 ? 1 : 6;
  try {
    auto image = Exiv2::ImageFactory::open(path);
    image->readMetadata();
    image->exifData()["Exif.Image.Orientation"] = uint16_t{next_orientation};
    image->writeMetadata();
    return true;
  } catch (...) {
    return false;
  }
}

bool Exiv2Date(const std::string& path) {
  next_orientation = next_orientation == 6 ? 1 : 6;
  return Exiv2Set(path, "Exif.Photo.DateTimeOriginal",
                  next_orientation == 6 ? "2024:02:29 10:20:06" : "2024:02:29 10:20:01");
}

bool Exiv2Gps(const std::string& path) {
  // exiv2 writes into the file it opened: the copy is part of the edit.
  const std::string out = path + ".out";
  std::error_code error;
  fs::copy_file(path, out, fs::copy_options::overwrite_existing, error);
  if (error) return false;
  try {
    auto image = Exiv2::ImageFactory::open(out);
    image->readMetadata();
    auto& exif = image->exifData();
    exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
    exif["Exif.GPSInfo.GPSLatitude"] = Exiv2::URationalValue(Exiv2::URational(48, 1));
    exif["Exif.GPSInfo.GPSLongitudeRef"] = "E";
    exif["Exif.GPSInfo.GPSLongitude"] = Exiv2::URationalValue(Exiv2::URational(2, 1));
    image->writeMetadata();
    return true;
  } catch (...) {
    return false;
  }
}
#endif

// The files on which `edit` succeeds (JFIF files, files without an IFD1
// Orientation and the like are refused by rule and left out).
std::vector<std::string> Accepting(const std::vector<std::string>& files,
                                   const std::function<bool(const std::string&)>& edit) {
  std::vector<std::string> accepted;
  for (const auto& f : files) {
    if (edit(f)) accepted.push_back(f);
  }
  return accepted;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace veltora::bench;
  const std::string corpus = argc > 1 && argv[1][0] != 0 ? argv[1] : VELTORA_CORPUS_DIR;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 9;
  const int copies = argc > 3 ? std::atoi(argv[3]) : 3;
#if defined(VELTORA_HAVE_EXIV2)
  Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
#endif
  const auto pictures = CorpusPictures(corpus);
  if (pictures.empty()) {
    std::printf("no corpus at %s: nothing to measure\n", corpus.c_str());
    return 0;
  }
  const std::string scratch = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                              "/veltora-edit-bench";
  const auto files = CopiesOf(pictures, scratch, copies);

  // Each edit bound to this build's exports, or to an earlier build's.
  auto bound = [](bool (*edit)(const Exports&, const std::string&), const Exports& x) {
    return [edit, x](const std::string& path) { return edit(x, path); };
  };
  const auto mine = [&](auto edit) { return bound(edit, kThisBuild); };
  const auto orientation_files = Accepting(files, mine(VeltoraOrientation));
  std::vector<Contender> orientation = {{"floor: 2-byte pwrite", TwoByteWrite},
                                        {"veltora SetOrientation in place", mine(VeltoraOrientation)}};
  const auto date_files = Accepting(files, mine(VeltoraDate));
  std::vector<Contender> date = {{"floor: 2-byte pwrite", TwoByteWrite},
                                 {"veltora SetDateTimeOriginal", mine(VeltoraDate)}};
  const auto gps_files = Accepting(files, mine(VeltoraGps));
  std::vector<Contender> gps = {{"floor: read whole + write over", CopyFloor},
                                {"floor + fsync, rename, folder fsync", DurableCopyFloor},
                                {"veltora ReplaceExifGps over a target", mine(VeltoraGps)}};
  const auto append_files = Accepting(files, mine(VeltoraAppend));
  std::vector<Contender> append = {{"floor: read whole + write over", CopyFloor},
                                   {"floor + fsync, rename, folder fsync", DurableCopyFloor},
                                   {"floor + probe, temp file, copy", PrescribedStepsFloor},
                                   {"veltora AppendExif over a target", mine(VeltoraAppend)}};
  if (const auto before = BeforeBuild()) {
    orientation.push_back({"before: SetOrientation in place", bound(VeltoraOrientation, *before)});
    date.push_back({"before: SetDateTimeOriginal", bound(VeltoraDate, *before)});
    gps.push_back({"before: ReplaceExifGps", bound(VeltoraGps, *before)});
    append.push_back({"before: AppendExif", bound(VeltoraAppend, *before)});
  }
#if defined(VELTORA_HAVE_EXIV2)
  orientation.push_back({"exiv2 Orientation", Exiv2Orientation});
  date.push_back({"exiv2 DateTimeOriginal", Exiv2Date});
  gps.push_back({"exiv2 copy + GPS", Exiv2Gps});
#endif
  const auto encode_files = Accepting(files, VeltoraEncodeBmp);
  const std::vector<Contender> encode = {{"floor: picture bytes over a target", PictureBytesFloor},
                                         {"veltora Encode BMP over a target", VeltoraEncodeBmp}};
  std::printf("%zu files (%d copies of the corpus pictures), %d rounds\n", files.size(), copies,
              rounds);
  PrintTable("in-place SetOrientation (" + std::to_string(orientation_files.size()) + " files)",
             CompareOnFiles(orientation, orientation_files, rounds));
  PrintTable("in-place SetDateTimeOriginal (" + std::to_string(date_files.size()) + " files)",
             CompareOnFiles(date, date_files, rounds));
  PrintTable("rebuilt ReplaceExifGps (" + std::to_string(gps_files.size()) + " files)",
             CompareOnFiles(gps, gps_files, rounds));
  PrintTable("merged AppendExif (" + std::to_string(append_files.size()) + " files)",
             CompareOnFiles(append, append_files, rounds));
  PrintTable("plain Encode (" + std::to_string(encode_files.size()) + " files)",
             CompareOnFiles(encode, encode_files, rounds));
  std::error_code ignored;
  fs::remove_all(scratch, ignored);
  return 0;
}
