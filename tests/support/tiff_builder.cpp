#include "tests/support/tiff_builder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

#include "tests/support/jpeg_builder.h"
#include "tests/support/temp_dir.h"

namespace veltora::testing {
namespace {

constexpr uint16_t kExifPointerTag = 34665;
constexpr uint16_t kGpsPointerTag = 34853;
constexpr uint16_t kInteropPointerTag = 40965;
constexpr uint16_t kMakerNoteTag = 37500;
constexpr uint16_t kThumbnailOffsetTag = 513;
constexpr uint16_t kThumbnailLengthTag = 514;
constexpr uint16_t kStripOffsetsTag = 273;
constexpr uint16_t kStripByteCountsTag = 279;

// The order in which blocks follow the header unless LayoutOrder() says
// otherwise: the order most cameras write.
constexpr Dir kDefaultOrder[] = {kIfd0,      kExif, kInterop,       kGps,
                                 kMakerNote, kIfd1, kThumbnailData, kStripData};

bool IsDataBlock(uint16_t block) { return block == kThumbnailData || block == kStripData; }

// Writes the `n` low bytes of `v` at `pos`, in `order`.
void PutN(std::vector<uint8_t>& out, size_t pos, uint64_t v, size_t n, Endian order) {
  for (size_t i = 0; i < n; ++i) {
    out[pos + (order == kBig ? n - 1 - i : i)] = static_cast<uint8_t>(v >> (8 * i));
  }
}

// Appends the `n` low bytes of `v`.
void AppendN(std::vector<uint8_t>& out, uint64_t v, size_t n, Endian order) {
  out.resize(out.size() + n);
  PutN(out, out.size() - n, v, n, order);
}

uint32_t Align2(uint64_t v) { return static_cast<uint32_t>((v + 1) & ~uint64_t{1}); }

uint32_t Checked32(uint64_t v) {
  if (v > UINT32_MAX) throw std::logic_error("TIFF block larger than 4 GiB");
  return static_cast<uint32_t>(v);
}

bool OutOfLine(const TiffBuilder::Entry& e) {
  return e.value.size() > 4 && !e.value_field && !e.value_field_from_end && !e.link;
}

// Bytes of a directory block: count, entries, next pointer, values.
uint32_t DirectorySize(const std::vector<TiffBuilder::Entry>& entries) {
  uint64_t size = 2 + 12 * uint64_t{entries.size()} + 4;
  for (const auto& e : entries) {
    if (OutOfLine(e)) size = Align2(size) + e.value.size();
  }
  return Checked32(size);
}

}  // namespace

const char* EndianName(Endian order) { return order == kBig ? "MM" : "II"; }

std::vector<uint8_t> PrintImBlock(Endian order,
                                  const std::vector<std::pair<uint16_t, uint32_t>>& entries,
                                  std::string_view version) {
  std::vector<uint8_t> out = {'P', 'r', 'i', 'n', 't', 'I', 'M', 0};
  for (size_t i = 0; i < 4; ++i) out.push_back(i < version.size() ? uint8_t(version[i]) : 0);
  out.insert(out.end(), {0, 0});
  AppendN(out, static_cast<uint16_t>(entries.size()), 2, order);
  for (auto [tag, value] : entries) {
    AppendN(out, tag, 2, order);
    AppendN(out, value, 4, order);
  }
  return out;
}

TiffBuilder::TiffBuilder(Endian order) : order_(order) { dirs_[kIfd0].exists = true; }

TiffBuilder::DirState& TiffBuilder::State(Dir dir) {
  if (IsDataBlock(dir)) throw std::logic_error("data blocks hold no entries");
  auto& state = dirs_[dir];
  state.exists = true;
  return state;
}

TiffBuilder::Entry& TiffBuilder::Current() {
  if (!current_) throw std::logic_error("hook used before any entry was added");
  return dirs_.at(current_->first).entries.at(current_->second);
}

TiffBuilder& TiffBuilder::Raw(Dir dir, uint16_t tag, uint16_t type, uint32_t count,
                              std::vector<uint8_t> value) {
  auto& entries = State(dir).entries;
  entries.push_back(Entry{.tag = tag, .type = type, .count = count, .value = std::move(value)});
  current_ = {dir, entries.size() - 1};
  return *this;
}

std::vector<uint8_t> TiffBuilder::U16(std::vector<uint16_t> values) const {
  std::vector<uint8_t> out;
  for (uint16_t v : values) AppendN(out, v, 2, order_);
  return out;
}

std::vector<uint8_t> TiffBuilder::U32(std::vector<uint32_t> values) const {
  std::vector<uint8_t> out;
  for (uint32_t v : values) AppendN(out, v, 4, order_);
  return out;
}

TiffBuilder& TiffBuilder::Byte(Dir dir, uint16_t tag, std::vector<uint8_t> values) {
  return Raw(dir, tag, kByte, static_cast<uint32_t>(values.size()), values);
}

TiffBuilder& TiffBuilder::Ascii(Dir dir, uint16_t tag, std::string_view text, bool terminate) {
  std::vector<uint8_t> bytes(text.begin(), text.end());
  if (terminate) bytes.push_back(0);
  return Raw(dir, tag, kAscii, static_cast<uint32_t>(bytes.size()), bytes);
}

TiffBuilder& TiffBuilder::Short(Dir dir, uint16_t tag, uint16_t value) {
  return Shorts(dir, tag, {value});
}

TiffBuilder& TiffBuilder::Shorts(Dir dir, uint16_t tag, std::vector<uint16_t> values) {
  return Raw(dir, tag, kShort, static_cast<uint32_t>(values.size()), U16(values));
}

TiffBuilder& TiffBuilder::Long(Dir dir, uint16_t tag, uint32_t value) {
  return Raw(dir, tag, kLong, 1, U32({value}));
}

TiffBuilder& TiffBuilder::Rational(Dir dir, uint16_t tag, uint32_t numerator,
                                   uint32_t denominator) {
  return Rationals(dir, tag, {{numerator, denominator}});
}

TiffBuilder& TiffBuilder::Rationals(Dir dir, uint16_t tag,
                                    std::vector<std::pair<uint32_t, uint32_t>> values) {
  std::vector<uint8_t> out;
  for (auto [n, d] : values) {
    AppendN(out, n, 4, order_);
    AppendN(out, d, 4, order_);
  }
  return Raw(dir, tag, kRational, static_cast<uint32_t>(values.size()), std::move(out));
}

// The signed types are stored as their two's complement: the unsigned
// entry's bytes under the signed type code.
TiffBuilder& TiffBuilder::SRational(Dir dir, uint16_t tag, int32_t numerator, int32_t denominator) {
  Rational(dir, tag, static_cast<uint32_t>(numerator), static_cast<uint32_t>(denominator));
  Current().type = kSRational;
  return *this;
}

TiffBuilder& TiffBuilder::SShort(Dir dir, uint16_t tag, std::vector<int16_t> values) {
  Shorts(dir, tag, {values.begin(), values.end()});
  Current().type = kSShort;
  return *this;
}

TiffBuilder& TiffBuilder::Double(Dir dir, uint16_t tag, std::vector<double> values) {
  std::vector<uint8_t> out;
  for (double v : values) AppendN(out, std::bit_cast<uint64_t>(v), 8, order_);
  return Raw(dir, tag, kDouble, static_cast<uint32_t>(values.size()), std::move(out));
}

TiffBuilder& TiffBuilder::Undefined(Dir dir, uint16_t tag, std::vector<uint8_t> bytes) {
  return Raw(dir, tag, kUndefined, static_cast<uint32_t>(bytes.size()), bytes);
}

TiffBuilder& TiffBuilder::WithCount(uint32_t count) {
  Current().count_field = count;
  return *this;
}

TiffBuilder& TiffBuilder::WithOffset(uint32_t field) {
  auto& e = Current();
  e.value_field = field;
  e.value_field_from_end.reset();
  return *this;
}

TiffBuilder& TiffBuilder::WithOffsetFromEnd(int64_t delta) {
  auto& e = Current();
  e.value_field_from_end = delta;
  e.value_field.reset();
  return *this;
}

TiffBuilder& TiffBuilder::Directory(Dir dir) {
  State(dir);
  return *this;
}

TiffBuilder& TiffBuilder::Pointer(Dir child) {
  // The directory holding the pointer to `child`, and the pointer's tag.
  static const std::map<uint16_t, std::pair<Dir, uint16_t>> kPointers = {
      {kExif, {kIfd0, kExifPointerTag}},
      {kGps, {kIfd0, kGpsPointerTag}},
      {kInterop, {kExif, kInteropPointerTag}},
      {kMakerNote, {kExif, kMakerNoteTag}}};
  const auto found = kPointers.find(child);
  if (found == kPointers.end()) {
    throw std::logic_error("Pointer(): no pointer entry leads to this directory");
  }
  const auto [parent, tag] = found->second;
  State(child);
  auto& entries = State(parent).entries;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].link == child) {
      current_ = {parent, i};
      return *this;
    }
  }
  // A maker note's count is its size, set at layout.
  const bool note = child == kMakerNote;
  Raw(parent, tag, note ? kUndefined : kLong, note ? 0 : 1, std::vector<uint8_t>(4));
  Current().link = child;
  return *this;
}

