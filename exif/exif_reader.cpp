#include "exif/exif_reader.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "exif/jpeg_segments.h"
#include "platform/hot_path.h"
#include "platform/page_memory.h"

namespace veltora::exif {
namespace {

constexpr uint16_t kMarkerSof0 = 0xFFC0;
constexpr uint16_t kMarkerApp6 = 0xFFE6;
// An APP1 shorter than this cannot hold the identifier and a TIFF header.
constexpr uint16_t kMinExifApp1Length = 16;
constexpr uint32_t kTiffMagic = 42;
constexpr uint32_t kMaxOffset = std::numeric_limits<uint32_t>::max();

uint32_t ClampToU32(uint64_t v) { return static_cast<uint32_t>(std::min<uint64_t>(v, kMaxOffset)); }

}  // namespace

VELTORA_HOT ExifReader::ExifReader(const char* path_arg, uint32_t load_data,
                                   uint32_t use_page_allocator)
    : source_(ByteSource::FromPath(path_arg, load_data == kReadOnDemand)) {
  if (load_data != kReadOnDemand) {
    Scan(load_data, use_page_allocator);
    return;
  }
  Scan(0, use_page_allocator);
  // Nothing loaded from empty metadata leaves reads unbounded, as Scan does.
  if (dataSize_ != 0) source_.LimitTo(uint64_t{tiffHeaderOffset_} + dataSize_);
}

ExifReader::ExifReader(std::span<const uint8_t> file_bytes, uint32_t load_data,
                       uint32_t use_page_allocator)
    : source_(ByteSource::FromMemory(file_bytes)) {
  Scan(load_data, use_page_allocator);
}

ExifReader::ExifReader(platform::File* file, const char* path, uint32_t load_data,
                       uint32_t use_page_allocator)
    : source_(ByteSource::FromOpenFile(file, path)) {
  Scan(load_data, use_page_allocator);
}

VELTORA_HOT ExifReader::~ExifReader() = default;

void ExifReader::DataRelease::operator()(uint8_t* bytes) const {
  if (pages) {
    platform::PageFree(bytes, size);
  } else {
    delete[] bytes;
  }
}

bool ExifReader::AllocateData(uint32_t size, uint32_t use_page_allocator) {
  uint8_t* bytes = use_page_allocator != 0 ? static_cast<uint8_t*>(platform::PageAlloc(size))
                                           : new (std::nothrow) uint8_t[size];
  data_ = LoadedBytes(bytes, DataRelease{size, use_page_allocator != 0});
  dataLoadedSize_ = bytes != nullptr ? size : 0;
  return bytes != nullptr;
}

void ExifReader::ReleaseData() {
  data_.reset();
  dataLoadedSize_ = 0;
}

bytes::ByteView ExifReader::Data() const {
  if (data_ == nullptr) return bytes::ByteView({}, byteOrder_);
  return bytes::ByteView(data_.get(), dataLoadedSize_, byteOrder_);
}

uint32_t ExifReader::FileOffset(uint32_t relative) const { return tiffHeaderOffset_ + relative; }

VELTORA_HOT std::optional<bytes::ByteView> ExifReader::Fetch(SourceReader* file, uint64_t relative,
                                                             uint64_t n,
                                                             std::vector<uint8_t>* scratch) const {
  if (data_ != nullptr) {
    if (auto v = Data().Sub(relative, n)) return v;
  }
  if (file == nullptr || !file->is_open()) return std::nullopt;
  const uint64_t at = uint64_t{tiffHeaderOffset_} + relative;
  // Checked against the file before any allocation: a count from the file
  // must not decide how much memory we take.
  if (n > UINT32_MAX || !file->HasBytes(at + n)) return std::nullopt;
  if (const auto held = file->Held(at, static_cast<size_t>(n)); !held.empty()) {
    return bytes::ByteView(held, byteOrder_);
  }
  scratch->resize(static_cast<size_t>(n));
  if (!file->ReadExact(at, scratch->data(), scratch->size())) return std::nullopt;
  return bytes::ByteView(*scratch, byteOrder_);
}

VELTORA_HOT void ExifReader::Scan(uint32_t load_data, uint32_t use_page_allocator) {
  valid_ = true;
  SourceReader file;
  uint8_t header[8];
  if (!OpenSource(&file) || !file.HasBytes(8) || !file.ReadExact(0, header, 8)) {
    valid_ = false;
    return;
  }
  uint64_t tiff_at = 0;
  if (bytes::Read16(header, bytes::kBigEndian) == kJpegSoi) {
    WalkJpegSegments(file);
    if (jpeg_.app1Offset == 0 || jpeg_.app1Length < kMinExifApp1Length) return;  // a JPEG without EXIF
    uint8_t identifier[6];
    if (!file.ReadExact(uint64_t{jpeg_.app1Offset} + 4, identifier, 6) ||
        std::memcmp(identifier, "Exif\0", 5) != 0) {
      valid_ = false;
      return;
    }
    tiff_at = uint64_t{jpeg_.app1Offset} + 10;
    if (!file.ReadExact(tiff_at, header, 8)) {
      valid_ = false;
      return;
    }
  }
  const uint16_t mark = bytes::Read16(header, bytes::kBigEndian);
  if (mark != 0x4949 && mark != 0x4D4D) {
    valid_ = false;
    return;
  }
  byteOrder_ = mark == 0x4949 ? bytes::kLittleEndian : bytes::kBigEndian;
  if (bytes::Read16(header + 2, byteOrder_) == kTiffMagic) {
    tiffHeaderOffset_ = static_cast<uint32_t>(tiff_at);
    ifd0Offset_ = bytes::Read32(header + 4, byteOrder_);
  }
  if (ifd0Offset_ > 0) {
    uint32_t next = ifd0Offset_;
    uint32_t exif = 0;
    uint32_t gps = 0;
    PrintImLocation print{printImOffset_, printImLength_};
    if (!ParseImageDirectory(&file, &next, &primaryImage_, &exif, &gps, &print)) {
      valid_ = false;
      return;
    }
    exifIfd_.offset = exif;
    gpsIfd_.offset = gps;
    printImOffset_ = print.offset;
    printImLength_ = print.length;
    thumbnailImage_.ifdOffset = next;
    dataSize_ = primaryImage_.firstStripOffset;
    // Metadata that lies behind the first strip: the strips are not known to
    // end anywhere in particular, so the whole file is taken. (An APP1's
    // length decides below instead.)
    if (jpeg_.app1Length == 0 &&
        (exif > dataSize_ || gps > dataSize_ || printImOffset_ > dataSize_)) {
      dataSize_ = ClampToU32(file.size());
    }
  }
  if (jpeg_.app1Length > 0) dataSize_ = static_cast<uint32_t>(jpeg_.app1Length - 8u);
  // The TIFF header was read, so the file reaches at least that far.
  if (!file.HasBytes(uint64_t{tiffHeaderOffset_} + dataSize_)) {
    dataSize_ = ClampToU32(file.size() - std::min<uint64_t>(file.size(), tiffHeaderOffset_));
  }

  // Nothing to load keeps `data` null rather than holding an empty block, so
  // that `data` is null exactly when nothing is loaded.
  if (load_data == 0 || dataSize_ == 0) return;
  if (!AllocateData(dataSize_, use_page_allocator)) {
    valid_ = false;
    return;
  }
  if (!file.ReadExact(tiffHeaderOffset_, data_.get(), dataLoadedSize_)) {
    ReleaseData();
    valid_ = false;
  }
}

VELTORA_HOT void ExifReader::WalkJpegSegments(SourceReader& file) {
  const auto read_at = [&file](uint64_t offset, std::span<uint8_t> out) {
    return file.ReadAt(offset, out.data(), out.size());
  };
  JpegSegmentWalker walk(2, SoiRule::kSized);
  while (const auto segment = walk.Next(read_at)) {
    const uint64_t pos = segment->position;
    // The records hold 32-bit offsets; a segment that starts two bytes or
    // less before the end of the file is not looked at.
    if (pos > kMaxOffset || !file.HasBytes(pos + 3)) break;
    // A segment header cut off by the end of the file still records a length:
    // whatever is left behind the marker.
    const uint16_t app_length =
        segment->cut ? static_cast<uint16_t>(file.size() - pos - 2) : segment->length;
    const auto at = static_cast<uint32_t>(pos);
    switch (segment->marker) {
      case kMarkerSof0: {
        uint8_t frame[6];
        if (file.ReadExact(pos + 4, frame, 6)) {
          jpeg_.sofHeight = bytes::Read16(frame + 1, bytes::kBigEndian);
          jpeg_.sofWidth = bytes::Read16(frame + 3, bytes::kBigEndian);
        }
        break;
      }
      case kJpegApp0: {
        jpeg_.app0Offset = at;
        uint8_t jfif[12];
        if (file.ReadExact(pos + 4, jfif, 12)) {
          if (std::memcmp(jfif, "JFIF", 5) == 0) {
            jpeg_.jfifUnits = jfif[7];
            jpeg_.jfifXDensity = bytes::Read16(jfif + 8, bytes::kBigEndian);
            jpeg_.jfifYDensity = bytes::Read16(jfif + 10, bytes::kBigEndian);
          }
        }
        break;
      }
      case kJpegApp1:
        if (jpeg_.firstApp1Offset == 0) jpeg_.firstApp1Offset = at;
        jpeg_.app1Offset = at;
        jpeg_.app1Length = app_length;
        break;
      case kMarkerApp6: {
        jpeg_.app6Offset = at;
        jpeg_.app6Length = app_length;
        uint8_t id[8];
        if (file.ReadExact(uint64_t{jpeg_.app6Offset} + 4, id, 8)) {
          id[7] = 0;
          if (std::memcmp(id, "PrintIM", 8) == 0) {
            printImOffset_ = jpeg_.app6Offset + 4;
            printImLength_ = static_cast<uint16_t>(jpeg_.app6Length - 2);
          }
        }
        break;
      }
    }
  }
}

VELTORA_HOT bool ExifReader::ParseImageDirectory(SourceReader* file, uint32_t* ifd_offset,
                                                 ImageDescription* description,
                                                 uint32_t* exif_ifd_offset,
                                                 uint32_t* gps_ifd_offset,
                                                 PrintImLocation* print_im) {
  if ((file != nullptr && !file->is_open()) || ifd_offset == nullptr || *ifd_offset < 8 ||
      description == nullptr) {
    return false;
  }
  const uint32_t offset = *ifd_offset;
  std::vector<uint8_t> scratch;
  const auto count_bytes = Fetch(file, offset, 2, &scratch);
  if (!count_bytes) return false;
  const uint16_t count = *count_bytes->U16(0);
  description->ifdOffset = offset;
  description->entryCount = count;
  if (count == 0) return true;

  // Kept 16-bit like the table size: a wrapped span just examines fewer entries.
  const auto span = static_cast<uint16_t>(uint32_t{count} * kEntrySize + 6);
  const auto ifd = Fetch(file, offset, span, &scratch);
  if (!ifd) return false;
  uint32_t examined = 0;
  for (int64_t p = 2; p + kEntrySize <= int64_t{span} - 4; p += kEntrySize, ++examined) {
    // Only the entries this walk keeps are decoded; the others are passed on
    // their tag.
    const uint8_t* raw = ifd->data() + p;
    IfdEntry e;
    const auto decode = [&] { DecodeEntry(raw, byteOrder_, &e); };
    const auto decode_short_or_long = [&] {
      decode();
      return e.type == kTypeShort || e.type == kTypeLong;
    };
    switch (bytes::Read16(raw, byteOrder_)) {
      case kTagImageWidth:
        if (decode_short_or_long()) description->width = e.value;
        break;
      case kTagImageLength:
        if (decode_short_or_long()) description->length = e.value;
        break;
      case kTagRowsPerStrip:
        if (decode_short_or_long()) description->rowsPerStrip = e.value;
        break;
      case kTagSamplesPerPixel:
        decode();
        if (e.type == kTypeShort) description->samplesPerPixel = e.value;
        break;
      case kTagPlanarConfiguration:
        decode();
        if (e.type == kTypeShort) description->planarConfiguration = e.value;
        break;
      case kTagStripOffsets:
        if (decode_short_or_long()) ReadFirstStripOffset(file, e, description);
        break;
      case kTagExifIfdPointer:
        decode();
        if (e.type == kTypeLong && e.count == 1 && exif_ifd_offset) *exif_ifd_offset = e.value;
        break;
      case kTagGpsIfdPointer:
        decode();
        if (e.type == kTypeLong && e.count == 1 && gps_ifd_offset) *gps_ifd_offset = e.value;
        break;
      case kTagPrintIm:
        decode();
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
  return true;
}

void ExifReader::ReadFirstStripOffset(SourceReader* file, const IfdEntry& e,
                                      ImageDescription* description) {
  if (EntryValueSize(&e) <= 4) {
    // Two SHORT strips held inline come as one value, the first strip in its
    // high half: the first strip offset is that half.
    description->firstStripOffset = e.type == kTypeShort && e.count == 2 ? e.value >> 16 : e.value;
    return;
  }
  std::vector<uint8_t> scratch;
  if (const auto first = Fetch(file, e.value, TypeSize(e.type), &scratch)) {
    description->firstStripOffset =
        e.type == kTypeShort ? uint32_t{*first->U16(0)} : *first->U32(0);
  }
}

const uint8_t* ExifReader::LoadExifData(uint32_t use_page_allocator, uint32_t* loaded_size) {
  if (loaded_size != nullptr) *loaded_size = 0;
  if (!HasExifIfd()) return nullptr;
  if (data_ != nullptr) return data_.get();
  if (dataSize_ == 0 || !AllocateData(dataSize_, use_page_allocator)) return nullptr;
  SourceReader file;
  if (!OpenSource(&file) || !file.ReadExact(tiffHeaderOffset_, data_.get(), dataLoadedSize_)) {
    ReleaseData();
    return nullptr;
  }
  if (loaded_size != nullptr) *loaded_size = dataLoadedSize_;
  return data_.get();
}

void ExifReader::FreeExifData() { ReleaseData(); }

ScopedExifData::ScopedExifData(ExifReader& reader)
    : reader_(reader), loadedHere_(reader.LoadedData().empty()) {
  if (loadedHere_) reader_.LoadExifData(0, nullptr);
}

ScopedExifData::~ScopedExifData() {
  if (loadedHere_) reader_.FreeExifData();
}

VELTORA_HOT bool ExifReader::HasExifIfd() const { return exifIfd_.offset > 0; }
VELTORA_HOT bool ExifReader::IsExif() const { return HasExifIfd() && jpeg_.app0Offset == 0; }
VELTORA_HOT bool ExifReader::HasTiffDimensions() const {
  return valid_ && primaryImage_.width != 0 && primaryImage_.length != 0;
}
bool ExifReader::HasJpegDimensions() const {
  return valid_ && jpeg_.sofWidth != 0 && jpeg_.sofHeight != 0;
}
bool ExifReader::IsExifTiff() const {
  return IsExif() && jpeg_.app1Length == 0 && HasTiffDimensions();
}
bool ExifReader::IsExifJpeg() const {
  return IsExif() && jpeg_.app1Length > 0 && HasJpegDimensions();
}

}  // namespace veltora::exif
