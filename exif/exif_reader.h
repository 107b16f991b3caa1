// ExifReader: the object through which the system looks at one image file's
// metadata. Construction scans the file once (JPEG segments or a bare TIFF
// structure, the TIFF header, a summary of IFD0) and records where things lie;
// the directory operations then answer questions from the loaded metadata
// bytes or, when nothing is loaded, by reading the file again.
//
// Results follow the engine's convention: 1 (or a count) for success and yes,
// 0 for failure, absent or unreadable, -1 for a bad request.
#ifndef VELTORA_EXIF_EXIF_READER_H_
#define VELTORA_EXIF_EXIF_READER_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "bytes/byte_order.h"
#include "bytes/byte_view.h"
#include "exif/byte_source.h"
#include "exif/directory.h"
#include "exif/tiff_value.h"
#include "interface/host_types.h"

namespace veltora::exif {

class ExifReader {
 public:
  // A date text is 20 bytes; a value larger than one APP1 segment cannot be
  // one, so it is not fetched at all (the lookup fails either way).
  static constexpr uint32_t kMaxDateValueSize = 0x10000;

  // `load_data` for a reader that answers a few questions: the file stays
  // open for the reader's life and each operation reads only the bytes it
  // needs, within the bounds loaded data would have (nothing is loaded).
  static constexpr uint32_t kReadOnDemand = 2;

  // Scans the file at `path`. `load_data` 1 also reads the metadata bytes
  // (dataSize of them) into `data`, from pages when `use_page_allocator` is
  // non-zero, else from the heap; kReadOnDemand, see above. Never fails: the
  // outcome is in `valid`.
  ExifReader(const char* path, uint32_t load_data, uint32_t use_page_allocator);
  // The same over bytes in memory that stand for a whole file; they must
  // outlive the reader.
  ExifReader(std::span<const uint8_t> file_bytes, uint32_t load_data,
             uint32_t use_page_allocator);
  // A temporary would be gone before the reader's later reads.
  ExifReader(std::vector<uint8_t>&&, uint32_t, uint32_t) = delete;
  virtual ~ExifReader();
  ExifReader(const ExifReader&) = delete;
  ExifReader& operator=(const ExifReader&) = delete;

  // --- The scan's record. Read freely; only the reader's operations change it.
  std::string path;                  // empty for a memory source
  uint8_t* data = nullptr;           // loaded TIFF data from the TIFF header on; owned
  uint32_t dataLoadedSize = 0;       // bytes in `data`; 0 exactly when `data` is null
  uint32_t usePageAllocator = 0;     // how `data` was obtained and is released
  uint32_t dataSize = 0;             // bytes of TIFF data that belong to the metadata
  uint32_t app0Offset = 0;           // file offsets of the last APPn markers, 0 when none
  uint16_t app0Length = 0;           // their length fields (including the two length bytes)
  uint32_t app1Offset = 0;
  uint16_t app1Length = 0;
  uint32_t firstApp1Offset = 0;      // the first APP1 (the record parser reads that one)
  uint32_t app2Offset = 0;
  uint16_t app2Length = 0;
  uint32_t app6Offset = 0;
  uint16_t app6Length = 0;
  uint8_t sofPrecision = 0;          // from the last baseline start-of-frame
  uint16_t sofHeight = 0;
  uint16_t sofWidth = 0;
  uint8_t sofComponents = 0;
  char app0Identifier[5] = {};       // first four payload bytes of the last APP0, NUL
  uint8_t jfifMajorVersion = 0;
  uint8_t jfifMinorVersion = 0;
  uint8_t jfifUnits = 0;
  uint16_t jfifXDensity = 0;
  uint16_t jfifYDensity = 0;
  ByteOrder byteOrder = kLittleEndian;
  uint32_t tiffHeaderOffset = 0;     // APP1 offset + 10 in a JPEG, 0 in a TIFF file
  uint32_t ifd0Offset = 0;           // relative to the TIFF header
  uint32_t valid = 0;                // 1 usable, 0 the scan failed
  ImageDescription primaryImage;     // summary of IFD0
  ImageDescription thumbnailImage;   // IFD1: only ifdOffset after the scan
  IfdLocation exifIfd;
  IfdLocation gpsIfd;
  IfdLocation interopIfd;            // never located: always absent
  uint32_t printImOffset = 0;        // absolute file offset of print-matching data
  uint16_t printImLength = 0;

  // --- Scan results and loading.
  // tiffHeaderOffset + relative, as the system's 32-bit file offset.
  uint32_t FileOffset(uint32_t relative) const;
  // Loads the metadata bytes if they are not loaded yet. Null when there is no
  // EXIF directory, nothing to load, or the load fails. `loaded_size`, when
  // given, is cleared and receives the size only when this call loaded.
  const uint8_t* LoadExifData(uint32_t use_page_allocator, uint32_t* loaded_size);
  // Releases the loaded bytes; always 1.
  int FreeExifData();
  int GetPrintImLocation(PrintImLocation* location) const;

