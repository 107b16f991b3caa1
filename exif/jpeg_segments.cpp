#include "exif/jpeg_segments.h"

#include "bytes/byte_order.h"
#include "bytes/byte_view.h"
#include "platform/hot_path.h"

namespace veltora::exif {

std::optional<JpegSegment> JpegSegmentWalker::Next(std::span<const uint8_t> data) {
  if (finished_) return std::nullopt;
  if (position_ >= data.size()) return Step({});
  const auto at = static_cast<size_t>(position_);
  return Step(data.subspan(at, std::min(kHeadSize, data.size() - at)));
}

VELTORA_HOT std::optional<JpegSegment> JpegSegmentWalker::Step(std::span<const uint8_t> head) {
  const bytes::ByteView view(head, bytes::kBigEndian);
  const auto marker = view.U16(0);
  if (!marker) {
    finished_ = true;
    return std::nullopt;
  }
  JpegSegment segment;
  segment.marker = *marker;
  segment.position = position_;
  if (*marker == kJpegEoi) {
    finished_ = true;
    return segment;
  }
  if (*marker == kJpegSoi && soi_ == SoiRule::kStandalone) {
    position_ += 2;
    return segment;
  }
  const auto length = view.U16(2);
  if (!length) {
    segment.cut = true;
    finished_ = true;
    return segment;
  }
  segment.length = *length;
  position_ += 2 + uint64_t{*length};
  if (*marker == kJpegSos) finished_ = true;
  return segment;
}

}  // namespace veltora::exif