TiffBuilder& TiffBuilder::WithoutPointer(Dir child) {
  State(child).pointer_suppressed = true;
  return *this;
}

TiffBuilder& TiffBuilder::NextIfdTo(Dir dir, Dir target) {
  State(dir).next_to = target;
  return *this;
}

TiffBuilder& TiffBuilder::DeclareEntryCount(Dir dir, uint16_t count) {
  State(dir).declared_count = count;
  return *this;
}

TiffBuilder& TiffBuilder::KeepEntryOrder() {
  keep_order_ = true;
  return *this;
}

TiffBuilder& TiffBuilder::MakerNoteHeader(MakerNoteForm form, std::string signature,
                                          std::array<uint8_t, 2> skipped) {
  State(kMakerNote);
  maker_form_ = form;
  maker_signature_ = std::move(signature);
  maker_skipped_ = skipped;
  return *this;
}

TiffBuilder& TiffBuilder::RawMakerNote(std::vector<uint8_t> bytes) {
  State(kMakerNote);
  raw_maker_note_ = std::move(bytes);
  return *this;
}

TiffBuilder& TiffBuilder::JpegThumbnail(std::vector<uint8_t> jpeg) {
  thumbnail_ = jpeg;
  Long(kIfd1, kThumbnailOffsetTag, 0).Current().link = kThumbnailData;
  return Long(kIfd1, kThumbnailLengthTag, static_cast<uint32_t>(jpeg.size()));
}

