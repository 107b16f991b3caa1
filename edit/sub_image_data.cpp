#include "edit/sub_image_data.h"

#include <algorithm>
#include <deque>
#include <map>
#include <optional>
#include <utility>

#include "edit/block_entries.h"
#include "exif/directory.h"

namespace veltora::edit {
namespace {

constexpr uint16_t kTagSubIfds = 330;
constexpr uint16_t kTypeIfd = 13;
// Camera files list a few sub-images, nested one level at most; a walk that
// meets more directories than this follows a hostile file's fan or chain.
constexpr size_t kMaxDirectories = 256;

// The offset and length tags of each form image data takes.
constexpr std::pair<uint16_t, uint16_t> kDataTags[] = {
    {exif::kTagStripOffsets, exif::kTagStripByteCounts},
    {324, 325},  // TileOffsets, TileByteCounts
    {exif::kTagJpegInterchangeFormat, exif::kTagJpegInterchangeFormatLength}};

bool IsDataOffsetTag(uint16_t tag) {
  return std::any_of(std::begin(kDataTags), std::end(kDataTags),
                     [tag](const auto& pair) { return pair.first == tag; });
}

const BlockEntry* FirstEntry(const BlockDirectory& dir, uint16_t tag) {
  for (const BlockEntry& e : dir.entries) {
    if (e.entry.tag == tag) return &e;
  }
  return nullptr;
}

// Where bytes are stored: the block, bytes written behind the main image
// (their index), or nowhere (an array that is only read).
constexpr size_t kBlock = SIZE_MAX;
constexpr size_t kNowhere = SIZE_MAX - 1;
constexpr size_t kNoArray = SIZE_MAX;

// Where a SHORT or LONG array's elements lie now, and its entry.
struct ArrayHome {
  size_t holder = kNowhere;
  uint64_t base = 0;
  uint16_t type = exif::kTypeLong;
  size_t count = 0;
  size_t entry_holder = kNowhere;
  uint64_t entry_position = 0;
};

// A LONG offset at `position` in `holder`, or element `position` of an array.
struct Field {
  size_t holder = kNowhere;
  uint64_t position = 0;
  size_t array = kNoArray;
};

// The elements of an array and its home (an index into the carrier's).
struct Array {
  std::vector<uint32_t> numbers;
  size_t home = kNoArray;
  Field At(size_t i) const { return {kNowhere, i, home}; }
};

class Carrier {
 public:
  Carrier(std::span<uint8_t> block, bytes::ByteOrder order, const SubImagePlacement& placement,
          const SourceBytes& source)
      : block_(block),
        order_(order),
        placement_(placement),
        source_(source),
        pinned_end_(std::min<uint64_t>(placement.pinned_end, block.size())),
        end_(PaddedSize(placement.tail)),
        budget_(placement.source_size) {}

  SubImageTail Run(uint32_t ifd0_offset) {
    const auto ifd0 = ReadBlockDirectory(block_, order_, ifd0_offset);
    const BlockEntry* list = ifd0 ? FirstEntry(*ifd0, kTagSubIfds) : nullptr;
    // IFD0 is the work block's own: its list lies wherever the block has it.
    if (list != nullptr) Enqueue(ReadArray(kBlock, *list, block_.size(), true));
    while (!queue_.empty()) {
      const auto [offset, field] = queue_.front();
      queue_.pop_front();
      Visit(offset, field);
    }
    return std::move(tail_);
  }

 private:
  // The directories a SubIFDs list points at, to visit in turn.
  void Enqueue(const std::optional<Array>& pointers) {
    for (size_t i = 0; pointers && i < pointers->numbers.size(); ++i) {
      queue_.emplace_back(pointers->numbers[i], pointers->At(i));
    }
  }

  std::span<uint8_t> Holder(size_t holder) {
    return holder == kBlock ? block_ : std::span<uint8_t>(tail_.written[holder].bytes);
  }

  bool Write(const Field& field, uint64_t value) {
    if (field.array == kNoArray) return Put(field.holder, field.position, exif::kTypeLong, value);
    if (!Ready(field, value)) return false;
    const ArrayHome& home = homes_[field.array];
    return Put(home.holder, home.base + field.position * exif::TypeSize(home.type), home.type,
               value);
  }

  // Widens the SHORT array of `field` when `value` does not fit it; false
  // when that fails. Widening may take the place behind the main image that
  // `value` named, so a caller placing bytes there asks first.
  bool Ready(const Field& field, uint64_t value) {
    if (field.array == kNoArray) return true;
    ArrayHome& home = homes_[field.array];
    return home.type != exif::kTypeShort || value <= 0xFFFF || Widen(home);
  }

  bool Put(size_t holder, uint64_t position, uint16_t type, uint64_t value) {
    if (holder == kNowhere) return false;
    const std::span<uint8_t> bytes = Holder(holder);
    const bool short_field = type == exif::kTypeShort;
    if (value > (short_field ? 0xFFFFu : 0xFFFFFFFFu) ||
        !Inside(position, short_field ? 2 : 4, bytes.size())) {
      return false;
    }
    uint8_t* at = bytes.data() + position;
    if (short_field) {
      bytes::Write16(at, static_cast<uint16_t>(value), order_);
    } else {
      bytes::Write32(at, static_cast<uint32_t>(value), order_);
    }
    return true;
  }

