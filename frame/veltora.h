// Veltora.pcp: the interface a host program sees.
//
// A host loads the shared library Veltora.pcp (dlopen) and looks the exports
// up by name; on Windows, its own platform, Veltora.pcp is a DLL: LoadLibraryA,
// and GetProcAddress with the exports' plain names. Calls may overlap: any
// number of threads and processes may call at once, since the library keeps
// no module-wide state and every temporary file has a name of its own
// (interface/temp_names.h). Two calls that write the same target at once
// each replace it whole; the last one wins.
//
// A whole file is written beside its target and renamed over it, so that
// the target is always the old file or the new one, even when the process is
// killed. The new file gets the target's permissions (its owner and extended
// attributes too where the system allows). A killed call may leave a
// temporary file beside the target or in the private temp directory; the
// next write there removes it.
//
// Every export but Decode returns a 32-bit result code (HRESULT); on 32-bit
// Windows every export is __stdcall (VELTORA_CALL, below).
// Strings are narrow, NUL-terminated. Paths are byte strings: on Windows in
// the ANSI code page, '\\' or '/' separating folders, a drive letter allowed,
// at most 259 characters (MAX_PATH); on Linux '/'-separated.
// Host objects (strings, arrays, records, packed DIBs) belong to the host;
// the library only empties and fills them. A DIB returned by Decode belongs
// to the host, which frees it with GlobalFree. The types and the inline
// helpers that create, fill, empty and destroy them are in
// interface/host_types.h, the result codes in interface/result_codes.h.
//
// The host's side of the memory contract: what a host object owns (text,
// array elements, list nodes, blobs) is allocated and freed with the C
// runtime's malloc, realloc and free by the inline helpers, compiled into
// both sides. On Windows the DLL uses the system's C runtime, msvcrt.dll, so
// a host must be built against that same runtime (as mingw-w64 builds are by
// default) for the two sides to share one heap; a host on another runtime
// must not let either side free what the other allocated. Packed DIBs are
// system global memory (GlobalAlloc), shared whatever the runtime.
//
// Records that cross this boundary have fixed offsets under the 32-bit model
// (pointers 4 bytes); under x86-64 the same declarations give the natural
// 64-bit layout.
#ifndef VELTORA_FRAME_VELTORA_H_
#define VELTORA_FRAME_VELTORA_H_

#include <stdint.h>

#include "interface/host_types.h"
#include "interface/result_codes.h"

// Calling convention: every export is a C function (plain name, no C++
// mangling). The 32-bit DLL uses the Windows API convention, __stdcall (the
// callee removes its arguments, as a 32-bit Windows image plug-in's exports
// do; WINAPI in a host's own declarations); the module-definition file
// plugin/Veltora.def exports each under its plain name rather than the
// compiler's "_Name@<bytes>". 64-bit Windows and Linux have a single
// convention. Elsewhere the names are exported through plugin/exports.map.
#if defined(_WIN32)
#define VELTORA_API extern "C"
#define VELTORA_CALL __stdcall
#elif defined(VELTORA_BUILDING_PLUGIN)
#define VELTORA_API extern "C" __attribute__((visibility("default")))
#define VELTORA_CALL
#else
#define VELTORA_API extern "C"
#define VELTORA_CALL
#endif

constexpr uint32_t PLUGIN_VERSION = 0x00010000u;

// ---- Image formats (also the format bits of Encode's flag word) ---------
constexpr int32_t IMAGE_FORMAT_UNKNOWN = -1;
constexpr int32_t IMAGE_FORMAT_JPEG = 1;
constexpr int32_t IMAGE_FORMAT_BMP = 2;
constexpr int32_t IMAGE_FORMAT_PNG = 4;
constexpr int32_t IMAGE_FORMAT_TIFF = 8;
constexpr int32_t IMAGE_FORMAT_GIF = 0x100;

