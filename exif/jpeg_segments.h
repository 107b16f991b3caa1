// The one walk over a JPEG file's marker segments, shared by the EXIF scan,
// the rebuilt file's layout and the picture checks. Each step reads only the
// four header bytes of one segment at its position, so a walk over a file
// read through a window, or straight from disk, never needs the file in
// memory. What a segment means (what is recorded, written or refused) is the
// caller's decision; the walker only says where each segment lies.
#ifndef VELTORA_EXIF_JPEG_SEGMENTS_H_
#define VELTORA_EXIF_JPEG_SEGMENTS_H_

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace veltora::exif {

inline constexpr uint16_t kJpegSoi = 0xFFD8;
inline constexpr uint16_t kJpegEoi = 0xFFD9;
inline constexpr uint16_t kJpegSos = 0xFFDA;
inline constexpr uint16_t kJpegApp0 = 0xFFE0;
inline constexpr uint16_t kJpegApp1 = 0xFFE1;

// One step of the walk.
struct JpegSegment {
  // The two bytes at `position`, big-endian. Fill bytes and values that are
  // no marker at all are not skipped: they are walked as a segment header
  // like any other (0xFFFF with the next two bytes as its length).
  uint16_t marker = 0;
  uint64_t position = 0;  // file offset of the marker's first byte
  // The length field (it counts itself, not the marker); 0 for EOI, for a
  // standalone SOI and for a cut header.
  uint16_t length = 0;
  bool cut = false;  // the data ends inside the length field; the walk ends here
};

// How an SOI met by the walk is stepped over.
enum class SoiRule {
  kStandalone,  // the two marker bytes alone (the layout and the picture check)
  // Like any other marker, by the length field behind it: the EXIF scan
  // starts behind the file's SOI and takes every value but EOI and SOS as a
  // segment header, so a stray SOI inside the header segments moves its
  // records exactly as a segment would.
  kSized,
};

// Walks from a start position to SOS, EOI or the end of the data. Every step
// moves forward by at least two bytes, so a walk always ends, however many
// segments the file holds: there is deliberately no segment count limit, a
// file may carry any number of small segments before its EXIF data.
class JpegSegmentWalker {
 public:
  static constexpr size_t kHeadSize = 4;  // marker and length field

  JpegSegmentWalker(uint64_t start, SoiRule soi) : position_(start), soi_(soi) {}

  // The segment at the walk's position, its header read through
  // `read_at(offset, std::span<uint8_t> out)`, which returns how many bytes
  // it filled: fewer than asked only at the end of the data or when the read
  // failed (a caller that must tell the two apart records the failure
  // itself). nullopt once fewer than two bytes are left, and after EOI, SOS
  // or a cut header has been returned.
  template <typename ReadAt>
  std::optional<JpegSegment> Next(ReadAt&& read_at) {
    if (finished_) return std::nullopt;
    std::array<uint8_t, kHeadSize> head{};
    const size_t got = read_at(position_, std::span<uint8_t>(head));
    return Step(std::span<const uint8_t>(head.data(), std::min(got, head.size())));
  }
  // The same over the whole data held in memory.
  std::optional<JpegSegment> Next(std::span<const uint8_t> data);

 private:
  // Decodes the header bytes found at the position and moves past the segment.
  std::optional<JpegSegment> Step(std::span<const uint8_t> head);

  uint64_t position_;
  SoiRule soi_;
  bool finished_ = false;
};

}  // namespace veltora::exif

#endif  // VELTORA_EXIF_JPEG_SEGMENTS_H_
