// Host-side types that cross the plug-in boundary. Included by veltora.h.
// (Skeleton: the full record declarations are being filled in.)
#ifndef VELTORA_PLUGIN_HOST_TYPES_H_
#define VELTORA_PLUGIN_HOST_TYPES_H_

#include <stdint.h>

typedef struct _cairo cairo_t;
typedef cairo_t* HDC;
typedef void* HGLOBAL;

struct SYSTEMTIME {
  uint16_t wYear;
  uint16_t wMonth;
  uint16_t wDayOfWeek;
  uint16_t wDay;
  uint16_t wHour;
  uint16_t wMinute;
  uint16_t wSecond;
  uint16_t wMilliseconds;
};

struct RECT {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

struct CString;
struct CWordArray;
struct CDWordArray;
struct ImageInfoList;
struct ExifTagSet;
struct GpsTagSet;
struct MakerTagSet;

#endif  // VELTORA_PLUGIN_HOST_TYPES_H_
