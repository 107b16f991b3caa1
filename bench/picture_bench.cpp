// Picture exports against lean pipelines built straight on TurboJPEG, side
// by side in one run (interleaved rounds, medians), on the largest corpus
// JPEG and on a generated 24 MPix photograph:
//   Decode                 vs tjDecompress2 to bottom-up BGR (the DIB's rows)
//   EncodeThumbnail        vs one box resample to 160 x 120 + tjCompress2
//   Encode (ENCODE_JPEG)   vs tjCompress2 of the DIB's rows + one file write
//   Encode (ENCODE_EXIF)   vs the same: a block built from records and its
//                          thumbnail included; vs TurboJPEG at the export's
//                          4:2:2; and vs both samplings written durably
//                          (the flushes every new file gets); the embedded
//                          thumbnail alone is timed beside them
//   Encode (ENCODE_PNG)    vs libpng at its default settings (its simplified
//                          writer) on the same DIB, with both file sizes
//   a turn by 12.34 degrees scaled to 90 % (what DrawImage does for the part
//                          of the target it shows) vs the axis-aligned
//                          resample of the same picture to 90 %
// plus the other plain formats, and ImageMagick's `convert -resize 160x120`
// on the same files for scale. On the corpus JPEG (8 MPix, EXIF) also:
//   ReplaceThumbImage      vs EncodeThumbnail of the DIB + a copy of the file,
//                          and + the file steps the writers must take (probe,
//                          temporary file, backup, copy over the target)
//   ReplaceExifImage       vs tjCompress2 (4:2:2) of the DIB's rows written
//                          behind the file's own EXIF segment, that plus
//                          the box-resampled thumbnail the export must make,
//                          and that staged + the writers' file steps
//
//   picture_bench [rounds] [exif]   (default 5 rounds; build with -DCMAKE_BUILD_TYPE=Release;
//                                   "exif": only the tables of the EXIF writers, Encode
//                                   with records and ReplaceExifImage)
#include <png.h>
#include <turbojpeg.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench/peer_timing.h"
#include "frame/veltora.h"
#include "imaging/bitmap.h"
#include "imaging/picture_io.h"
#include "imaging/resample.h"
#include "imaging/rotate.h"
#include "imaging/save_jpeg.h"
#include "plugin/jpeg_exif_encode.h"