// ---- Encode flag word ------------------------------------------------------
constexpr uint32_t ENCODE_JPEG = 0x00000001u;
constexpr uint32_t ENCODE_BMP = 0x00000002u;
constexpr uint32_t ENCODE_PNG = 0x00000004u;
constexpr uint32_t ENCODE_TIFF = 0x00000008u;
constexpr uint32_t ENCODE_EXIF = 0x00000010u;
constexpr uint32_t ENCODE_JPEG_MODE1 = 0x00000020u;
constexpr uint32_t ENCODE_JPEG_MODE2 = 0x00000040u;
constexpr uint32_t ENCODE_GIF = 0x00000100u;
constexpr uint32_t ENCODE_BY_EXTENSION = 0x00008000u;
constexpr uint32_t ENCODE_EXIF_RECORDS = 0x00010000u;
constexpr uint32_t ENCODE_NEW_EXIF_FILE = 0x00100000u;
// With ENCODE_NEW_EXIF_FILE: the host data is an EncodeExifData (text record
// and GpsTagSet) instead of a bare ImageTextInfo.
constexpr uint32_t ENCODE_NEW_EXIF_GPS = 0x00200000u;

// ---- Decode modes --------------------------------------------------------------
constexpr int32_t DECODE_PICTURE = 0;
constexpr int32_t DECODE_PREVIEW = 1;  // the preview embedded in the file

// ---- Directory codes of GetExifValue ---------------------------------------------
constexpr uint32_t EXIF_DIR_IFD0 = 1;
constexpr uint32_t EXIF_DIR_EXIF = 2;
constexpr uint32_t EXIF_DIR_GPS = 3;
constexpr uint32_t EXIF_DIR_INTEROP = 4;
constexpr uint32_t EXIF_DIR_IFD1 = 257;

// ---- ImageInfoList record types; also GetStillImageInfo's request bits ---------
constexpr uint32_t INFO_IMAGE = 0x00000001u;       // ImageSummary of the picture
constexpr uint32_t INFO_THUMBNAIL = 0x00000002u;   // ImageSummary of the embedded preview
constexpr uint32_t INFO_TIFF_MAIN = 0x00010000u;   // TiffInfo of IFD0
constexpr uint32_t INFO_TIFF_THUMB = 0x00020000u;  // TiffInfo of IFD1
constexpr uint32_t INFO_EXIF = 0x00040000u;        // ExifInfo
constexpr uint32_t INFO_GPS = 0x00080000u;         // GpsInfo
// A request must hold at least one bit of this mask. It also holds 0x4 and
// 0x8, which name no record: a request of only those is accepted and yields
// nothing.
constexpr uint32_t INFO_REQUEST_MASK = 0x000F000Fu;
// The records read from the file's EXIF data.
constexpr uint32_t INFO_EXIF_RECORDS = INFO_TIFF_MAIN | INFO_TIFF_THUMB | INFO_EXIF | INFO_GPS;

// ---- Exports -------------------------------------------------------------
// Above each export, the file that defines it (scripts/check_layers.sh
// keeps the list true).

// Plug-in frame.
// plugin/frame_exports.cpp
VELTORA_API HRESULT VELTORA_CALL GetPluginVersion(uint32_t* version);
// plugin/frame_exports.cpp
VELTORA_API HRESULT VELTORA_CALL GetNumOfSupportedExtentions(uint32_t* count);
// plugin/frame_exports.cpp
VELTORA_API HRESULT VELTORA_CALL GetSupportedExtention(int32_t index, char* buffer);
// plugin/frame_exports.cpp
VELTORA_API HRESULT VELTORA_CALL IsSupported(const char* path, uint32_t* supported);

// EXIF queries.
// query/presence_exports.cpp
VELTORA_API HRESULT VELTORA_CALL IsExifFile(const char* path, uint32_t* is_exif);
// query/presence_exports.cpp
VELTORA_API HRESULT VELTORA_CALL IsExifEx(const char* path, uint32_t* is_exif,
                                          uint32_t* has_print_matching,
                                          uint32_t* is_exif_version22);
