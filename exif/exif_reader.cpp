#include "exif/exif_reader.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "exif/jpeg_segments.h"
#include "platform/page_memory.h"

namespace veltora::exif {
namespace {

constexpr uint16_t kMarkerSof0 = 0xFFC0;
constexpr uint16_t kMarkerApp2 = 0xFFE2;
constexpr uint16_t kMarkerApp6 = 0xFFE6;
// An APP1 shorter than this cannot hold the identifier and a TIFF header.
constexpr uint16_t kMinExifApp1Length = 16;
constexpr uint32_t kTiffMagic = 42;
constexpr uint32_t kMaxOffset = std::numeric_limits<uint32_t>::max();

uint32_t ClampToU32(uint64_t v) { return static_cast<uint32_t>(std::min<uint64_t>(v, kMaxOffset)); }

}  // namespace

ExifReader::ExifReader(const char* path_arg, uint32_t load_data, uint32_t use_page_allocator)
    : source_(ByteSource::FromPath(path_arg, load_data == kReadOnDemand)) {
  if (path_arg != nullptr) path = path_arg;
  if (load_data != kReadOnDemand) {
    Scan(load_data, use_page_allocator);
    return;
  }
  Scan(0, use_page_allocator);
  // Nothing loaded from empty metadata leaves reads unbounded, as Scan does.
  if (dataSize != 0) source_.LimitTo(uint64_t{tiffHeaderOffset} + dataSize);
}

ExifReader::ExifReader(std::span<const uint8_t> file_bytes, uint32_t load_data,
                       uint32_t use_page_allocator)
    : source_(ByteSource::FromMemory(file_bytes)) {
  Scan(load_data, use_page_allocator);
}

ExifReader::~ExifReader() { ReleaseData(); }

bool ExifReader::AllocateData(uint32_t size, uint32_t use_page_allocator) {
  usePageAllocator = use_page_allocator;
  data = use_page_allocator != 0 ? static_cast<uint8_t*>(platform::PageAlloc(size))
                                 : new (std::nothrow) uint8_t[size];
  return data != nullptr;
}

void ExifReader::ReleaseData() {
  if (data != nullptr) {
    if (usePageAllocator != 0) {
      platform::PageFree(data, dataLoadedSize);
    } else {
      delete[] data;
    }
  }
  data = nullptr;
  dataLoadedSize = 0;
}

ByteView ExifReader::Data() const {
  if (data == nullptr) return ByteView({}, byteOrder);
  return ByteView(data, dataLoadedSize, byteOrder);
}

uint32_t ExifReader::FileOffset(uint32_t relative) const { return tiffHeaderOffset + relative; }

std::optional<ByteView> ExifReader::Fetch(SourceReader* file, uint64_t relative, uint64_t n,
                                          std::vector<uint8_t>* scratch) const {
  if (data != nullptr) {
    if (auto v = Data().Sub(relative, n)) return v;
  }
  if (file == nullptr || !file->is_open()) return std::nullopt;
  const uint64_t at = uint64_t{tiffHeaderOffset} + relative;
  // Checked against the file before any allocation: a count from the file
  // must not decide how much memory we take.
  if (at > file->size() || n > file->size() - at) return std::nullopt;
  scratch->resize(static_cast<size_t>(n));
  if (!file->ReadExact(at, scratch->data(), scratch->size())) return std::nullopt;
  return ByteView(*scratch, byteOrder);
}

void ExifReader::Scan(uint32_t load_data, uint32_t use_page_allocator) {
  valid = 1;
  SourceReader file;
  uint8_t header[8];
  if (!OpenSource(&file) || file.size() < 8 || !file.ReadExact(0, header, 8)) {
    valid = 0;
    return;
  }
  const uint64_t length = file.size();
  uint64_t tiff_at = 0;
  if (Read16(header, kBigEndian) == kJpegSoi) {
    WalkJpegSegments(file, length);
    if (app1Offset == 0 || app1Length < kMinExifApp1Length) return;  // a JPEG without EXIF
    uint8_t identifier[6];
    if (!file.ReadExact(uint64_t{app1Offset} + 4, identifier, 6) ||
        std::memcmp(identifier, "Exif\0", 5) != 0) {
      valid = 0;
      return;
    }
    tiff_at = uint64_t{app1Offset} + 10;
    if (!file.ReadExact(tiff_at, header, 8)) {
      valid = 0;
      return;
    }
  }
  const uint16_t mark = Read16(header, kBigEndian);
  if (mark != 0x4949 && mark != 0x4D4D) {
    valid = 0;
    return;
  }
  byteOrder = mark == 0x4949 ? kLittleEndian : kBigEndian;
  if (Read16(header + 2, byteOrder) == kTiffMagic) {
    tiffHeaderOffset = static_cast<uint32_t>(tiff_at);
    ifd0Offset = Read32(header + 4, byteOrder);
  }
  if (ifd0Offset > 0) {
    uint32_t next = ifd0Offset;
    uint32_t exif = 0;
    uint32_t gps = 0;
    PrintImLocation print{printImOffset, printImLength};
    if (!ParseImageDirectory(&file, &next, &primaryImage, &exif, &gps, &print)) {
      valid = 0;
      return;
    }
    exifIfd.offset = exif;
    gpsIfd.offset = gps;
    printImOffset = print.offset;
    printImLength = print.length;
    thumbnailImage.ifdOffset = next;
    dataSize = primaryImage.firstStripOffset;
    // Metadata that lies behind the first strip: the strips are not known to
    // end anywhere in particular, so the whole file is taken.
    if (exif > dataSize || gps > dataSize || printImOffset > dataSize) {
      dataSize = ClampToU32(length);
    }
  }
  if (app1Length > 0) dataSize = static_cast<uint32_t>(app1Length - 8u);
  if (dataSize > length - tiffHeaderOffset) dataSize = ClampToU32(length - tiffHeaderOffset);

  // Nothing to load keeps `data` null rather than holding an empty block, so
  // that `data` is null exactly when nothing is loaded.
  if (load_data == 0 || dataSize == 0) return;
  if (!AllocateData(dataSize, use_page_allocator)) {
    valid = 0;
    return;
  }
  dataLoadedSize = dataSize;
  if (!file.ReadExact(tiffHeaderOffset, data, dataLoadedSize)) {
    ReleaseData();
    valid = 0;
  }
}

void ExifReader::WalkJpegSegments(SourceReader& file, uint64_t length) {
  const auto read_at = [&file](uint64_t offset, std::span<uint8_t> out) {
    return file.ReadAt(offset, out.data(), out.size());
  };
  JpegSegmentWalker walk(2, SoiRule::kSized);
  while (const auto segment = walk.Next(read_at)) {
    const uint64_t pos = segment->position;
    // The records hold 32-bit offsets; a segment that starts two bytes or
    // less before the end of the file is not looked at.
    if (pos > kMaxOffset || pos + 2 >= length) break;
    // A segment header cut off by the end of the file still records a length:
    // whatever is left behind the marker.
    const uint16_t app_length =
        segment->cut ? static_cast<uint16_t>(length - pos - 2) : segment->length;
    const auto at = static_cast<uint32_t>(pos);
    switch (segment->marker) {
      case kMarkerSof0: {
        uint8_t frame[6];
        if (file.ReadExact(pos + 4, frame, 6)) {
          sofPrecision = frame[0];
          sofHeight = Read16(frame + 1, kBigEndian);
          sofWidth = Read16(frame + 3, kBigEndian);
          sofComponents = frame[5];
        }
        break;
      }
      case kJpegApp0: {
        app0Offset = at;
        app0Length = app_length;
        uint8_t jfif[12];
        if (file.ReadExact(pos + 4, jfif, 12)) {
          std::memcpy(app0Identifier, jfif, 4);
          app0Identifier[4] = 0;
          if (std::memcmp(app0Identifier, "JFIF", 5) == 0) {
            jfifMajorVersion = jfif[5];
            jfifMinorVersion = jfif[6];
            jfifUnits = jfif[7];
            jfifXDensity = Read16(jfif + 8, kBigEndian);
            jfifYDensity = Read16(jfif + 10, kBigEndian);
          }
        }
        break;
      }
      case kJpegApp1:
        if (firstApp1Offset == 0) firstApp1Offset = at;
        app1Offset = at;
        app1Length = app_length;
        break;
      case kMarkerApp2:
        app2Offset = at;
        app2Length = app_length;
        break;
      case kMarkerApp6: {
        app6Offset = at;
        app6Length = app_length;
        uint8_t id[8];
        if (file.ReadExact(uint64_t{app6Offset} + 4, id, 8)) {
          id[7] = 0;
          if (std::memcmp(id, "PrintIM", 8) == 0) {
            printImOffset = app6Offset + 4;
            printImLength = static_cast<uint16_t>(app6Length - 2);
          }
        }
        break;
      }
    }
  }
}

int ExifReader::ParseImageDirectory(SourceReader* file, uint32_t* ifd_offset,
                                    ImageDescription* description, uint32_t* exif_ifd_offset,
                                    uint32_t* gps_ifd_offset, PrintImLocation* print_im) {
  if ((file != nullptr && !file->is_open()) || ifd_offset == nullptr || *ifd_offset < 8 ||
      description == nullptr) {
    return 0;
  }
  const uint32_t offset = *ifd_offset;
  std::vector<uint8_t> scratch;
  const auto count_bytes = Fetch(file, offset, 2, &scratch);
  if (!count_bytes) return 0;
  const uint16_t count = *count_bytes->U16(0);
  description->ifdOffset = offset;
  description->entryCount = count;
  if (count == 0) return 1;

  // Kept 16-bit like the table size: a wrapped span just examines fewer entries.
  const auto span = static_cast<uint16_t>(uint32_t{count} * kEntrySize + 6);
  const auto ifd = Fetch(file, offset, span, &scratch);
  if (!ifd) return 0;
  uint32_t examined = 0;
  for (int64_t p = 2; p + kEntrySize <= int64_t{span} - 4; p += kEntrySize, ++examined) {
    IfdEntry e;
    DecodeEntry(ifd->data() + p, byteOrder, &e);
    const bool short_or_long = e.type == kTypeShort || e.type == kTypeLong;
    switch (e.tag) {
      case kTagImageWidth:
        if (short_or_long) description->width = e.value;
        break;
      case kTagImageLength:
        if (short_or_long) description->length = e.value;
        break;
      case kTagRowsPerStrip:
        if (short_or_long) description->rowsPerStrip = e.value;
        break;
      case kTagSamplesPerPixel:
        if (e.type == kTypeShort) description->samplesPerPixel = e.value;
        break;
      case kTagPlanarConfiguration:
        if (e.type == kTypeShort) description->planarConfiguration = e.value;
        break;
      case kTagStripOffsets:
        if (!short_or_long) break;
        if (EntryValueSize(&e) <= 4) {
          // Two SHORT strips held inline come as one value, the first strip
          // in its high half: the first strip offset is that half.
          description->firstStripOffset =
              e.type == kTypeShort && e.count == 2 ? e.value >> 16 : e.value;
        } else {
          std::vector<uint8_t> element_scratch;
          if (const auto first = Fetch(file, e.value, TypeSize(e.type), &element_scratch)) {
            description->firstStripOffset =
                e.type == kTypeShort ? uint32_t{*first->U16(0)} : *first->U32(0);
          }
        }
        break;
      case kTagExifIfdPointer:
        if (e.type == kTypeLong && e.count == 1 && exif_ifd_offset) *exif_ifd_offset = e.value;
        break;
      case kTagGpsIfdPointer:
        if (e.type == kTypeLong && e.count == 1 && gps_ifd_offset) *gps_ifd_offset = e.value;
        break;
      case kTagPrintIm:
        if (e.type == kTypeUndefined && print_im != nullptr) {
          print_im->offset = FileOffset(e.value);
          print_im->length = static_cast<uint16_t>(e.count);
        }
        break;
      default:
        break;
    }
  }
  if (description->planarConfiguration == 0) description->planarConfiguration = 1;
  if (description->rowsPerStrip != 0) {
    const uint64_t rows = description->rowsPerStrip;
    description->stripsPerImage = static_cast<uint32_t>((description->length + rows - 1) / rows);
  }
  // A span cut short by the 16-bit rule may leave no room for the link:
  // then there is no next directory.
  *ifd_offset = ifd->U32(2 + uint64_t{kEntrySize} * examined).value_or(0);
  return 1;
}

const uint8_t* ExifReader::LoadExifData(uint32_t use_page_allocator, uint32_t* loaded_size) {
  if (loaded_size != nullptr) *loaded_size = 0;
  if (!HasExifIfd()) return nullptr;
  if (data != nullptr) return data;
  if (dataSize == 0 || !AllocateData(dataSize, use_page_allocator)) return nullptr;
  dataLoadedSize = dataSize;
  SourceReader file;
  if (!OpenSource(&file) || !file.ReadExact(tiffHeaderOffset, data, dataLoadedSize)) {
    ReleaseData();
    return nullptr;
  }
  if (loaded_size != nullptr) *loaded_size = dataLoadedSize;
  return data;
}

int ExifReader::FreeExifData() {
  ReleaseData();
  return 1;
}

ScopedExifData::ScopedExifData(ExifReader& reader)
    : reader_(reader), loadedHere_(reader.data == nullptr) {
  if (loadedHere_) reader_.LoadExifData(0, nullptr);
}

ScopedExifData::~ScopedExifData() {
  if (loadedHere_) reader_.FreeExifData();
}

int ExifReader::GetPrintImLocation(PrintImLocation* location) const {
  if (location == nullptr) return 0;
  location->offset = printImOffset;
  location->length = printImLength;
  return 1;
}

int ExifReader::HasExifIfd() const { return exifIfd.offset > 0 ? 1 : 0; }
int ExifReader::IsExif() const { return HasExifIfd() && app0Offset == 0 ? 1 : 0; }
int ExifReader::HasTiffDimensions() const {
  return valid && primaryImage.width != 0 && primaryImage.length != 0 ? 1 : 0;
}
int ExifReader::HasJpegDimensions() const {
  return valid && sofWidth != 0 && sofHeight != 0 ? 1 : 0;
}
int ExifReader::IsExifTiff() const {
  return IsExif() && app1Length == 0 && HasTiffDimensions() ? 1 : 0;
}
int ExifReader::IsExifJpeg() const {
  return IsExif() && app1Length > 0 && HasJpegDimensions() ? 1 : 0;
}

}  // namespace veltora::exif
