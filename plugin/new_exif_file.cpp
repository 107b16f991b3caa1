#include "plugin/new_exif_file.h"

#include <cstring>

#include "edit/exif_editor.h"
#include "edit/ifd_builder.h"
#include "edit/rebuilt_output.h"
#include "frame/safe_replace.h"
#include "imaging/picture_io.h"
#include "platform/local_time.h"

namespace veltora {
namespace {

std::string Text(const CString& text) {
  const char* chars = CStringGet(&text);
  return chars == nullptr ? std::string() : std::string(chars);
}

// The working copy of the host's record: a record that is absent or older
// than "0120" gives no texts; a later version is taken over as it is (and
// refused by the builder). A time without year and month is the time of
// the call.
edit::TextInfo WorkingCopy(const ImageTextInfo* host) {
  edit::TextInfo info;
  if (host != nullptr && edit::TextInfoVersion(host->version) >= edit::kTextInfoVersion0120) {
    std::memcpy(info.version, host->version, sizeof info.version);
    info.description = Text(host->ImageDescription);
    info.make = Text(host->Make);
    info.model = Text(host->Model);
    info.software = Text(host->Software);
    info.captureTime = host->capture_time;
  }
  if (info.captureTime.wYear == 0 && info.captureTime.wMonth == 0) {
    info.captureTime = platform::GetLocalTime();
  }
  return info;
}

}  // namespace

HRESULT EncodeWithExif(const char* path, uint32_t flags, HGLOBAL dib, int32_t quality,
                       void* host_data) {
  const ImageTextInfo* host_info = nullptr;
  GpsTagSet* gps = nullptr;
  if ((flags & (ENCODE_NEW_EXIF_FILE | ENCODE_NEW_EXIF_GPS)) ==
      (ENCODE_NEW_EXIF_FILE | ENCODE_NEW_EXIF_GPS)) {
    if (host_data == nullptr) return E_INVALIDARG;
    const auto* pair = static_cast<const EncodeExifData*>(host_data);
    host_info = pair->text_info;
    gps = pair->gps;
  } else if ((flags & ENCODE_NEW_EXIF_FILE) != 0) {
    host_info = static_cast<const ImageTextInfo*>(host_data);
  } else {
    return E_INVALIDARG;
  }
  // Both pictures stay in memory: the editor reads the new file's picture
  // and thumbnail there, and the new file is written once.
  std::vector<uint8_t> picture, thumbnail;
  if (const int32_t saved =
          imaging::EncodeMainAndThumbnail(flags, dib, quality, &picture, &thumbnail);
      saved < 0) {
    return saved;
  }

  const edit::TextInfo info = WorkingCopy(host_info);
  exif::ExifReader source(std::span<const uint8_t>(picture), 0, 0);
  edit::ExifEditor editor(source);
  editor.TakeImageDataFrom(picture, 0);
  // The builders write DateTime and the capture dates themselves: no stamp.
  if (!Done(edit::BuildExifBlock(editor, thumbnail, info, gps)) || !editor.HasWorkBlock()) {
    return E_FAIL;
  }
  return edit::WriteEditedFile(editor, path);
}

}  // namespace veltora
