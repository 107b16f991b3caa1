// Win32-shaped basics that cross the boundary: the device context, dates,
// rectangles and the packed DIB header. Included by the chief header
// (frame/veltora.h, through host_types.h); part of the interface every layer
// may use.
//
// On Windows they are the system's own (windows.h): a GDI device context and
// the system's SYSTEMTIME, RECT and DIB structures, whose layouts the ones
// below repeat for Linux.
#ifndef VELTORA_INTERFACE_HOST_WIN32_H_
#define VELTORA_INTERFACE_HOST_WIN32_H_

#include <stdint.h>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else

// The host's drawing context is a cairo context; the forward declaration is
// the one cairo.h makes, so a host needs no cairo header to use the exports.
typedef struct _cairo cairo_t;
typedef cairo_t* HDC;

// Dates cross the boundary in this form (16 bytes).
struct SYSTEMTIME {
  uint16_t wYear;
  uint16_t wMonth;
  uint16_t wDayOfWeek;  // 0 = Sunday
  uint16_t wDay;
  uint16_t wHour;
  uint16_t wMinute;
  uint16_t wSecond;
  uint16_t wMilliseconds;
};

// A rectangle is empty when right <= left or bottom <= top.
struct RECT {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

// ---- Packed DIB -------------------------------------------------------------
// A packed DIB is one block of global memory (global_memory.h) holding a
// BITMAPINFOHEADER, the colour table and the pixel rows (bottom-up, each row
// padded to 4 bytes). The plug-in takes the header as 40 bytes whatever
// biSize says and does not look at biClrUsed: the colour table has
// 2^biBitCount entries for depths below 16, none otherwise; with
// BI_BITFIELDS three u32 masks follow the header.
struct BITMAPINFOHEADER {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;  // > 0: bottom-up rows
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;  // BI_*
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};

struct RGBQUAD {
  uint8_t rgbBlue;
  uint8_t rgbGreen;
  uint8_t rgbRed;
  uint8_t rgbReserved;
};

// The header followed by its colour table; bmiColors is the first entry of
// a table of any length (the packed DIB's own layout).
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_RLE8 = 1;
constexpr uint32_t BI_RLE4 = 2;
constexpr uint32_t BI_BITFIELDS = 3;

#endif  // _WIN32
#endif  // VELTORA_INTERFACE_HOST_WIN32_H_