TiffBuilder& TiffBuilder::Strips(Dir dir, std::vector<std::vector<uint8_t>> strips, TiffType type) {
  if (type != kShort && type != kLong) throw std::logic_error("strip offsets are SHORT or LONG");
  auto n = static_cast<uint32_t>(strips.size());
  std::vector<uint32_t> counts;
  for (const auto& s : strips) counts.push_back(static_cast<uint32_t>(s.size()));
  State(dir).strips = std::move(strips);
  Raw(dir, kStripOffsetsTag, type, n, std::vector<uint8_t>(n * (type == kShort ? 2 : 4)));
  Current().strip_offsets = true;
  auto offsets_entry = *current_;
  Raw(dir, kStripByteCountsTag, type, n,
      type == kShort ? U16({counts.begin(), counts.end()}) : U32(counts));
  current_ = offsets_entry;
  return *this;
}

TiffBuilder& TiffBuilder::RgbImage(Dir dir, uint32_t width, uint32_t height,
                                   std::vector<uint8_t> rgb, uint32_t rows_per_strip) {
  const size_t row = size_t{width} * 3;
  if (rgb.empty()) {
    rgb.resize(row * height);
    for (uint32_t y = 0; y < height; ++y) {
      for (uint32_t x = 0; x < width; ++x) {
        uint8_t* p = &rgb[y * row + x * 3];
        p[0] = static_cast<uint8_t>(x * 255 / std::max(width, 2u));
        p[1] = static_cast<uint8_t>(y * 255 / std::max(height, 2u));
        p[2] = 128;
      }
    }
  }
  if (rgb.size() != row * height) throw std::logic_error("RgbImage(): wrong pixel count");
  if (rows_per_strip == 0) rows_per_strip = height;
  std::vector<std::vector<uint8_t>> strips;
  for (uint32_t y = 0; y < height; y += rows_per_strip) {
    uint32_t rows = std::min(rows_per_strip, height - y);
    strips.emplace_back(rgb.begin() + static_cast<ptrdiff_t>(y * row),
                        rgb.begin() + static_cast<ptrdiff_t>((y + rows) * row));
  }
  Long(dir, 256, width);
  Long(dir, 257, height);
  Shorts(dir, 258, {8, 8, 8});
  Short(dir, 259, 1);
  Short(dir, 262, 2);
  Short(dir, 277, 3);
  Long(dir, 278, rows_per_strip);
  Short(dir, 284, 1);
  return Strips(dir, std::move(strips));
}

