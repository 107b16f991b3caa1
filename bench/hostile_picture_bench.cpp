// Crafted pictures of a few hundred bytes whose headers promise far more than
// their data holds, and drawing calls whose target dwarfs the surface. Each
// call runs once in a fresh child process; the table gives the call's result,
// its peak resident set above the child's size before the call (VmHWM after
// a reset), the size of the DIB it returns, and its time.
//
//   hostile_picture_bench        (build with -DCMAKE_BUILD_TYPE=RelWithDebInfo or Release)
#include <cairo.h>
#include <sys/wait.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench/peer_timing.h"
#include "frame/veltora.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr int kSide = 11585;  // 11585^2 is just under the decoder's pixel cap

void Put16(Bytes* b, unsigned v) { b->insert(b->end(), {uint8_t(v), uint8_t(v >> 8)}); }
void Put32(Bytes* b, uint32_t v) { b->insert(b->end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}); }
void Put32Be(Bytes* b, uint32_t v) { b->insert(b->end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}); }

uint32_t Crc32(const uint8_t* p, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

// A logical screen of kSide x kSide with one 1 x 1 frame.
Bytes GifScreen() {
  Bytes b = {'G', 'I', 'F', '8', '9', 'a'};
  Put16(&b, kSide);
  Put16(&b, kSide);
  b.insert(b.end(), {0x80, 0, 0, 0, 0, 0, 255, 255, 255});  // two-entry global table
  b.push_back(0x2C);
  Put16(&b, 0), Put16(&b, 0), Put16(&b, 1), Put16(&b, 1);
  b.insert(b.end(), {0, 2, 2, 0x44, 0x01, 0, 0x3B});  // clear, 0, end; trailer
  return b;
}

// RGBA, one strip of kSide rows whose declared bytes run far past the file.
Bytes TiffStripPastEnd(uint16_t compression) {
  Bytes b = {'I', 'I', 42, 0};
  Put32(&b, 16);
  Put16(&b, 8), Put16(&b, 8), Put16(&b, 8), Put16(&b, 8);  // BitsPerSample at 8
  struct Entry { uint16_t tag, type; uint32_t count, value; };
  const Entry entries[] = {{256, 4, 1, kSide}, {257, 4, 1, kSide}, {258, 3, 4, 8}, {259, 3, 1, compression},
                           {262, 3, 1, 2}, {273, 4, 1, 8}, {277, 3, 1, 4}, {278, 4, 1, kSide},
                           {279, 4, 1, uint32_t{kSide} * kSide * 4}, {284, 3, 1, 1}, {338, 3, 1, 2}};
  Put16(&b, sizeof entries / sizeof entries[0]);
  for (const Entry& e : entries) {
    Put16(&b, e.tag), Put16(&b, e.type), Put32(&b, e.count);
    if (e.type == 3 && e.count == 1) {
      Put16(&b, e.value), Put16(&b, 0);
    } else {
      Put32(&b, e.value);
    }
  }
  Put32(&b, 0);
  return b;
}

void PutChunk(Bytes* b, const char* type, const Bytes& data, uint32_t declared) {
  Put32Be(b, declared);
  const size_t start = b->size();
  b->insert(b->end(), type, type + 4);
  b->insert(b->end(), data.begin(), data.end());
  Put32Be(b, Crc32(b->data() + start, b->size() - start));
}

// kSide x kSide RGB whose IDAT declares 100000 bytes and holds 25.
Bytes PngTruncated() {
  Bytes b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  Bytes ihdr;
  Put32Be(&ihdr, kSide), Put32Be(&ihdr, kSide);
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
  PutChunk(&b, "IHDR", ihdr, 13);
  Bytes idat = {0x78, 0x9C, 0xED, 0xC1, 0x01, 0x0D, 0x00, 0x00, 0x00, 0xC2, 0xA0, 0xF7, 0x4F,
                0x6D, 0x0E, 0x37, 0xA0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  Put32Be(&b, 100000);
  b.insert(b.end(), {'I', 'D', 'A', 'T'});
  b.insert(b.end(), idat.begin(), idat.end());
  return b;
}

// A small baseline JPEG whose frame is patched to 11000 x 11000 and which is
// cut a little way into its scan.
Bytes JpegCutInScan() {
  std::vector<uint8_t> rgb(64 * 64 * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 7);
  tjhandle handle = tjInitCompress();
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  tjCompress2(handle, rgb.data(), 64, 0, 64, TJPF_RGB, &jpeg, &size, TJSAMP_420, 90, 0);
  Bytes b(jpeg, jpeg + size);
  tjFree(jpeg);
  tjDestroy(handle);
  for (size_t i = 2; i + 9 < b.size(); ++i) {
    if (b[i] == 0xFF && b[i + 1] == 0xC0) {
      b[i + 5] = b[i + 7] = 11000 >> 8;
      b[i + 6] = b[i + 8] = 11000 & 0xFF;
    }
    if (b[i] == 0xFF && b[i + 1] == 0xDA) {
      b.resize(i + 2 + ((b[i + 2] << 8) | b[i + 3]) + 20);
      break;
    }
  }
  return b;
}

HGLOBAL MakeDib(int width, int height) {
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
  HGLOBAL dib = GlobalAlloc(GHND, 40 + stride * static_cast<size_t>(height));
  auto* h = static_cast<BITMAPINFOHEADER*>(GlobalLock(dib));
  h->biSize = 40;
  h->biWidth = width;
  h->biHeight = height;
  h->biPlanes = 1;
  h->biBitCount = 24;
  auto* rows = reinterpret_cast<uint8_t*>(h) + 40;
  for (size_t i = 0; i < stride * static_cast<size_t>(height); ++i) rows[i] = static_cast<uint8_t>(i * 13);
  GlobalUnlock(dib);
  return dib;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

struct Case {
  std::string name;
  size_t input_bytes;
  // Returns a one-word result and sets the bytes of a returned DIB.
  std::function<std::string(size_t* dib_bytes)> call;
};

cairo_t* Surface100() {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 100, 100);
  cairo_t* cr = cairo_create(surface);
  cairo_surface_destroy(surface);
  return cr;
}

std::string HexResult(HRESULT r) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<uint32_t>(r));
  return text;
}