// query/presence_exports.cpp
VELTORA_API HRESULT VELTORA_CALL GetOrientation(const char* path, uint32_t* primary_orientation,
                                                uint32_t* thumbnail_orientation,
                                                int32_t allow_tiff);
// query/presence_exports.cpp
VELTORA_API HRESULT VELTORA_CALL GetDateTimeOriginal(const char* path, SYSTEMTIME* date_time);
// query/single_tag_exports.cpp
VELTORA_API HRESULT VELTORA_CALL GetExifValue(const char* path, uint32_t directory, uint16_t tag,
                                              void* buffer, uint32_t* buffer_size, uint16_t* type,
                                              uint32_t* count);
// query/single_tag_exports.cpp
VELTORA_API HRESULT VELTORA_CALL GetExifMakerValue(const char* path, const char* maker_signature,
                                                   uint16_t tag, void* buffer,
                                                   uint32_t* buffer_size, uint16_t* type,
                                                   uint32_t* count);
// query/single_tag_exports.cpp
VELTORA_API HRESULT VELTORA_CALL GetMakerNoteValue(const char* path, CString* maker_signature,
                                                   CWordArray* tags, CDWordArray* values);
// query/bulk_exif.cpp
VELTORA_API HRESULT VELTORA_CALL GetExif(const char* path, ExifTagSet* exif, GpsTagSet* gps,
                                         MakerTagSet* maker);

// EXIF editing.
// edit/orientation_edit.cpp
VELTORA_API HRESULT VELTORA_CALL SetOrientation(const char* output_path, const char* input_path,
                                                int32_t orientation, int32_t allow_rebuild);
// edit/orientation_edit.cpp
VELTORA_API HRESULT VELTORA_CALL SetDateTimeOriginal(const char* path, SYSTEMTIME date_time);
// edit/gps_replace.cpp
VELTORA_API HRESULT VELTORA_CALL ReplaceExifGps(const char* output_path, const char* input_path,
                                                int32_t quality, GpsTagSet* gps);
// plugin/image_replacement.cpp
VELTORA_API HRESULT VELTORA_CALL ReplaceExifImage(const char* output_path, const char* input_path,
                                                  HGLOBAL dib, int32_t quality);
// plugin/image_replacement.cpp
VELTORA_API HRESULT VELTORA_CALL ReplaceThumbImage(const char* output_path, const char* input_path,
                                                   HGLOBAL dib, int32_t quality);
// create/append_exif.cpp
VELTORA_API HRESULT VELTORA_CALL AppendExif(const char* target_path, const char* source_path,
                                            ImageInfoList* records, int32_t require_exif);

// Pictures.
// plugin/picture_exports.cpp
VELTORA_API HGLOBAL VELTORA_CALL Decode(const char* path, int32_t mode);
// plugin/picture_exports.cpp
VELTORA_API HRESULT VELTORA_CALL Encode(HGLOBAL dib, const char* path, uint32_t flags,
                                        int32_t quality, void* host_data);
// imaging/draw_exports.cpp
VELTORA_API HRESULT VELTORA_CALL Draw(HDC dc, HGLOBAL dib, int32_t left, int32_t top, int32_t right,
                                      int32_t bottom);
// imaging/draw_exports.cpp
VELTORA_API HRESULT VELTORA_CALL DrawImage(const char* path, HDC dc, int32_t left, int32_t top,
                                           int32_t right, int32_t bottom, int32_t angle,
                                           int32_t crop_left, int32_t crop_top, int32_t crop_right,
                                           int32_t crop_bottom, int32_t whiten,
                                           int32_t whiten_percent);

// Description. `out` points to a StillImageInfoOut (host_records.h says how
// to tell one record from a list); the records become the host's, released
// with ImageInfoRecordDelete.
// plugin/still_image_info.cpp
VELTORA_API HRESULT VELTORA_CALL GetStillImageInfo(const char* path, void* out, uint32_t flags);

#endif  // VELTORA_FRAME_VELTORA_H_
