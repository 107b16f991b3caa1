#include "edit/sub_image_data.h"

#include <utility>

#include "edit/block_entries.h"
#include "exif/directory.h"

namespace veltora::edit {
namespace {

constexpr uint16_t kTagSubIfds = 330;
constexpr uint16_t kTypeIfd = 13;

// The offset and length tags of each form image data takes.
constexpr std::pair<uint16_t, uint16_t> kDataTags[] = {
    {exif::kTagStripOffsets, exif::kTagStripByteCounts},
    {324, 325},  // TileOffsets, TileByteCounts
    {exif::kTagJpegInterchangeFormat, exif::kTagJpegInterchangeFormatLength}};

const BlockEntry* FirstEntry(const BlockDirectory& dir, uint16_t tag) {
  for (const BlockEntry& e : dir.entries) {
    if (e.entry.tag == tag) return &e;
  }
  return nullptr;
}

void AddPieces(std::span<const uint8_t> block, bytes::ByteOrder order, const BlockDirectory& dir,
               std::vector<SubImagePiece>* pieces) {
  for (const auto& [offset_tag, length_tag] : kDataTags) {
    const BlockEntry* offsets = FirstEntry(dir, offset_tag);
    const BlockEntry* lengths = FirstEntry(dir, length_tag);
    if (offsets == nullptr || lengths == nullptr) continue;
    const auto starts = ReadNumbers(block, order, *offsets);
    const auto sizes = ReadNumbers(block, order, *lengths);
    if (!starts || !sizes) continue;
    const uint32_t unit = StoredUnitSize(offsets->entry.type);
    const uint64_t first = offsets->OutOfLine() ? offsets->entry.value : offsets->position + 8u;
    for (size_t i = 0; i < starts->size() && i < sizes->size(); ++i) {
      pieces->push_back({(*starts)[i], (*sizes)[i], static_cast<uint32_t>(first + unit * i),
                         offsets->entry.type});
    }
  }
}

}  // namespace

std::vector<SubImagePiece> SubImagePieces(std::span<const uint8_t> block, bytes::ByteOrder order,
                                          uint32_t ifd0_offset) {
  std::vector<SubImagePiece> pieces;
  const auto ifd0 = ReadBlockDirectory(block, order, ifd0_offset);
  if (!ifd0) return pieces;
  const BlockEntry* list = FirstEntry(*ifd0, kTagSubIfds);
  if (list == nullptr) return pieces;
  // The list is LONG or, as TIFF allows, IFD: four bytes a pointer either way.
  BlockEntry pointers = *list;
  if (pointers.entry.type == kTypeIfd) pointers.entry.type = exif::kTypeLong;
  const auto offsets = ReadNumbers(block, order, pointers);
  if (!offsets) return pieces;
  for (const uint32_t offset : *offsets) {
    if (offset < kMinDirectoryOffset) continue;
    if (const auto dir = ReadBlockDirectory(block, order, offset)) {
      AddPieces(block, order, *dir, &pieces);
    }
  }
  return pieces;
}

bool RepointPiece(std::span<uint8_t> block, bytes::ByteOrder order, const SubImagePiece& piece,
                  uint64_t offset) {
  const bool short_field = piece.type == exif::kTypeShort;
  const uint64_t unit = short_field ? 2 : 4;
  if (offset > (short_field ? 0xFFFFu : 0xFFFFFFFFu) || piece.field + unit > block.size()) {
    return false;
  }
  if (short_field) {
    bytes::Write16(block.data() + piece.field, static_cast<uint16_t>(offset), order);
  } else {
    bytes::Write32(block.data() + piece.field, static_cast<uint32_t>(offset), order);
  }
  return true;
}

}  // namespace veltora::edit
