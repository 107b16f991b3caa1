// A device context to draw on: a cairo image surface on Linux, a DIB-section
// memory DC under GDI on Windows, of 32-bit pixels (bytes B, G, R, x) filled
// with kUntouched.
#ifndef VELTORA_TESTS_IMAGING_DRAW_CANVAS_H_
#define VELTORA_TESTS_IMAGING_DRAW_CANVAS_H_

#if defined(_WIN32)
#include <windows.h>
#else
#include <cairo.h>
#endif

#include <cstddef>
#include <cstdint>

#include "frame/veltora.h"

namespace veltora::imaging::testing {

inline constexpr uint32_t kUntouched = 0x00123456;  // 0x00RRGGBB before drawing

class Canvas {
 public:
#if defined(_WIN32)
  Canvas(int width, int height) : width_(width), height_(height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dc_ = ::CreateCompatibleDC(nullptr);
    section_ = ::CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    old_ = ::SelectObject(dc_, section_);
    stride_ = static_cast<size_t>(width) * 4;
#else
  // CAIRO_FORMAT_A1 makes a 1-bit device, left clear.
  Canvas(int width, int height, cairo_format_t format = CAIRO_FORMAT_RGB24)
      : width_(width), height_(height) {
    surface_ = cairo_image_surface_create(format, width, height);
    dc_ = cairo_create(surface_);
    bits_ = cairo_image_surface_get_data(surface_);
    stride_ = static_cast<size_t>(cairo_image_surface_get_stride(surface_));
    if (format != CAIRO_FORMAT_RGB24) return;
#endif
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) Pixel(x, y) = kUntouched;
    }
#if !defined(_WIN32)
    cairo_surface_mark_dirty(surface_);
#endif
  }
  ~Canvas() {
#if defined(_WIN32)
    ::SelectObject(dc_, old_);
    ::DeleteObject(section_);
    ::DeleteDC(dc_);
#else
    cairo_destroy(dc_);
    cairo_surface_destroy(surface_);
#endif
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  HDC dc() const { return dc_; }
  // 0x00RRGGBB of a 32-bit canvas.
  uint32_t At(int x, int y) {
    Flush();
    return Pixel(x, y) & 0x00FFFFFF;
  }
#if !defined(_WIN32)
  // The bit of a 1-bit canvas (little-endian bit order).
  bool BitAt(int x, int y) {
    Flush();
    return (((&Pixel(0, y))[x / 32] >> (x % 32)) & 1u) != 0;
  }
#endif
  // FNV-1a over every pixel, row by row.
  uint64_t Digest() {
    uint64_t hash = 0xCBF29CE484222325u;
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) hash = (hash ^ At(x, y)) * 0x100000001B3u;
    }
    return hash;
  }

 private:
  void Flush() {
#if defined(_WIN32)
    ::GdiFlush();
#else
    cairo_surface_flush(surface_);
#endif
  }
  uint32_t& Pixel(int x, int y) {
    return reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(bits_) +
                                       static_cast<size_t>(y) * stride_)[x];
  }
  int width_, height_;
  size_t stride_ = 0;
  void* bits_ = nullptr;
  HDC dc_ = nullptr;
#if defined(_WIN32)
  HBITMAP section_ = nullptr;
  HGDIOBJ old_ = nullptr;
#else
  cairo_surface_t* surface_ = nullptr;
#endif
};

}  // namespace veltora::imaging::testing

#endif  // VELTORA_TESTS_IMAGING_DRAW_CANVAS_H_
