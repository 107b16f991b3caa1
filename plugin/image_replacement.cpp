// ReplaceThumbImage and ReplaceExifImage: a host picture encoded into memory
// by the picture savers, then put into an EXIF file by the editor
// (edit/thumbnail_replace.h) as its new thumbnail, or as its new main
// picture with a matching thumbnail.
#include <string>
#include <vector>

#include "edit/exif_editor.h"
#include "edit/ifd_builder.h"
#include "edit/rebuilt_output.h"
#include "edit/thumbnail_replace.h"
#include "frame/export_guard.h"
#include "frame/format_detection.h"
#include "frame/safe_replace.h"
#include "frame/veltora.h"
#include "imaging/picture_io.h"
#include "platform/local_time.h"

namespace veltora {
namespace {

// Format codes of the savers: the format of the file being edited.
constexpr uint32_t kFormatJpeg = 1;
constexpr uint32_t kFormatTiff = 8;
// Each step down the quality ladder that keeps a JPEG's APP1 segment within
// its 16-bit length.
constexpr int32_t kQualityStep = 5;

struct Replacement {
  const char* output;
  const char* input;
  HGLOBAL dib;
  int32_t quality;
};

// The export checks both replacements share; S_OK to go on.
HRESULT CheckArguments(const Replacement& r) {
  if (r.output == nullptr || r.input == nullptr || *r.output == '\0' || *r.input == '\0' ||
      r.dib == nullptr || r.quality < 1 || r.quality > 100) {
    return E_INVALIDARG;
  }
  const ImageFormat format = DetectImageFormat(r.input);
  if (format != ImageFormat::kJpeg && format != ImageFormat::kTiff) return E_FAIL;
  return ProbeTargetDirectory(r.output);
}

// The text record the replacements build IFD1 with: no texts, stamped now.
edit::TextInfo CurrentTextInfo() {
  edit::TextInfo info;
  info.captureTime = platform::GetLocalTime();
  return info;
}

// Attaches the thumbnail and, for a JPEG, encodes it again at falling
// quality until block and thumbnail fit one APP1 segment. A TIFF has no such
// limit. S_OK, E_FAIL, or the encoder's failure.
HRESULT AttachWithinSegment(edit::ExifEditor& editor, std::vector<uint8_t>* thumbnail, uint32_t format,
                            HGLOBAL dib, int32_t quality) {
  const edit::TextInfo info = CurrentTextInfo();
  if (!Done(edit::AttachThumbnail(editor, *thumbnail, info))) return E_FAIL;
  while (format == kFormatJpeg &&
         editor.TotalSegmentSize() + edit::kApp1Overhead > edit::kMaxSegmentLength) {
    if (!Done(editor.CutAppendedIfd1()) || quality - kQualityStep < 1) return E_FAIL;
    quality -= kQualityStep;
    if (const int32_t r = imaging::EncodeThumbnail(format, dib, quality, thumbnail); r < 0) return r;
    if (!Done(edit::AttachThumbnail(editor, *thumbnail, info))) return E_FAIL;
  }
  return S_OK;
}

HRESULT ReplaceImage(const Replacement& r, bool main_image) {
  if (const HRESULT checked = CheckArguments(r); checked != S_OK) return checked;
  exif::ExifReader source(r.input, 1, 0);
  if (!source.IsExif()) return E_NOTEXIF;
  const uint32_t format = source.IsExifJpeg() ? kFormatJpeg : kFormatTiff;
  // Both pictures are encoded into memory and written once, into the new
  // file; the editor reads them there for as long as it lives.
  std::vector<uint8_t> picture, thumbnail;
  const int32_t encoded =
      main_image ? imaging::EncodeMainAndThumbnail(format, r.dib, r.quality, &picture, &thumbnail)
                 : imaging::EncodeThumbnail(format, r.dib, r.quality, &thumbnail);
  if (encoded < 0) return encoded;
  edit::ExifEditor editor(source);
  if (main_image) {
    if (!Done(edit::ReplaceMainImage(editor, &picture))) return E_FAIL;
    // Print-matching data that cannot be dropped stays with the file, as the
    // user's data; it only tells how the old picture was to be printed.
    (void)edit::DropPrintMatching(editor);
  } else if (!Done(editor.StartEdit(false))) {
    return E_FAIL;
  }
  if (const HRESULT attached = AttachWithinSegment(editor, &thumbnail, format, r.dib, r.quality);
      attached != S_OK) {
    return attached;
  }
  if (!editor.HasWorkBlock()) return E_FAIL;
  edit::StampDateTime(editor);
  return edit::WriteEditedFile(editor, r.output);
}

}  // namespace
}  // namespace veltora

VELTORA_API HRESULT ReplaceThumbImage(const char* output_path, const char* input_path, HGLOBAL dib,
                                      int32_t quality) {
  return veltora::GuardExport([&] {
    return veltora::ReplaceImage({output_path, input_path, dib, quality}, /*main_image=*/false);
  });
}

VELTORA_API HRESULT ReplaceExifImage(const char* output_path, const char* input_path, HGLOBAL dib,
                                     int32_t quality) {
  return veltora::GuardExport([&] {
    return veltora::ReplaceImage({output_path, input_path, dib, quality}, /*main_image=*/true);
  });
}
