// ExifReader: the object through which the system looks at one image file's
// metadata. Construction scans the file once (JPEG segments or a bare TIFF
// structure, the TIFF header, a summary of IFD0) and records where things lie;
// the directory operations then answer questions from the loaded metadata
// bytes or, when nothing is loaded, by reading the file again.
//
// Lookups report an Outcome (found, absent or unreadable, a bad request
// refused); questions and reads that either work or do not answer a bool.
#ifndef VELTORA_EXIF_EXIF_READER_H_
#define VELTORA_EXIF_EXIF_READER_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "bytes/byte_order.h"
#include "bytes/byte_view.h"
#include "exif/byte_source.h"
#include "exif/directory.h"
#include "exif/outcome.h"
#include "exif/tiff_value.h"
#include "interface/host_types.h"

namespace veltora::exif {

// What the scan saw of a JPEG's segments: file offsets of the last APPn
// markers (0 when none) with their length fields (the two length bytes
// included), the last baseline frame's size and the JFIF densities.
struct JpegScan {
  uint32_t app0Offset = 0;
  uint32_t app1Offset = 0;
  uint16_t app1Length = 0;
  uint32_t firstApp1Offset = 0;  // the first APP1 (the record parser reads that one)
  uint32_t app6Offset = 0;
  uint16_t app6Length = 0;
  uint16_t sofHeight = 0;
  uint16_t sofWidth = 0;
  uint8_t jfifUnits = 0;
  uint16_t jfifXDensity = 0;
  uint16_t jfifYDensity = 0;
};

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
  // (DataSize() of them), from pages when `use_page_allocator` is non-zero,
  // else from the heap; kReadOnDemand, see above. Never fails: the outcome
  // is in Valid().
  ExifReader(const char* path, uint32_t load_data, uint32_t use_page_allocator);
  // The same over bytes in memory that stand for a whole file; they must
  // outlive the reader.
  ExifReader(std::span<const uint8_t> file_bytes, uint32_t load_data,
             uint32_t use_page_allocator);
  // The same through `file`, which the caller opened and keeps open for the
  // reader's life (ByteSource::FromOpenFile); `path` names it. `load_data` 0
  // or 1.
  ExifReader(platform::File* file, const char* path, uint32_t load_data,
             uint32_t use_page_allocator);
  // A temporary would be gone before the reader's later reads.
  ExifReader(std::vector<uint8_t>&&, uint32_t, uint32_t) = delete;
  virtual ~ExifReader();
  ExifReader(const ExifReader&) = delete;
  ExifReader& operator=(const ExifReader&) = delete;

  // --- The scan's record.
  const std::string& Path() const { return source_.path(); }  // empty for a memory source
  std::span<const uint8_t> FileBytes() const { return source_.memory(); }  // empty for a file
  bool Valid() const { return valid_; }               // false: the scan failed
  bytes::ByteOrder Order() const { return byteOrder_; }
  uint32_t TiffHeaderOffset() const { return tiffHeaderOffset_; }  // APP1 + 10 in a JPEG, 0 in a TIFF
  uint32_t Ifd0Offset() const { return ifd0Offset_; }  // relative to the TIFF header
  // Bytes of TIFF data that belong to the metadata, loaded or not.
  uint32_t DataSize() const { return dataSize_; }
  // The loaded TIFF data from the TIFF header on; empty when nothing is loaded.
  std::span<const uint8_t> LoadedData() const { return {data_.get(), dataLoadedSize_}; }
  const JpegScan& Jpeg() const { return jpeg_; }
  const ImageDescription& PrimaryImage() const { return primaryImage_; }      // IFD0
  const ImageDescription& ThumbnailImage() const { return thumbnailImage_; }  // IFD1: ifdOffset only
  const IfdLocation& ExifIfd() const { return exifIfd_; }
  const IfdLocation& GpsIfd() const { return gpsIfd_; }

  // --- Scan results and loading.
  // tiffHeaderOffset + relative, as the system's 32-bit file offset.
  uint32_t FileOffset(uint32_t relative) const;
  // Loads the metadata bytes if they are not loaded yet. Null when there is no
  // EXIF directory, nothing to load, or the load fails. `loaded_size`, when
  // given, is cleared and receives the size only when this call loaded.
  const uint8_t* LoadExifData(uint32_t use_page_allocator, uint32_t* loaded_size);
  void FreeExifData();
  PrintImLocation PrintIm() const { return {printImOffset_, printImLength_}; }

  bool HasExifIfd() const;          // an EXIF directory was found
  bool IsExif() const;              // ... and no APP0 segment of any kind
  bool HasTiffDimensions() const;   // valid, IFD0 width and length non-zero
  bool HasJpegDimensions() const;   // valid, frame width and height non-zero
  bool IsExifTiff() const;          // IsExif, no APP1, TIFF dimensions
  bool IsExifJpeg() const;          // IsExif, an APP1, JPEG dimensions

