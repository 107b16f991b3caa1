#include "exif/maker_note_reader.h"

#include <algorithm>
#include <cstring>

namespace veltora::exif {
namespace {

// The maker-note tag that carries print-image-matching data.
constexpr uint16_t kMakerTagPrintIm = 0x0E00;
// Bytes between the end of a signature and its first entry: NUL, two skipped
// bytes, the count.
constexpr uint32_t kSignatureHeaderExtra = 5;
constexpr uint32_t kCountFirstHeader = 2;

}  // namespace

MakerNoteReader::MakerNoteReader(const char* path_arg, uint32_t load_data,
                                 uint32_t use_page_allocator)
    : ExifReader(path_arg, load_data, use_page_allocator) {
  LocateMakerNote();
}

MakerNoteReader::MakerNoteReader(std::span<const uint8_t> file_bytes, uint32_t load_data,
                                 uint32_t use_page_allocator)
    : ExifReader(file_bytes, load_data, use_page_allocator) {
  LocateMakerNote();
}

MakerNoteReader::~MakerNoteReader() = default;

void MakerNoteReader::LocateMakerNote() {
  makerByteOrder_ = Order();
  if (!HasExifIfd()) return;
  IfdEntry entry;
  entry.tag = kTagMakerNote;
  // The entry's type is not examined: makers store the note as UNDEFINED,
  // but some as BYTE or LONG, and only its byte extent matters here.
  if (!Done(FindEntry(kExifIfd, &entry)) || entry.count <= 4 || entry.value == 0) return;
  makerNoteSize_ = entry.count;
  makerNoteOffset_ = entry.value;
  LoadMakerNote();
  // A header that does not parse leaves the note without lookups; its
  // signature, when found, is still reported.
  (void)ParseMakerNoteHeader();
}

bool MakerNoteReader::HasMakerNote() const { return makerNoteSize_ > 0; }

bool MakerNoteReader::MakerNoteInData() const {
  return uint64_t{DataSize()} >= uint64_t{makerNoteOffset_} + makerNoteSize_;
}

const uint8_t* MakerNoteReader::LoadMakerNote() {
  if (!LoadedData().empty() && makerNoteSize_ > 0) {
    const auto note = Data().Sub(makerNoteOffset_, makerNoteSize_);
    makerNote_ = note ? note->data() : nullptr;
    return makerNote_;
  }
  if (makerNote_ == nullptr && makerNoteSize_ > 0) {
    SourceReader file;
    std::vector<uint8_t> bytes;
    // Fetch checks the note against the file before allocating its size.
    const auto note = OpenSource(&file) ? Fetch(&file, makerNoteOffset_, makerNoteSize_, &bytes)
                                        : std::nullopt;
    if (note) {
      // Bytes the access held were not copied: the reader keeps its own.
      if (note->data() != bytes.data()) bytes.assign(note->data(), note->data() + note->size());
      copy_ = std::move(bytes);
      makerNote_ = copy_.data();
    }
  }
  return makerNote_;
}

void MakerNoteReader::FreeMakerNote() {
  if (LoadedData().empty()) std::vector<uint8_t>().swap(copy_);
  makerNote_ = nullptr;
}

bytes::ByteView MakerNoteReader::NoteView() const {
  const bytes::ByteView none({}, makerByteOrder_);
  if (makerNote_ == nullptr) return none;
  if (!copy_.empty() && makerNote_ == copy_.data()) return bytes::ByteView(copy_, makerByteOrder_);
  // A pointer into data is trusted only while that data is still loaded.
  if (!LoadedData().empty()) {
    const auto note = Data().Sub(makerNoteOffset_, makerNoteSize_);
    if (note && note->data() == makerNote_) return note->WithOrder(makerByteOrder_);
  }
  return none;
}

bool MakerNoteReader::ParseMakerNoteHeader() {
  const bytes::ByteView note = NoteView();
  if (note.empty()) return false;
  const bool in_data = copy_.empty() || makerNote_ != copy_.data();
  if (in_data && !MakerNoteInData()) return false;
  const auto lead = note.bytes().first(static_cast<size_t>(
      std::min<uint64_t>(note.size(), kMaxSignatureLength)));
  const auto nul = std::find(lead.begin(), lead.end(), uint8_t{0});
  makerSignature_.assign(lead.begin(), nul);
  if (makerSignature_.empty()) return false;
  if (makerSignature_.size() < 3) makerSignature_.clear();

  const uint64_t s = makerSignature_.size();
  const uint64_t start = s == 0 ? kCountFirstHeader : s + kSignatureHeaderExtra;
  const auto count = note.U16(start - 2);
  makerEntryCount_ = count.value_or(0);
  if (!count || uint64_t{makerEntryCount_} * kEntrySize + start > makerNoteSize_) {
    makerEntryCount_ = 0;
    return false;
  }
  return true;
}

std::optional<bytes::ByteView> MakerNoteReader::MakerEntryTable() const {
  const bytes::ByteView note = NoteView();
  if (note.empty() || !HasMakerNote() || !MakerNoteInData() || makerEntryCount_ == 0) {
    return std::nullopt;
  }
  const uint64_t start = makerSignature_.empty() ? kCountFirstHeader
                                                : makerSignature_.size() + kSignatureHeaderExtra;
  const uint16_t size = EntryTableSize(makerEntryCount_);
  if (makerNoteSize_ < uint64_t{size} + start) return std::nullopt;
  return note.Sub(start, size);
}

bool MakerNoteReader::FindMakerEntry(IfdEntry* entry) {
  const auto table = MakerEntryTable();
  return entry != nullptr && table && FindInTable(*table, entry);
}

Outcome MakerNoteReader::CollectMakerEntries(std::vector<IfdEntry>* list) {
  const auto table = MakerEntryTable();
  if (list == nullptr) return Outcome::kRefused;
  if (!table) {
    list->clear();
    return Outcome::kAbsent;
  }
  return CollectFromTable(*table, list) != 0 ? Outcome::kDone : Outcome::kAbsent;
}

uint32_t MakerNoteReader::GetMakerEntryValue(const IfdEntry* entry, void* buffer,
                                             uint32_t capacity) {
  if (entry == nullptr || buffer == nullptr || NoteView().empty() || !HasMakerNote() ||
      !MakerNoteInData() || makerEntryCount_ == 0 || capacity < TypeSize(entry->type)) {
    return 0;
  }
  const uint32_t size = EntryValueSize(entry);
  if (size <= 4) return CopyInlineValue(*entry, size, buffer, capacity);
  // Larger values are read only from loaded data, never from the file.
  const auto value = Data().Sub(entry->value, size);
  if (!value) return 0;
  return DecodeValueBytes(value->data(), size, entry->type, Order(), buffer, capacity);
}

std::string MakerNoteReader::GetMakerSignature() {
  if (makerSignature_.empty() && makerEntryCount_ == 0) (void)ParseMakerNoteHeader();
  return makerSignature_;
}

bool MakerNoteReader::HasPrintMatching() {
  const PrintImLocation print = PrintIm();
  const bool located = print.offset != 0 && print.length != 0;
  if (HasJpegDimensions() && Jpeg().app6Offset > 0 && Jpeg().app6Length > 2 && located) return true;
  if (IsExif() && located) return true;
  if (HasMakerNote()) {
    IfdEntry entry;
    entry.tag = kMakerTagPrintIm;
    if (FindMakerEntry(&entry) && entry.type == kTypeUndefined && entry.value != 0 &&
        entry.count != 0) {
      return true;
    }
  }
  return false;
}

}  // namespace veltora::exif