  int HasExifIfd() const;          // an EXIF directory was found
  int IsExif() const;              // ... and no APP0 segment of any kind
  int HasTiffDimensions() const;   // valid, IFD0 width and length non-zero
  int HasJpegDimensions() const;   // valid, frame width and height non-zero
  int IsExifTiff() const;          // IsExif, no APP1, TIFF dimensions
  int IsExifJpeg() const;          // IsExif, an APP1, JPEG dimensions

  // --- Directory access (code: kIfd0, kExifIfd, kGpsIfd, kInteropIfd, kIfd1).
  // 1 with the location (offset 0 when absent), 0 for an unknown code or an
  // unreadable count. Reads and remembers the entry count on first use.
  int GetIfdHeader(uint32_t code, IfdLocation* location);
  // -1 (null entry or unknown code), 0 (absent or unreadable), 1 (found:
  // type, count and value of `entry` filled from the entry with its tag).
  int FindEntry(uint32_t code, IfdEntry* entry);
  // -1 as FindEntry, else the number of entries placed in `list` (see
  // CollectFromTable for the wanted-set rule). `list` is emptied unless -1.
  int CollectEntries(uint32_t code, std::vector<IfdEntry>* list);
  // Converts the entry's value into the buffer (TIFF value counts); 0 on failure,
  // with the buffer untouched when the capacity is below one item or the value
  // lies outside the bytes available.
  uint32_t GetEntryValue(const IfdEntry* entry, void* buffer, uint32_t capacity);
  // Orientation of IFD0 (which 0) or IFD1 (which 1); 0 when absent or malformed.
  uint16_t GetOrientationTag(uint32_t which);
  // which 0 primary, 1 thumbnail; kind 0 DateTime, 16 DateTimeOriginal,
  // 17 DateTimeDigitized. 1 only when exactly a 19-character text and its NUL
  // were delivered; `text` receives what was delivered, up to its NUL.
  int ReadDateText(uint32_t which, uint32_t kind, std::string* text);
  ImageSize GetImageSize() const;
  // JFIF densities over 1 in a JPEG, IFD0 RATIONAL resolutions in a TIFF.
  int GetResolution(Rational* x_resolution, Rational* y_resolution);
  // 1 with a non-empty location of the thumbnail inside the TIFF data.
  int GetThumbnailLocation(uint32_t* offset, uint32_t* length);
  // Copies `length` bytes at `offset` of the loaded data; in a TIFF file the
  // copy is made to start at IFD1. 0 when nothing is loaded or the range is
  // not inside the data.
  int CopyThumbnail(uint8_t* destination, uint32_t offset, uint32_t length);
  // The thumbnail's bytes in a new buffer; the result is its size (0: none).
  uint32_t GetThumbnail(std::vector<uint8_t>* thumbnail);

  // --- Composite reads for the query exports.
  // DateTimeOriginal parsed; 1 or 0 (`date_time` cleared first).
  int GetCaptureTime(SYSTEMTIME* date_time);
  // ExifVersion, as a little-endian number, at least "0220".
  int IsExifVersion22();

 protected:
  // Summarises the directory at `*ifd_offset` into `description` and
  // returns through `ifd_offset` the offset of the next directory. Reads from
  // the loaded data where it holds the bytes, else from `file` (may be null).
  // The three collected locations are optional.
  int ParseImageDirectory(SourceReader* file, uint32_t* ifd_offset,
                          ImageDescription* description, uint32_t* exif_ifd_offset,
                          uint32_t* gps_ifd_offset, PrintImLocation* print_im);
  // The loaded data as a view in the data's byte order (empty when not loaded).
  ByteView Data() const;
  // The n bytes at `relative`: from the loaded data when it holds them, else
  // from `file` when given (into `scratch`), else nullopt.
  std::optional<ByteView> Fetch(SourceReader* file, uint64_t relative, uint64_t n,
                                std::vector<uint8_t>* scratch) const;
  // Opens the reader's source for one access.
  bool OpenSource(SourceReader* file) const { return file->Open(source_); }

  ByteSource source_;

 private:
  void Scan(uint32_t load_data, uint32_t use_page_allocator);
  void WalkJpegSegments(SourceReader& file, uint64_t length);
  bool AllocateData(uint32_t size, uint32_t use_page_allocator);
  void ReleaseData();
  // The entry table of a located directory, from wherever it is read.
  std::optional<ByteView> ReadEntryTable(const IfdLocation& location,
                                         std::vector<uint8_t>* scratch);
};

// Loads a reader's metadata bytes for one scope when they are not loaded
// yet, and releases them at the scope's end only when it loaded them.
class ScopedExifData {
 public:
  explicit ScopedExifData(ExifReader& reader);
  ~ScopedExifData();
  ScopedExifData(const ScopedExifData&) = delete;
  ScopedExifData& operator=(const ScopedExifData&) = delete;
  // The loaded bytes; empty when there are none or the load failed.
  std::span<const uint8_t> Bytes() const { return {reader_.data, reader_.dataLoadedSize}; }

 private:
  ExifReader& reader_;
  bool loadedHere_;
};

}  // namespace veltora::exif

#endif  // VELTORA_EXIF_EXIF_READER_H_