  // --- Directory access (code: kIfd0, kExifIfd, kGpsIfd, kInteropIfd, kIfd1).
  // The location (offset 0 when absent); false for an unknown code or an
  // unreadable count. Reads and remembers the entry count on first use.
  [[nodiscard]] bool GetIfdHeader(uint32_t code, IfdLocation* location);
  // Done with type, count and value of `entry` filled from the entry with
  // its tag; absent (or unreadable); refused for a null entry or an unknown
  // code.
  Outcome FindEntry(uint32_t code, IfdEntry* entry);
  // Done when entries were placed in `list` (see CollectFromTable for the
  // wanted-set rule), absent when none were; refused as FindEntry, and
  // only then is `list` left as it was.
  Outcome CollectEntries(uint32_t code, std::vector<IfdEntry>* list);
  // Converts the entry's value into the buffer (TIFF value counts); 0 on failure,
  // with the buffer untouched when the capacity is below one item or the value
  // lies outside the bytes available.
  uint32_t GetEntryValue(const IfdEntry* entry, void* buffer, uint32_t capacity);
  // Orientation of IFD0 (which 0) or IFD1 (which 1); 0 when absent or malformed.
  uint16_t GetOrientationTag(uint32_t which);
  // which 0 primary, 1 thumbnail; kind 0 DateTime, 16 DateTimeOriginal,
  // 17 DateTimeDigitized. True only when exactly a 19-character text and its
  // NUL were delivered; `text` receives what was delivered, up to its NUL.
  [[nodiscard]] bool ReadDateText(uint32_t which, uint32_t kind, std::string* text);
  ImageSize GetImageSize() const;
  // JFIF densities over 1 in a JPEG, IFD0 RATIONAL resolutions in a TIFF;
  // false when neither is there to read.
  [[nodiscard]] bool GetResolution(Rational* x_resolution, Rational* y_resolution);
  // The thumbnail's bytes in a new buffer; the result is its size (0: none).
  uint32_t GetThumbnail(std::vector<uint8_t>* thumbnail);

  // --- Composite reads for the query exports.
  // DateTimeOriginal parsed (`date_time` cleared first).
  [[nodiscard]] bool GetCaptureTime(SYSTEMTIME* date_time);
  // ExifVersion, as a little-endian number, at least "0220".
  bool IsExifVersion22();

 protected:
  // Summarises the directory at `*ifd_offset` into `description` and
  // returns through `ifd_offset` the offset of the next directory. Reads from
  // the loaded data where it holds the bytes, else from `file` (may be null).
  // The three collected locations are optional.
  [[nodiscard]] bool ParseImageDirectory(SourceReader* file, uint32_t* ifd_offset,
                          ImageDescription* description, uint32_t* exif_ifd_offset,
                          uint32_t* gps_ifd_offset, PrintImLocation* print_im);
  // The first strip offset of a SHORT or LONG StripOffsets entry `e`.
  void ReadFirstStripOffset(SourceReader* file, const IfdEntry& e, ImageDescription* description);
  // The loaded data as a view in the data's byte order (empty when not loaded).
  bytes::ByteView Data() const;
  // The n bytes at `relative`: from the loaded data when it holds them, else
  // from `file` when given (where it holds them, or read into `scratch`),
  // else nullopt.
  std::optional<bytes::ByteView> Fetch(SourceReader* file, uint64_t relative, uint64_t n,
                                std::vector<uint8_t>* scratch) const;
  // Opens the reader's source for one access.
  bool OpenSource(SourceReader* file) const { return file->Open(source_); }

  ByteSource source_;

 private:
  // True with a non-empty location of the thumbnail inside the TIFF data.
  [[nodiscard]] bool GetThumbnailLocation(uint32_t* offset, uint32_t* length);
  // Copies `length` bytes at `offset` of the loaded data; in a TIFF file the
  // copy is made to start at IFD1. False when nothing is loaded or the range
  // is not inside the data.
  [[nodiscard]] bool CopyThumbnail(uint8_t* destination, uint32_t offset, uint32_t length);
  // Finds the date entry ReadDateText names by `which` and `kind`.
  [[nodiscard]] bool FindDateEntry(uint32_t which, uint32_t kind, IfdEntry* entry);
  // Releases loaded bytes the way they were obtained.
  struct DataRelease {
    uint32_t size;
    bool pages;
    void operator()(uint8_t* bytes) const;
  };
  using LoadedBytes = std::unique_ptr<uint8_t[], DataRelease>;

  void Scan(uint32_t load_data, uint32_t use_page_allocator);
  void WalkJpegSegments(SourceReader& file);
  bool AllocateData(uint32_t size, uint32_t use_page_allocator);
  void ReleaseData();
  // The entry table of a located directory, from wherever it is read.
  std::optional<bytes::ByteView> ReadEntryTable(const IfdLocation& location,
                                         std::vector<uint8_t>* scratch);

  LoadedBytes data_;
  uint32_t dataLoadedSize_ = 0;  // 0 exactly when `data_` is null
  uint32_t dataSize_ = 0;
  JpegScan jpeg_;
  bytes::ByteOrder byteOrder_ = bytes::kLittleEndian;
  uint32_t tiffHeaderOffset_ = 0;
  uint32_t ifd0Offset_ = 0;
  bool valid_ = false;
  ImageDescription primaryImage_;
  ImageDescription thumbnailImage_;
  IfdLocation exifIfd_;
  IfdLocation gpsIfd_;
  uint32_t printImOffset_ = 0;  // absolute file offset of print-matching data
  uint16_t printImLength_ = 0;
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
  std::span<const uint8_t> Bytes() const { return reader_.LoadedData(); }

 private:
  ExifReader& reader_;
  bool loadedHere_;
};

}  // namespace veltora::exif

#endif  // VELTORA_EXIF_EXIF_READER_H_
