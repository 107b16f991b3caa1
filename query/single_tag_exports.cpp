// GetExifValue, GetExifMakerValue, GetMakerNoteValue: one tag (or a list of
// maker-note tags) read into the host's buffer or arrays.
#include <cstring>
#include <string>
#include <vector>

#include "exif/directory.h"
#include "exif/maker_note_reader.h"
#include "exif/tiff_value.h"
#include "frame/export_guard.h"
#include "frame/veltora.h"
#include "query/query_support.h"

namespace veltora::query {
namespace {

using exif::IfdEntry;
using exif::MakerNoteReader;

bool IsDirectoryCode(uint32_t directory) {
  return (directory >= exif::kIfd0 && directory <= exif::kInteropIfd) ||
         directory == exif::kIfd1;
}

// The common ending of the two value exports. `found` tells whether the
// lookup found the entry; the value is then converted by `fetch`. A value
// that cannot be delivered reports type and count 0, like an absent one.
HRESULT DeliverValue(bool found, const IfdEntry& entry, const ValueFetch& fetch, void* buffer,
                     uint32_t* buffer_size, uint16_t* type, uint32_t* count) {
  const uint32_t items = found ? fetch(&entry, buffer, *buffer_size) : 0;
  // TypeSize * items is at most the capacity: the conversion delivers only
  // whole items that fit.
  *buffer_size = items == 0 ? 0 : uint32_t{exif::TypeSize(entry.type)} * items;
  if (*buffer_size == 0) return E_FAIL;
  if (type != nullptr) *type = entry.type;
  if (count != nullptr) *count = items;
  return S_OK;
}

}  // namespace
}  // namespace veltora::query

using veltora::query::DeliverValue;

VELTORA_API HRESULT GetExifValue(const char* path, uint32_t directory, uint16_t tag, void* buffer,
                                 uint32_t* buffer_size, uint16_t* type, uint32_t* count) {
  return veltora::GuardExport([&]() -> HRESULT {
    if (path == nullptr || buffer == nullptr || buffer_size == nullptr || *buffer_size == 0 ||
        !veltora::query::IsDirectoryCode(directory)) {
      return E_INVALIDARG;
    }
    if (type != nullptr) *type = 0;
    if (count != nullptr) *count = 0;
    veltora::exif::MakerNoteReader reader(path, 1, 0);
    if (!reader.IsExif()) {
      *buffer_size = 0;
      return E_NOTEXIF;
    }
    veltora::exif::IfdEntry entry;
    entry.tag = tag;
    const bool found = Done(reader.FindEntry(directory, &entry));
    return DeliverValue(
        found, entry,
        [&](const veltora::exif::IfdEntry* e, void* out, uint32_t capacity) {
          return reader.GetEntryValue(e, out, capacity);
        },
        buffer, buffer_size, type, count);
  });
}

VELTORA_API HRESULT GetExifMakerValue(const char* path, const char* maker_signature, uint16_t tag,
                                      void* buffer, uint32_t* buffer_size, uint16_t* type,
                                      uint32_t* count) {
  return veltora::GuardExport([&]() -> HRESULT {
    if (path == nullptr || buffer == nullptr || buffer_size == nullptr || *buffer_size == 0) {
      return E_INVALIDARG;
    }
    if (type != nullptr) *type = 0;
    if (count != nullptr) *count = 0;
    veltora::exif::MakerNoteReader reader(path, 1, 0);
    if (!reader.IsExif()) {
      *buffer_size = 0;
      return E_NOTEXIF;
    }
    // Compared whole and byte for byte: a longer signature that merely
    // starts with the wanted one names another maker.
    if (maker_signature != nullptr &&
        std::strcmp(maker_signature, reader.GetMakerSignature().c_str()) != 0) {
      *buffer_size = 0;
      return E_FAIL;
    }
    veltora::exif::IfdEntry entry;
    entry.tag = tag;
    const bool found = reader.FindMakerEntry(&entry) == 1;
    return DeliverValue(
        found, entry,
        [&](const veltora::exif::IfdEntry* e, void* out, uint32_t capacity) {
          return reader.GetMakerEntryValue(e, out, capacity);
        },
        buffer, buffer_size, type, count);
  });
}

VELTORA_API HRESULT GetMakerNoteValue(const char* path, CString* maker_signature, CWordArray* tags,
                                      CDWordArray* values) {
  return veltora::GuardExport([&]() -> HRESULT {
    if (values != nullptr) ArrayRemoveAll(values);
    if (maker_signature == nullptr || tags == nullptr || values == nullptr) return E_INVALIDARG;
    if (!veltora::query::IsJpegOrTiffPath(path)) return E_FAIL;
    veltora::exif::MakerNoteReader reader(path, 1, 0);
    if (!reader.IsExif()) return E_NOTEXIF;
    if (!reader.HasMakerNote()) return E_FAIL;

    // The signature is text up to its first NUL, as the host stores it.
    const std::string file_signature = reader.GetMakerSignature().c_str();
    if (CStringLength(maker_signature) != 0) {
      if (file_signature != CStringGet(maker_signature)) {
        veltora::query::RequireGrowth(CStringSet(maker_signature, file_signature.c_str()));
        ArrayRemoveAll(tags);
        return E_ABORT;
      }
    } else {
      veltora::query::RequireGrowth(CStringSet(maker_signature, file_signature.c_str()));
    }

    std::vector<veltora::exif::IfdEntry> list;
    for (uint16_t wanted : ArrayView(tags)) {
      veltora::exif::IfdEntry entry;
      entry.tag = wanted;
      list.push_back(entry);
    }
    ArrayRemoveAll(tags);
    (void)reader.CollectMakerEntries(&list);  // an unreadable directory leaves `list` empty
    for (const veltora::exif::IfdEntry& entry : list) {
      veltora::query::RequireGrowth(ArrayAdd(tags, entry.tag) >= 0 &&
                                    ArrayAdd(values, entry.value) >= 0);
    }
    return S_OK;
  });
}