namespace {

namespace fs = std::filesystem;
using veltora::bench::CompareOnFiles;
using veltora::bench::Contender;
using veltora::bench::PrintTable;

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool WriteAll(const std::string& path, const unsigned char* bytes, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

// The floor for Decode: the file read and decoded into bottom-up BGR rows
// padded to 4 bytes, which is what a DIB holds.
bool RawDecode(const std::string& path) {
  const std::vector<uint8_t> file = ReadAll(path);
  tjhandle handle = tjInitDecompress();
  int width = 0, height = 0, sampling = 0, colours = 0;
  bool ok = tjDecompressHeader3(handle, file.data(), file.size(), &width, &height, &sampling, &colours) == 0;
  if (ok) {
    const size_t pitch = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
    std::vector<uint8_t> rows(pitch * static_cast<size_t>(height));
    ok = tjDecompress2(handle, file.data(), file.size(), rows.data(), width, static_cast<int>(pitch), height, TJPF_BGR,
                       TJFLAG_BOTTOMUP | TJFLAG_LIMITSCANS) == 0;
  }
  tjDestroy(handle);
  return ok;
}

struct DibView {
  const uint8_t* rows = nullptr;  // bottom row first
  int width = 0, height = 0;
  size_t pitch = 0;
};

DibView View(HGLOBAL dib) {
  const auto* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(dib));
  DibView view{reinterpret_cast<const uint8_t*>(header) + 40, header->biWidth, header->biHeight,
               (static_cast<size_t>(header->biWidth) * 3 + 3) & ~size_t{3}};
  GlobalUnlock(dib);  // the block does not move while we hold the handle
  return view;
}

// A lean thumbnail: each of the 160 x 120 pixels the mean of its source box
// (fixed point, read from the DIB in place), then TurboJPEG at 4:2:2.
bool LeanThumbnail(HGLOBAL dib, const std::string& out) {
  const DibView v = View(dib);
  constexpr int kW = 160, kH = 120;
  std::vector<uint8_t> thumb(kW * kH * 3);
  std::vector<uint32_t> sums(static_cast<size_t>(kW) * 3);
  for (int ty = 0; ty < kH; ++ty) {
    const int y0 = ty * v.height / kH, y1 = (ty + 1) * v.height / kH;
    std::fill(sums.begin(), sums.end(), 0u);
    std::vector<uint32_t> counts(kW, 0);
    for (int y = y0; y < y1; ++y) {
      const uint8_t* row = v.rows + static_cast<size_t>(v.height - 1 - y) * v.pitch;
      for (int tx = 0; tx < kW; ++tx) {
        const int x0 = tx * v.width / kW, x1 = (tx + 1) * v.width / kW;
        uint32_t b = 0, g = 0, r = 0;
        for (int x = x0; x < x1; ++x) {
          b += row[3 * x];
          g += row[3 * x + 1];
          r += row[3 * x + 2];
        }
        sums[3 * tx] += b;
        sums[3 * tx + 1] += g;
        sums[3 * tx + 2] += r;
        counts[static_cast<size_t>(tx)] += static_cast<uint32_t>(x1 - x0);
      }
    }
    for (int tx = 0; tx < kW; ++tx) {
      const uint32_t n = counts[static_cast<size_t>(tx)];
      for (int c = 0; c < 3; ++c) thumb[static_cast<size_t>((ty * kW + tx) * 3 + c)] = static_cast<uint8_t>((sums[3 * tx + c] + n / 2) / n);
    }
  }
  tjhandle handle = tjInitCompress();
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  bool ok = tjCompress2(handle, thumb.data(), kW, kW * 3, kH, TJPF_BGR, &jpeg, &size, TJSAMP_422, 90,
                        TJFLAG_ACCURATEDCT) == 0;
  ok = ok && WriteAll(out, jpeg, size);
  tjFree(jpeg);
  tjDestroy(handle);
  return ok;
}

// EncodeThumbnail's picture written to `out`, as a saver that writes files would.
bool ThumbnailFile(HGLOBAL dib, const std::string& out) {
  std::vector<uint8_t> encoded;
  return veltora::imaging::EncodeThumbnail(ENCODE_JPEG, dib, 90, &encoded) == 0 &&
         WriteAll(out, encoded.data(), encoded.size());
}

// The file's SOI and first APP1 segment (its EXIF data), read from its head.
std::vector<uint8_t> ExifHead(const std::string& path) {
  std::vector<uint8_t> head(4 + 0x10000);
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return {};
  head.resize(std::fread(head.data(), 1, head.size(), f));
  std::fclose(f);
  if (head.size() < 6 || head[2] != 0xFF || head[3] != 0xE1) return {};
  head.resize(std::min(head.size(), 4 + size_t{head[4]} * 256 + head[5]));
  return head;
}

// TurboJPEG on the DIB's rows and one write: the floor for Encode's JPEG.
// With `head` (SOI and an APP1), the new picture is written behind it.
bool LeanJpeg(HGLOBAL dib, const std::string& out, int sampling = TJSAMP_420,
              const std::vector<uint8_t>& head = {}, bool durable = false) {
  const auto write = durable ? veltora::bench::WriteDurably
                             : +[](const std::string& path, const void* bytes, size_t size) {
                                 return WriteAll(path, static_cast<const unsigned char*>(bytes), size);
                               };
  const DibView v = View(dib);
  tjhandle handle = tjInitCompress();
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  bool ok = tjCompress2(handle, v.rows, v.width, static_cast<int>(v.pitch), v.height, TJPF_BGR, &jpeg, &size,
                        sampling, 90, TJFLAG_ACCURATEDCT | TJFLAG_BOTTOMUP) == 0;
  if (ok && !head.empty()) {
    std::vector<uint8_t> file(head);
    file.insert(file.end(), jpeg + 2, jpeg + size);  // behind the new picture's SOI
    ok = write(out, file.data(), file.size());
  } else {
    ok = ok && write(out, jpeg, size);
  }
  tjFree(jpeg);
  tjDestroy(handle);
  return ok;
}

// libpng at its default settings: the simplified writer (default zlib level
// and row filters), from the DIB's bottom-up BGR rows (a negative stride).
bool LibpngDefault(HGLOBAL dib, const std::string& out) {
  const DibView v = View(dib);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(v.width);
  image.height = static_cast<png_uint_32>(v.height);
  image.format = PNG_FORMAT_BGR;
  const bool ok = png_image_write_to_file(&image, out.c_str(), 0, v.rows, -static_cast<png_int_32>(v.pitch),
                                          nullptr) != 0;
  png_image_free(&image);
  return ok;
}

// A copy of `from` over `to` through the file steps the plug-in's writers
// must take: the target directory proven writable (a file created and
// deleted there), the new file written whole to a temporary file, an
// existing target backed up to another, the new file copied over the
// target, both temporary files deleted.
bool WritersFileSteps(const std::string& from, const std::string& to) {
  std::error_code ec;
  const fs::path probe = fs::path(to).parent_path() / "CHK0.TMP";
  if (!std::ofstream(probe)) return false;
  fs::remove(probe, ec);
  const fs::path temp = fs::temp_directory_path() / "veltora-bench-PIC0.TMP";
  const fs::path backup = fs::temp_directory_path() / "veltora-bench-PIC1.TMP";
  std::ifstream in(from, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!std::ofstream(temp, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
    return false;
  }
  if (fs::exists(to)) fs::copy_file(to, backup, fs::copy_options::overwrite_existing, ec);
  const bool ok = fs::copy_file(temp, to, fs::copy_options::overwrite_existing, ec);
  fs::remove(temp, ec);
  fs::remove(backup, ec);
  return ok;
}

double TimeCommandMs(const std::string& command, int rounds) {
  std::vector<double> times;
  for (int i = 0; i < rounds; ++i) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) return -1;
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// A photograph-like picture (gradients, rings, fine noise) as a quality-90
// JPEG, so that the codec meets real detail.
std::string MakeLargeJpeg(const std::string& dir, int32_t width, int32_t height) {
  const std::string path = dir + "/generated-" + std::to_string(width) + "x" + std::to_string(height) + ".jpg";
  veltora::imaging::Bitmap b;
  veltora::imaging::CreateBitmap(&b, width, height, 24);
  uint32_t state = 7;
  for (int32_t y = 0; y < b.height; ++y) {
    uint8_t* p = b.Row(y);
    for (int32_t x = 0; x < b.width; ++x, p += 3) {
      state = state * 1664525u + 1013904223u;
      const int noise = static_cast<int>(state >> 29) - 4;
      const int dx = x - width / 2, dy = y - height / 2;
      const int ring = (dx * dx + dy * dy) / 4000 % 64;
      p[0] = static_cast<uint8_t>(std::clamp(x * 255 / width + noise, 0, 255));
      p[1] = static_cast<uint8_t>(std::clamp(y * 255 / height + noise, 0, 255));
      p[2] = static_cast<uint8_t>(std::clamp(ring * 4 + noise, 0, 255));
    }
  }
  veltora::imaging::SaveJpegBitmap(b, path.c_str(), 90, veltora::imaging::kJpegModeStandard);
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const bool all_tables = !(argc > 2 && std::string(argv[2]) == "exif");
  // An earlier build timed in the same run, when $VELTORA_BEFORE_PLUGIN names one.
  const auto before_encode = reinterpret_cast<decltype(&::Encode)>(veltora::bench::BeforePluginExport("Encode"));
  const auto before_replace =
      reinterpret_cast<decltype(&::ReplaceExifImage)>(veltora::bench::BeforePluginExport("ReplaceExifImage"));
  const std::string corpus = VELTORA_CORPUS_DIR;
  const std::string scratch = (fs::temp_directory_path() / "veltora-picture-bench").string();
  fs::create_directories(scratch);
  std::vector<std::string> files;
  if (fs::exists(corpus + "/ies_iphone_hdr_YES.jpg")) files.push_back(corpus + "/ies_iphone_hdr_YES.jpg");
  files.push_back(MakeLargeJpeg(scratch, 6000, 4000));
  files.push_back(MakeLargeJpeg(scratch, 3464, 2309));  // 8 MPix

  for (const std::string& file : files) {
    HGLOBAL dib = Decode(file.c_str(), 0);
    if (dib == nullptr) {
      std::fprintf(stderr, "cannot decode %s\n", file.c_str());
      return 1;
    }
    const DibView v = View(dib);
    std::printf("\n==== %s (%d x %d, %.1f MPix)\n", fs::path(file).filename().c_str(), v.width, v.height,
                v.width * static_cast<double>(v.height) / 1e6);
    const std::vector<std::string> one = {file};
    if (all_tables) PrintTable("Decode (first is the reference)",
               CompareOnFiles({{"TurboJPEG to bottom-up BGR", RawDecode},
                               {"Decode", [](const std::string& p) {
                                  HGLOBAL d = Decode(p.c_str(), 0);
                                  GlobalFree(d);
                                  return d != nullptr;
                                }}},
                              one, rounds));
    const std::string thumb = scratch + "/thumb.jpg";
    if (all_tables) PrintTable("Thumbnail 160 x 120 from the DIB",
               CompareOnFiles({{"box resample + TurboJPEG", [&](const std::string&) { return LeanThumbnail(dib, thumb); }},
                               {"EncodeThumbnail", [&](const std::string&) {
                                  return ThumbnailFile(dib, thumb);
                                }}},
                              one, rounds));
    const std::string jpeg = scratch + "/plain.jpg";
    if (all_tables) PrintTable("JPEG of the DIB",
               CompareOnFiles({{"TurboJPEG + write", [&](const std::string&) { return LeanJpeg(dib, jpeg); }},
                               {"Encode ENCODE_JPEG", [&](const std::string&) {
                                  return Encode(dib, jpeg.c_str(), ENCODE_JPEG, 90, nullptr) == S_OK;
                                }}},
                              one, rounds));
    static TiffInfo main_info{}, thumb_info{};
    static ExifInfo exif{};
    main_info.mask1 = TIFF_M1_ORIENTATION;
    main_info.Orientation = 1;
    exif.mask_l = EXIF_L_COLOR_SPACE;
    exif.ColorSpace = 1;
    thumb_info.mask1 = TIFF_M1_COMPRESSION | TIFF_M1_JPEG_INTERCHANGE_FORMAT | TIFF_M1_JPEG_INTERCHANGE_FORMAT_LENGTH;
    thumb_info.Compression = 6;
    ImageInfoList records{};
    ImageInfoListAppend(&records, INFO_TIFF_MAIN, &main_info);
    ImageInfoListAppend(&records, INFO_EXIF, &exif);
    ImageInfoListAppend(&records, INFO_TIFF_THUMB, &thumb_info);
    PrintTable("JPEG of the DIB with an EXIF block from records",
               CompareOnFiles({{"TurboJPEG + write", [&](const std::string&) { return LeanJpeg(dib, jpeg); }},
                               {"TurboJPEG 4:2:2 + write (the export's sampling)",
                                [&](const std::string&) { return LeanJpeg(dib, jpeg, TJSAMP_422); }},
                               {"the embedded thumbnail alone (MakeExifThumbnail)", [&](const std::string&) {
                                  const veltora::imaging::DibPicture picture(dib);
                                  std::vector<uint8_t> thumbnail;
                                  return veltora::MakeExifThumbnail(picture, &thumbnail, 75) == S_OK;
                                }},
                               {"TurboJPEG + durable write (fsync, rename, folder fsync)",
                                [&](const std::string&) { return LeanJpeg(dib, jpeg, TJSAMP_420, {}, true); }},
                               {"TurboJPEG 4:2:2 + durable write (the export's sampling and flushes)",
                                [&](const std::string&) { return LeanJpeg(dib, jpeg, TJSAMP_422, {}, true); }},
                               {"Encode ENCODE_EXIF", [&](const std::string&) {
                                  return Encode(dib, jpeg.c_str(), ENCODE_EXIF | ENCODE_EXIF_RECORDS, 90, &records) ==
                                         S_OK;
                                }},
                               {"before: Encode ENCODE_EXIF", [&](const std::string&) {
                                  return before_encode != nullptr &&
                                         before_encode(dib, jpeg.c_str(), ENCODE_EXIF | ENCODE_EXIF_RECORDS, 90,
                                                       &records) == S_OK;
                                }}},
                              one, rounds));
    ImageInfoListFree(&records);
    if (file.find("/generated-") == std::string::npos) {
      const std::string out = scratch + "/replaced.jpg";
      if (all_tables) PrintTable("ReplaceThumbImage",
                 CompareOnFiles({{"EncodeThumbnail + file copy", [&](const std::string& p) {
                                    return ThumbnailFile(dib, thumb) &&
                                           fs::copy_file(p, out, fs::copy_options::overwrite_existing);
                                  }},
                                 {"EncodeThumbnail + the writers' file steps", [&](const std::string& p) {
                                    return ThumbnailFile(dib, thumb) &&
                                           WritersFileSteps(p, out);
                                  }},
                                 {"ReplaceThumbImage", [&](const std::string& p) {
                                    return ReplaceThumbImage(out.c_str(), p.c_str(), dib, 90) == S_OK;
                                  }}},
                                one, rounds));
      PrintTable("ReplaceExifImage",
                 CompareOnFiles({{"TurboJPEG 4:2:2 behind the EXIF segment", [&](const std::string& p) {
                                    return LeanJpeg(dib, out, TJSAMP_422, ExifHead(p));
                                  }},
                                 {"the same, durable write", [&](const std::string& p) {
                                    return LeanJpeg(dib, out, TJSAMP_422, ExifHead(p), true);
                                  }},
                                 {"the same + box resample thumbnail", [&](const std::string& p) {
                                    return LeanJpeg(dib, out, TJSAMP_422, ExifHead(p)) && LeanThumbnail(dib, thumb);
                                  }},
                                 {"the same staged + the writers' file steps", [&](const std::string& p) {
                                    const std::string staged = scratch + "/staged.jpg";
                                    return LeanJpeg(dib, staged, TJSAMP_422, ExifHead(p)) && LeanThumbnail(dib, thumb) &&
                                           WritersFileSteps(staged, out);
                                  }},
                                 {"ReplaceExifImage", [&](const std::string& p) {
                                    return ReplaceExifImage(out.c_str(), p.c_str(), dib, 90) == S_OK;
                                  }},
                                 {"before: ReplaceExifImage", [&](const std::string& p) {
                                    return before_replace != nullptr &&
                                           before_replace(out.c_str(), p.c_str(), dib, 90) == S_OK;
                                  }}},
                                one, rounds));
    }
    if (!all_tables) {
      GlobalFree(dib);
      continue;
    }
    {
      namespace im = veltora::imaging;
      im::Bitmap picture;
      im::BitmapFromDib(dib, &picture);
      const int32_t w = picture.width * 9 / 10, h = picture.height * 9 / 10;
      const im::CanvasSize canvas = im::TurnedCanvasSize(picture.width, picture.height, 1234);
      const int32_t tw = static_cast<int32_t>(canvas.width) * 9 / 10, th = static_cast<int32_t>(canvas.height) * 9 / 10;
      const im::ResizeWindow crop{0, 0, static_cast<int32_t>(canvas.width), static_cast<int32_t>(canvas.height)};
      PrintTable("Turn 12.34 degrees (canvas to 90 %) vs axis-aligned resample to 90 %",
                 CompareOnFiles({{"ResizeBitmapWindow", [&](const std::string&) {
                                    im::Bitmap out;
                                    return im::ResizeBitmapWindow(picture, w, h, {0, 0, w, h}, im::kResizeFiltered, &out) == 1;
                                  }},
                                 {"TurnScaledWindow", [&](const std::string&) {
                                    im::Bitmap out;
                                    return im::TurnScaledWindow(picture, 1234, crop, tw, th, {0, 0, tw, th}, &out) == 1;
                                  }}},
                                one, rounds));
    }
    std::vector<Contender> formats;
    for (auto [name, flag, ext] : {std::tuple{"Encode PNG", ENCODE_PNG, ".png"}, {"Encode TIFF", ENCODE_TIFF, ".tif"},
                                   {"Encode GIF", ENCODE_GIF, ".gif"}, {"Encode BMP", ENCODE_BMP, ".bmp"}}) {
      const std::string out = scratch + "/plain" + ext;
      const uint32_t f = flag;
      formats.push_back({name, [dib, out, f](const std::string&) {
                           return Encode(dib, out.c_str(), f, 90, nullptr) == S_OK;
                         }});
    }
    PrintTable("Other formats (ratios to PNG)", CompareOnFiles(formats, one, std::min(rounds, 3)));
    const std::string ours = scratch + "/plain.png", theirs = scratch + "/libpng.png";
    PrintTable("PNG of the DIB",
               CompareOnFiles({{"libpng default settings", [&](const std::string&) { return LibpngDefault(dib, theirs); }},
                               {"Encode ENCODE_PNG", [&](const std::string&) {
                                  return Encode(dib, ours.c_str(), ENCODE_PNG, 90, nullptr) == S_OK;
                                }}},
                              one, std::min(rounds, 3)));
    std::printf("PNG sizes: libpng %ju bytes, Encode %ju bytes\n", static_cast<uintmax_t>(fs::file_size(theirs)),
                static_cast<uintmax_t>(fs::file_size(ours)));
    const char* convert = fs::exists("/usr/bin/convert") ? "/usr/bin/convert" : "convert";
    const double ms = TimeCommandMs(std::string(convert) + " '" + file + "' -resize 160x120 '" + scratch +
                                        "/im-thumb.jpg' 2>/dev/null",
                                    std::min(rounds, 3));
    std::printf("ImageMagick convert -resize 160x120 (whole process, median): %.1f ms\n", ms);
    GlobalFree(dib);
  }
  fs::remove_all(scratch);
  return 0;
}