  // Turns a SHORT offset array into a LONG one, as a SHORT cannot hold the
  // new place of what it points at: keeping the file's own type would lose
  // the data to readers. The entry keeps its count; each element keeps its
  // value until it is written. One element fits the entry's field; more go
  // behind the main image (the SHORTs stay where they were, unused).
  bool Widen(ArrayHome& home) {
    const uint64_t size = uint64_t{home.count} * 4;
    if (home.holder == kNowhere || size > budget_ ||
        !Inside(home.base, uint64_t{home.count} * 2, Holder(home.holder).size()) ||
        !Inside(home.entry_position, exif::kEntrySize, Holder(home.entry_holder).size())) {
      return false;
    }
    std::vector<uint8_t> longs(static_cast<size_t>(size));
    for (size_t i = 0; i < home.count; ++i) {
      const uint8_t* element = Holder(home.holder).data() + home.base + 2 * i;
      bytes::Write32(&longs[4 * i], bytes::Read16(element, order_), order_);
    }
    const uint64_t field = home.entry_position + 8;
    if (home.count == 1) {
      std::copy(longs.begin(), longs.end(),
                Holder(home.entry_holder).begin() + static_cast<ptrdiff_t>(field));
      home.holder = home.entry_holder;
      home.base = field;
    } else {
      if (!Put(home.entry_holder, field, exif::kTypeLong, end_)) return false;
      home.holder = tail_.written.size();
      home.base = 0;
      tail_.written.push_back({end_, std::move(longs)});
      end_ = PaddedSize(end_ + size);
    }
    budget_ -= size;
    bytes::Write16(Holder(home.entry_holder).data() + home.entry_position + 2, exif::kTypeLong,
                   order_);
    home.type = exif::kTypeLong;
    return true;
  }

  static bool Inside(uint64_t offset, uint64_t n, uint64_t end) {
    return offset <= end && n <= end - offset;
  }

  // The n bytes at a source offset: from the block when they lie in its
  // pinned part (where the block holds the source's bytes, edits included),
  // else from the source, within the budget.
  std::optional<std::vector<uint8_t>> Fetch(uint64_t offset, uint64_t n) {
    if (Inside(offset, n, pinned_end_)) {
      const auto from = block_.subspan(static_cast<size_t>(offset), static_cast<size_t>(n));
      return std::vector<uint8_t>(from.begin(), from.end());
    }
    if (!Inside(offset, n, placement_.source_size) || n > budget_) return std::nullopt;
    budget_ -= n;
    std::vector<uint8_t> bytes(static_cast<size_t>(n));
    if (!source_(offset, bytes)) return std::nullopt;
    return bytes;
  }

  // Places `bytes` (fetched from the source) behind the main image and
  // points `field` at them; the index of the written bytes, or nullopt
  // (nothing placed).
  std::optional<size_t> Carry(const Field& field, std::vector<uint8_t> bytes) {
    if (!Ready(field, end_) || !Write(field, end_)) return std::nullopt;
    const uint64_t to = end_;
    end_ = PaddedSize(end_ + bytes.size());
    tail_.written.push_back({to, std::move(bytes)});
    return tail_.written.size() - 1;
  }

  // The array of `e` (in `holder`): inline, in the block below `kept_end`,
  // or read from the source, then carried behind the main image when
  // `carry` (its elements are offsets to repoint) or only read.
  std::optional<Array> ReadArray(size_t holder, const BlockEntry& e, uint64_t kept_end,
                                 bool carry) {
    const uint16_t type = e.entry.type == kTypeIfd ? exif::kTypeLong : e.entry.type;
    if (type != exif::kTypeShort && type != exif::kTypeLong) return std::nullopt;
    const size_t entry_holder = holder;
    const uint32_t unit = exif::TypeSize(type);
    std::vector<uint8_t> bytes;
    uint64_t base = 0;
    if (!e.OutOfLine()) {
      bytes.assign(e.field, e.field + e.size);
      base = e.position + 8u;
    } else if (Inside(e.entry.value, e.size, kept_end)) {
      const auto from = block_.subspan(e.entry.value, static_cast<size_t>(e.size));
      bytes.assign(from.begin(), from.end());
      holder = kBlock;
      base = e.entry.value;
    } else {
      auto fetched = Fetch(e.entry.value, e.size);
      if (!fetched) return std::nullopt;
      bytes = *fetched;
      const auto carried = carry ? Carry({holder, e.position + 8u}, std::move(*fetched)) : std::nullopt;
      if (carry && !carried) return std::nullopt;
      holder = carried.value_or(kNowhere);
    }
    Array array;
    for (size_t i = 0; i + unit <= bytes.size(); i += unit) {
      array.numbers.push_back(unit == 2 ? bytes::Read16(&bytes[i], order_)
                                        : bytes::Read32(&bytes[i], order_));
    }
    array.home = homes_.size();
    homes_.push_back({holder, base, type, array.numbers.size(), entry_holder, e.position});
    return array;
  }

