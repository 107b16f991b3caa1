// SetOrientation and SetDateTimeOriginal: single values of an existing file,
// patched where they lie when their size does not change, else (orientation
// only, when the caller allows it) by rebuilding the block.
#include "edit/orientation_edit.h"

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "edit/block_entries.h"
#include "edit/exif_editor.h"
#include "edit/rebuilt_output.h"
#include "exif/date_text.h"
#include "frame/export_guard.h"
#include "frame/format_detection.h"
#include "frame/veltora.h"
#include "platform/file.h"
#include "platform/local_time.h"

namespace veltora::edit {
namespace {

struct Turn {
  uint16_t angle;
  bool mirrored;
};

// Values 1..8 as rotation and mirroring; index 0 is unused.
constexpr Turn kTurns[9] = {{0, false},  {0, false},  {0, true},   {180, false}, {180, true},
                            {90, true},  {90, false}, {270, true}, {270, false}};

uint16_t ValueOf(uint32_t angle, bool mirrored) {
  uint16_t value = angle == 90 ? 6 : angle == 180 ? 3 : angle == 270 ? 8 : 1;
  if (!mirrored) return value;
  return value == 1 || value == 3 ? static_cast<uint16_t>(value + 1)
                                  : static_cast<uint16_t>(value - 1);
}

bool IsOrientation(int64_t v) { return v >= 1 && v <= 8; }

bool IsEditableFormat(const char* path) {
  const ImageFormat format = DetectImageFormat(path);
  return format == ImageFormat::kJpeg || format == ImageFormat::kTiff;
}

// Writes Orientation into one directory of the work block, adding the entry
// when it is missing.
bool PutOrientation(ExifEditor& editor, uint32_t code, uint16_t value) {
  const exif::IfdEntry entry{exif::kTagOrientation, exif::kTypeShort, 1, value};
  if (Done(editor.SetEntryInPlace(code, entry))) return true;
  const EntryEdit add{entry, {}};
  return editor.RewriteIfd(code, {}, std::span<const EntryEdit>(&add, 1)).Done();
}

HRESULT RebuildOrientation(ExifEditor& editor, const char* output_path, int32_t requested,
                           uint16_t primary, uint16_t thumbnail) {
  if (!Done(editor.CopyBlock())) return E_FAIL;
  if (!IsOrientation(requested) || primary > 8 || thumbnail > 8) return E_FAIL;
  if (primary == 0) primary = 1;
  if (thumbnail == 0) thumbnail = primary;
  const auto r = static_cast<uint16_t>(requested);
  if (primary != r) {
    const OrientationPair next = NewOrientations(r, primary, thumbnail);
    if (!PutOrientation(editor, exif::kIfd0, next.primary)) return E_FAIL;
    if (editor.DirectoryOffset(exif::kIfd1) != 0 && !PutOrientation(editor, exif::kIfd1, next.thumbnail)) {
      return E_FAIL;
    }
  }
  editor.PlaceDataBehindBlock();
  StampDateTime(editor);
  return WriteEditedFile(editor, output_path);
}

// Patches the orientation values in a copy of the reader's loaded block and
// writes it: through `open_file`, the file the reader reads, opened for the
// write too; else in place when `output_path` names the reader's file, or into
// a copy. Nullopt when the values cannot be patched where they lie.
std::optional<HRESULT> PatchOrientation(exif::ExifReader& reader, int32_t orientation,
                                        const char* output_path, platform::File* open_file) {
  const uint16_t primary = reader.GetOrientationTag(0);
  const uint16_t thumbnail = reader.GetOrientationTag(1);
  const std::span<const uint8_t> loaded = reader.LoadedData();
  if (loaded.empty() || !IsOrientation(orientation) || !IsOrientation(primary) ||
      !IsOrientation(thumbnail)) {
    return std::nullopt;
  }
  std::vector<uint8_t> block(loaded.begin(), loaded.end());
  const bytes::ByteOrder order = reader.Order();
  if (primary != orientation) {
    const NoteBytes note = MakerNoteBytes(block, order, reader.Ifd0Offset());
    const OrientationPair next =
        NewOrientations(static_cast<uint16_t>(orientation), primary, thumbnail);
    // Both or neither: a rebuild starts from the loaded block.
    if (!PatchShortEntry(block, order, reader.Ifd0Offset(), exif::kTagOrientation, next.primary,
                         note) ||
        !PatchShortEntry(block, order, reader.ThumbnailImage().ifdOffset, exif::kTagOrientation,
                         next.thumbnail, note)) {
      return std::nullopt;
    }
  }
  (void)StampDateTime(block, order, reader.Ifd0Offset(), platform::GetLocalTime());
  if (open_file != nullptr) return WriteLoadedBlockInPlace(reader, block, open_file);
  if (platform::IsSameFile(output_path, reader.Path().c_str())) {
    return WriteLoadedBlockInPlace(reader, block);
  }
  return CopyAndPatch(reader, block, output_path);
}

// A file edited in place that we may write is opened once, for the read and
// the write. Nullopt when it cannot be opened so (read-only, shared, not
// there) or needs more than a patch: the general way then reads it again and
// gives the answer, the rebuild's rename with no handle of ours left open.
std::optional<HRESULT> PatchOrientationThroughOneOpen(const char* path, int32_t orientation) {
  platform::File file;
  if (platform::File::Open(path, platform::File::Access::kReadWriteExisting, &file) != 0) {
    return std::nullopt;
  }
  exif::ExifReader reader(&file, path, 1, 0);
  if (!reader.IsExif()) return E_NOTEXIF;
  return PatchOrientation(reader, orientation, path, &file);
}

HRESULT SetOrientationBody(const char* output_path, const char* input_path, int32_t orientation,
                           int32_t allow_rebuild) {
  if (output_path == nullptr || input_path == nullptr || *output_path == '\0' ||
      *input_path == '\0') {
    return E_INVALIDARG;
  }
  if (!IsEditableFormat(input_path)) return E_FAIL;
  if (std::strcmp(output_path, input_path) == 0) {
    if (const auto written = PatchOrientationThroughOneOpen(input_path, orientation)) {
      return *written;
    }
  }
  exif::ExifReader reader(input_path, 1, 0);
  if (!reader.IsExif()) return E_NOTEXIF;
  if (const auto written = PatchOrientation(reader, orientation, output_path, nullptr)) {
    return *written;
  }
  ExifEditor editor(reader);
  if (allow_rebuild == 0) return E_FAIL;
  return RebuildOrientation(editor, output_path, orientation, reader.GetOrientationTag(0),
                            reader.GetOrientationTag(1));
}

// Rewrites the DateTimeOriginal text of the loaded block; false when the
// file has none of exactly 19 characters stored in 20 ASCII bytes.
bool PatchCaptureDate(const exif::ExifReader& reader, std::span<uint8_t> block,
                      const SYSTEMTIME& date) {
  const auto dir = ReadBlockDirectory(block, reader.Order(), reader.ExifIfd().offset);
  if (!dir) return false;
  for (const BlockEntry& e : dir->entries) {
    if (e.entry.tag != exif::kTagDateTimeOriginal) continue;
    if (e.entry.type != exif::kTypeAscii || e.entry.count != exif::kDateTextStoredSize) {
      return false;
    }
    const auto value = ValueBytes(block, e);
    if (!value) return false;
    const auto* chars = reinterpret_cast<const char*>(value->data());
    std::string text(chars, strnlen(chars, value->size()));
    std::string sub_second;
    if (!exif::FormatDateText(&text, &sub_second, date) ||
        text.size() != exif::kDateTextLength) {
      return false;
    }
    std::memcpy(block.data() + e.entry.value, text.c_str(), exif::kDateTextStoredSize);
    return true;
  }
  return false;
}

HRESULT SetDateTimeOriginalBody(const char* path, const SYSTEMTIME& date) {
  if (path == nullptr || *path == '\0') return E_INVALIDARG;
  if (!IsEditableFormat(path)) return E_FAIL;
  // A file we may write is opened once, for the read and the write; another
  // (read-only, shared) is read by name and takes the way round its mark.
  platform::File file;
  const bool one_open =
      platform::File::Open(path, platform::File::Access::kReadWriteExisting, &file) == 0;
  std::optional<exif::ExifReader> opened;
  if (one_open) {
    opened.emplace(&file, path, 1, 0);
  } else {
    opened.emplace(path, 1, 0);
  }
  exif::ExifReader& reader = *opened;
  if (!reader.IsExif()) return E_NOTEXIF;
  if (!platform::IsValidDateTime(date.wYear, date.wMonth, date.wDay, date.wHour, date.wMinute,
                                 date.wSecond)) {
    return E_INVALIDARG;
  }
  const std::span<const uint8_t> loaded = reader.LoadedData();
  if (loaded.empty()) return E_FAIL;
  std::vector<uint8_t> block(loaded.begin(), loaded.end());
  if (!PatchCaptureDate(reader, block, date)) return E_FAIL;
  (void)StampDateTime(block, reader.Order(), reader.Ifd0Offset(), platform::GetLocalTime());
  return WriteLoadedBlockInPlace(reader, block, one_open ? &file : nullptr);
}

}  // namespace

OrientationPair NewOrientations(uint16_t requested, uint16_t primary, uint16_t thumbnail) {
  if (!IsOrientation(requested) || !IsOrientation(primary) || !IsOrientation(thumbnail)) {
    return {primary, thumbnail};
  }
  if (primary == requested) return {primary, thumbnail};
  if (primary == thumbnail) return {requested, requested};
  const uint32_t a0 = kTurns[primary].angle;
  const uint32_t a1 = kTurns[thumbnail].angle;
  const uint32_t ar = kTurns[requested].angle;
  const uint32_t angle = ((ar - a0 + 360) % 360 + a1 + 360) % 360;
  return {requested, ValueOf(angle, kTurns[thumbnail].mirrored)};
}

}  // namespace veltora::edit

VELTORA_API HRESULT SetOrientation(const char* output_path, const char* input_path,
                                   int32_t orientation, int32_t allow_rebuild) {
  return veltora::GuardExport([&] {
    return veltora::edit::SetOrientationBody(output_path, input_path, orientation, allow_rebuild);
  });
}

VELTORA_API HRESULT SetDateTimeOriginal(const char* path, SYSTEMTIME date_time) {
  return veltora::GuardExport(
      [&] { return veltora::edit::SetDateTimeOriginalBody(path, date_time); });
}