TiffBuilder& TiffBuilder::LayoutOrder(std::vector<Dir> blocks) {
  layout_order_ = std::move(blocks);
  return *this;
}

TiffBuilder& TiffBuilder::PlaceAt(Dir block, uint32_t offset) {
  place_at_[block] = offset;
  return *this;
}

TiffLayout TiffBuilder::Layout() const {
  // Work on a copy: adding the automatic pointers must not change the builder.
  // The interoperability directory and the maker note hang off the EXIF
  // directory, so they are linked first: that may create the EXIF directory.
  TiffBuilder copy = *this;
  for (Dir child : {kInterop, kMakerNote, kExif, kGps}) {
    const auto it = copy.dirs_.find(child);
    if (it != copy.dirs_.end() && it->second.exists && !it->second.pointer_suppressed) {
      copy.Pointer(child);
    }
  }
  auto& dirs = copy.dirs_;
  if (!keep_order_) {
    for (auto& [dir, state] : dirs) {
      std::stable_sort(state.entries.begin(), state.entries.end(),
                       [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
    }
  }
  auto exists = [&](uint16_t block) {
    if (block == kThumbnailData) return thumbnail_.has_value();
    if (block == kStripData) {
      return std::any_of(dirs.begin(), dirs.end(),
                         [](const auto& d) { return d.second.exists && !d.second.strips.empty(); });
    }
    auto it = dirs.find(block);
    return it != dirs.end() && it->second.exists;
  };

  // Maker note: size of the header in front of its directory.
  const uint32_t maker_header = maker_form_ == MakerNoteForm::kSignature
                                    ? static_cast<uint32_t>(maker_signature_.size()) + 3
                                    : 0;

  auto block_size = [&](uint16_t block) -> uint32_t {
    if (block == kThumbnailData) return static_cast<uint32_t>(thumbnail_->size());
    if (block == kStripData) {
      uint64_t size = 0;
      for (const auto& [d, s] : dirs) {
        for (const auto& strip : s.strips) size = Align2(size) + strip.size();
      }
      return Checked32(size);
    }
    if (block == kMakerNote) {
      if (raw_maker_note_) return static_cast<uint32_t>(raw_maker_note_->size());
      return maker_header + DirectorySize(dirs.at(kMakerNote).entries);
    }
    return DirectorySize(dirs.at(block).entries);
  };

  // Assign offsets.
  std::vector<uint16_t> blocks(layout_order_.begin(), layout_order_.end());
  for (Dir d : kDefaultOrder) {
    if (std::find(blocks.begin(), blocks.end(), d) == blocks.end()) blocks.push_back(d);
  }
  TiffLayout layout;
  uint64_t pos = 8;
  for (uint16_t block : blocks) {
    if (!exists(block)) continue;
    auto place = place_at_.find(block);
    if (place != place_at_.end()) {
      if (place->second < pos) throw std::logic_error("PlaceAt(): layout already past offset");
      pos = place->second;
    } else {
      pos = Align2(pos);
    }
    layout.block_offset[block] = Checked32(pos);
    pos += block_size(block);
  }
  const uint64_t total = pos;
  std::vector<uint8_t> out(total);

  // Strip positions, per directory, in directory order.
  std::map<uint16_t, std::vector<uint32_t>> strip_pos;
  if (exists(kStripData)) {
    uint64_t p = layout.block_offset.at(kStripData);
    for (const auto& [d, s] : dirs) {
      for (const auto& strip : s.strips) {
        p = Align2(p);
        strip_pos[d].push_back(Checked32(p));
        std::copy(strip.begin(), strip.end(), out.begin() + static_cast<ptrdiff_t>(p));
        p += strip.size();
      }
    }
  }
  if (thumbnail_) {
    uint32_t p = layout.block_offset.at(kThumbnailData);
    std::copy(thumbnail_->begin(), thumbnail_->end(), out.begin() + p);
  }

  auto offset_of = [&](uint16_t block) -> uint32_t {
    auto it = layout.block_offset.find(block);
    return it == layout.block_offset.end() ? 0 : it->second;
  };

  // Writes one directory at `at`; every offset counts from the TIFF header.
  auto write_directory = [&](uint16_t dir, uint32_t at) {
    const Endian order = order_;
    const auto& state = dirs.at(dir);
    const auto& entries = state.entries;
    PutN(out, at, state.declared_count.value_or(static_cast<uint16_t>(entries.size())), 2, order);
    uint64_t value_pos = at + 2 + 12 * uint64_t{entries.size()} + 4;
    for (size_t i = 0; i < entries.size(); ++i) {
      Entry e = entries[i];
      const uint32_t ep = static_cast<uint32_t>(at + 2 + 12 * i);
      if (e.strip_offsets) {
        e.value.clear();
        for (uint32_t p : strip_pos[dir]) AppendN(e.value, p, e.type == kShort ? 2 : 4, order);
      }
      uint32_t count = e.count;
      if (e.link == kMakerNote) count = block_size(kMakerNote);
      PutN(out, ep, e.tag, 2, order);
      PutN(out, ep + 2, e.type, 2, order);
      PutN(out, ep + 4, e.count_field.value_or(count), 4, order);
      if (e.value_field) {
        PutN(out, ep + 8, *e.value_field, 4, order);
      } else if (e.value_field_from_end) {
        PutN(out, ep + 8,
             static_cast<uint32_t>(static_cast<int64_t>(total) + *e.value_field_from_end), 4,
             order);
      } else if (e.link) {
        PutN(out, ep + 8, offset_of(*e.link), 4, order);
      } else if (e.value.size() <= 4) {
        std::copy(e.value.begin(), e.value.end(), out.begin() + ep + 8);
      } else {
        value_pos = Align2(value_pos);
        PutN(out, ep + 8, static_cast<uint32_t>(value_pos), 4, order);
        layout.value_offset.emplace(std::pair{dir, e.tag}, static_cast<uint32_t>(value_pos));
        std::copy(e.value.begin(), e.value.end(), out.begin() + static_cast<ptrdiff_t>(value_pos));
        value_pos += e.value.size();
      }
    }
    uint32_t next = 0;
    if (state.next_to) {
      next = offset_of(*state.next_to);
    } else if (dir == kIfd0) {
      next = offset_of(kIfd1);
    }
    PutN(out, at + 2 + 12 * entries.size(), next, 4, order);
  };

  for (const auto& [block, at] : layout.block_offset) {
    if (IsDataBlock(block)) continue;
    if (block != kMakerNote) {
      write_directory(block, at);
      continue;
    }
    if (raw_maker_note_) {
      std::copy(raw_maker_note_->begin(), raw_maker_note_->end(), out.begin() + at);
      continue;
    }
    if (maker_form_ == MakerNoteForm::kSignature) {
      std::copy(maker_signature_.begin(), maker_signature_.end(), out.begin() + at);
      out[at + maker_signature_.size() + 1] = maker_skipped_[0];
      out[at + maker_signature_.size() + 2] = maker_skipped_[1];
    }
    write_directory(kMakerNote, at + maker_header);
  }

  // Header last: nothing above writes into it.
  out[0] = out[1] = order_ == kBig ? 'M' : 'I';
  PutN(out, 2, 42, 2, order_);
  PutN(out, 4, offset_of(kIfd0), 4, order_);

  layout.bytes = std::move(out);
  return layout;
}

std::filesystem::path TiffBuilder::WriteTiff(const TempDir& dir, std::string_view name) const {
  auto path = dir.path() / name;
  WriteFile(path, Bytes());
  return path;
}

std::filesystem::path TiffBuilder::WriteJpeg(const TempDir& dir, std::string_view name) const {
  auto path = dir.path() / name;
  WriteFile(path, JpegBuilder().Soi().App1Exif(Bytes()).ImageSegments(SmallJpeg()).Bytes());
  return path;
}

}  // namespace veltora::testing