Case DecodeCase(const std::string& name, const std::string& path) {
  return {name, fs::file_size(path), [path](size_t* dib_bytes) {
            HGLOBAL dib = Decode(path.c_str(), 0);
            *dib_bytes = dib != nullptr ? GlobalSize(dib) : 0;
            GlobalFree(dib);
            return std::string(dib != nullptr ? "DIB" : "null");
          }};
}

// Runs one case in a child; the child reports through a pipe.
void RunCase(const Case& c) {
  int fds[2];
  if (pipe(fds) != 0) return;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    veltora::bench::ResetPeakResident();
    const long before = veltora::bench::PeakResidentKiB();
    size_t dib_bytes = 0;
    const auto start = std::chrono::steady_clock::now();
    const std::string result = c.call(&dib_bytes);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const long peak = veltora::bench::PeakResidentKiB() - before;
    char line[256];
    const int n = std::snprintf(line, sizeof line, "%-34s %7zu  %-10s %9.1f %10.1f %9.1f\n", c.name.c_str(),
                                c.input_bytes, result.c_str(), peak / 1024.0, dib_bytes / 1048576.0, ms);
    if (write(fds[1], line, static_cast<size_t>(n)) != n) _exit(1);
    _exit(0);
  }
  close(fds[1]);
  char buffer[512] = {};
  const ssize_t got = read(fds[0], buffer, sizeof buffer - 1);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (got > 0) {
    std::fputs(buffer, stdout);
  } else {
    std::printf("%-34s child failed (status %d)\n", c.name.c_str(), status);
  }
  std::fflush(stdout);
}

}  // namespace

int main() {
  const std::string dir = (fs::temp_directory_path() / "veltora-hostile-bench").string();
  fs::create_directories(dir);
  WriteFile(dir + "/screen.gif", GifScreen());
  WriteFile(dir + "/alpha-raw.tif", TiffStripPastEnd(1));
  WriteFile(dir + "/alpha-lzw.tif", TiffStripPastEnd(5));
  WriteFile(dir + "/truncated.png", PngTruncated());
  WriteFile(dir + "/cut.jpg", JpegCutInScan());
  {
    HGLOBAL small = MakeDib(100, 100);
    Encode(small, (dir + "/small.png").c_str(), ENCODE_PNG, 90, nullptr);
    GlobalFree(small);
    HGLOBAL thin = MakeDib(1, 15105);
    Encode(thin, (dir + "/thin.png").c_str(), ENCODE_PNG, 90, nullptr);
    GlobalFree(thin);
  }
  const std::string small = dir + "/small.png", thin = dir + "/thin.png";
  std::vector<Case> cases = {
      DecodeCase("Decode GIF screen, 1x1 frame", dir + "/screen.gif"),
      DecodeCase("Decode TIFF RGBA, strip past end", dir + "/alpha-raw.tif"),
      DecodeCase("Decode TIFF RGBA LZW, strip past end", dir + "/alpha-lzw.tif"),
      DecodeCase("Decode PNG, IDAT cut", dir + "/truncated.png"),
      DecodeCase("Decode JPEG 11000^2, cut in scan", dir + "/cut.jpg"),
      {"Draw 100^2 DIB into 11585^2 rect", 0,
       [](size_t*) {
         HGLOBAL dib = MakeDib(100, 100);
         cairo_t* cr = Surface100();
         const HRESULT r = Draw(cr, dib, 0, 0, kSide, kSide);
         cairo_destroy(cr);
         GlobalFree(dib);
         return HexResult(r);
       }},
      {"DrawImage 100^2 into 11585^2 rect", fs::file_size(small),
       [small](size_t*) {
         cairo_t* cr = Surface100();
         const HRESULT r = DrawImage(small.c_str(), cr, 0, 0, kSide, kSide, 0, 0, 0, 0, 0, 0, 0);
         cairo_destroy(cr);
         return HexResult(r);
       }},
      {"DrawImage 1x15105 at 49.85 deg", fs::file_size(thin),
       [thin](size_t*) {
         cairo_t* cr = Surface100();
         const HRESULT r = DrawImage(thin.c_str(), cr, 0, 0, 100, 100, 4985, 0, 0, 0, 0, 0, 0);
         cairo_destroy(cr);
         return HexResult(r);
       }},
      {"DrawImage 1x15105 at 49.85, big rect", fs::file_size(thin),
       [thin](size_t*) {
         cairo_t* cr = Surface100();
         const HRESULT r = DrawImage(thin.c_str(), cr, -4000, -4000, 6000, 6000, 4985, 0, 0, 0, 0, 0, 0);
         cairo_destroy(cr);
         return HexResult(r);
       }},
  };
  std::printf("%-34s %7s  %-10s %9s %10s %9s\n", "call", "bytes", "result", "peak MiB", "DIB MiB", "ms");
  for (const Case& c : cases) RunCase(c);
  fs::remove_all(dir);
  return 0;
}