  // Data at a source offset that `field` points at: kept in the pinned
  // block, moved with the main image when it lies in that, else copied
  // from the source behind the main image.
  void PlaceData(uint64_t offset, uint64_t length, const Field& field) {
    if (length == 0 || Inside(offset, length, pinned_end_)) return;
    if (placement_.image_moves && offset >= placement_.image_from &&
        Inside(offset - placement_.image_from, length, placement_.image_length)) {
      (void)Write(field, offset - placement_.image_from + placement_.image_to);
      return;
    }
    if (!Inside(offset, length, placement_.source_size) || !Ready(field, end_) ||
        length > budget_ || !Write(field, end_)) {
      return;
    }
    budget_ -= length;
    tail_.copied.push_back({offset, static_cast<uint32_t>(length), end_});
    end_ = PaddedSize(end_ + length);
  }

  // A directory that `field` points at: kept when its table lies in the
  // pinned block, else carried; a directory met again is pointed at where
  // it went the first time.
  void Visit(uint32_t offset, const Field& field) {
    if (const auto seen = placed_.find(offset); seen != placed_.end()) {
      if (seen->second != offset) (void)Write(field, seen->second);
      return;
    }
    if (placed_.size() >= kMaxDirectories || offset < kMinDirectoryOffset) return;
    const auto count = Fetch(offset, 2);
    if (!count) return;
    const uint64_t table = 2 + uint64_t{exif::kEntrySize} * bytes::Read16(count->data(), order_) + 4;
    if (Inside(offset, table, pinned_end_)) {
      placed_[offset] = offset;
      if (const auto dir = ReadBlockDirectory(block_, order_, offset)) Follow(kBlock, *dir);
      return;
    }
    auto bytes = Fetch(offset, table);
    if (!bytes) return;
    const auto holder = Carry(field, std::move(*bytes));
    if (!holder) return;
    placed_[offset] = tail_.written[*holder].to;
    const std::span<const uint8_t> copy = tail_.written[*holder].bytes;
    BlockDirectory dir;
    dir.count = bytes::Read16(copy.data(), order_);
    for (uint32_t i = 0; i < dir.count; ++i) {
      dir.entries.push_back(DecodeBlockEntry(copy, order_, 2 + exif::kEntrySize * i));
    }
    dir.link = bytes::Read32(copy.data() + dir.LinkPosition(), order_);
    Follow(*holder, dir);
  }

  // The values, image data, sub-images and next directory of a sub-image's
  // directory held in `holder`.
  void Follow(size_t holder, const BlockDirectory& dir) {
    for (const BlockEntry& e : dir.entries) {
      if (e.entry.tag == kTagSubIfds) {
        Enqueue(ReadArray(holder, e, pinned_end_, true));
      } else if (e.OutOfLine() && !IsDataOffsetTag(e.entry.tag)) {
        PlaceData(e.entry.value, e.size, {holder, e.position + 8u});
      }
    }
    for (const auto& [offset_tag, length_tag] : kDataTags) {
      const BlockEntry* offsets = FirstEntry(dir, offset_tag);
      const BlockEntry* lengths = FirstEntry(dir, length_tag);
      if (offsets == nullptr || lengths == nullptr) continue;
      const auto starts = ReadArray(holder, *offsets, pinned_end_, true);
      const auto sizes = ReadArray(holder, *lengths, pinned_end_, false);
      if (!starts || !sizes) continue;
      for (size_t i = 0; i < starts->numbers.size() && i < sizes->numbers.size(); ++i) {
        PlaceData(starts->numbers[i], sizes->numbers[i], starts->At(i));
      }
    }
    if (dir.link.value_or(0) != 0) queue_.emplace_back(*dir.link, Field{holder, dir.LinkPosition()});
  }

  std::span<uint8_t> block_;
  bytes::ByteOrder order_;
  const SubImagePlacement& placement_;
  const SourceBytes& source_;
  uint64_t pinned_end_;
  uint64_t end_;
  // Bytes still to read or copy from the source. What a sound file carries
  // comes from distinct parts of it, so the walk never needs more than the
  // source's size; a hostile file that points many fields at one large run
  // stops there instead of multiplying it.
  uint64_t budget_;
  SubImageTail tail_;
  std::vector<ArrayHome> homes_;
  std::deque<std::pair<uint32_t, Field>> queue_;
  std::map<uint32_t, uint64_t> placed_;  // directory: source offset -> output offset
};

}  // namespace

bool HasSubImages(std::span<const uint8_t> block, bytes::ByteOrder order, uint32_t ifd0_offset) {
  const auto ifd0 = ReadBlockDirectory(block, order, ifd0_offset);
  return ifd0 && FirstEntry(*ifd0, kTagSubIfds) != nullptr;
}

SubImageTail CarrySubImages(std::span<uint8_t> block, bytes::ByteOrder order,
                            uint32_t ifd0_offset, const SubImagePlacement& placement,
                            const SourceBytes& source) {
  return Carrier(block, order, placement, source).Run(ifd0_offset);
}

}  // namespace veltora::edit
