// Fuzzes the thumbnail steps of the editor. With the last input byte odd (as
// a JPEG's EOI is), the input is the file being edited: its work block gets a 160 x 120
// thumbnail attached, detached and attached again, and the rebuilt file must
// hold exactly the attached thumbnail where its IFD1 says. With it even, the
// input is the thumbnail file itself: what LoadThumbnailBytes keeps of a JPEG
// must be a stream without application segments, of a TIFF one run of the
// file's bytes. Any crash, sanitizer report, hang or broken invariant is a bug.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "edit/exif_editor.h"
#include "edit/ifd_builder.h"
#include "edit/rebuilt_output.h"
#include "edit/thumbnail_replace.h"
#include "exif/jpeg_segments.h"
#include "imaging/picture_files.h"
#include "imaging/save_jpeg.h"

namespace {

using veltora::edit::ExifEditor;

void Check(bool condition) {
  if (!condition) std::abort();
}

// A real JPEG and TIFF thumbnail, encoded once, and a private directory for
// the input file.
struct Files {
  Files() {
    char pattern[] = "/tmp/veltora-thumbnail-fuzz-XXXXXX";
    dir = ::mkdtemp(pattern);
    veltora::imaging::Bitmap b;
    veltora::imaging::CreateBitmap(&b, 160, 120, 24);
    for (size_t i = 0; i < b.pixels.size(); ++i) b.pixels.data()[i] = static_cast<uint8_t>(i * 7);
    input = dir + "/input";
    veltora::imaging::EncodeJpeg(b, 80, veltora::imaging::kJpegModeExif, &jpeg);
    veltora::imaging::EncodeFile(b, veltora::imaging::kSaveTiff, 24, &tiff);
  }
  ~Files() {
    ::unlink(input.c_str());
    ::rmdir(dir.c_str());
  }
  std::string dir, input;
  std::vector<uint8_t> jpeg, tiff;
};

const Files& TheFiles() {
  static const Files files;
  return files;
}

void EditedFile(std::span<const uint8_t> file) {
  veltora::exif::ExifReader editor_source(file, 1, 0);
  ExifEditor editor(editor_source);
  if (!veltora::exif::Done(editor.StartEdit(false))) return;
  const bool tiff = editor.IsTiffSource();
  const std::vector<uint8_t>& thumbnail = tiff ? TheFiles().tiff : TheFiles().jpeg;
  const veltora::edit::TextInfo info;
  if (!veltora::exif::Done(veltora::edit::AttachThumbnail(editor, thumbnail, info))) return;
  Check(editor.DirectoryOffset(veltora::exif::kIfd1) != 0 && !editor.Thumbnail().empty());
  Check(editor.Block().size() <= editor.BlockCapacity());
  const uint32_t attached_length = editor.Block().size();
  const std::vector<uint8_t> held(editor.Thumbnail().begin(), editor.Thumbnail().end());
  // Detaching gives back the block as it was before IFD1; attaching again
  // gives the same block and thumbnail.
  Check(veltora::exif::Done(editor.CutAppendedIfd1()) && editor.DirectoryOffset(veltora::exif::kIfd1) == 0);
  Check(editor.Thumbnail().empty());
  Check(veltora::exif::Done(veltora::edit::AttachThumbnail(editor, thumbnail, info)));
  Check(editor.Block().size() == attached_length && std::ranges::equal(editor.Thumbnail(), held));

  std::vector<uint8_t> out;
  const uint32_t written = tiff ? veltora::edit::WriteTiffLayout(editor, file, &out)
                                : veltora::edit::WriteJpegLayout(editor, file, &out);
  if (written != 0) return;
  veltora::exif::ExifReader reread(std::span<const uint8_t>(out), 1, 0);
  std::vector<uint8_t> thumbnail_read;
  if (reread.GetThumbnail(&thumbnail_read) == 0) return;  // the rest of the file hides it
  if (!tiff) Check(thumbnail_read == held);
}

void ThumbnailFile(std::span<const uint8_t> file) {
  {
    std::ofstream out(TheFiles().input, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  }
  veltora::exif::ExifReader thumbnail(TheFiles().input.c_str(), 0, 0);
  veltora::exif::ExifReader editor_source(std::span<const uint8_t>(), 0, 0);
  ExifEditor editor(editor_source);
  if (!veltora::exif::Done(veltora::edit::LoadThumbnailBytes(editor, thumbnail))) return;
  const std::span<const uint8_t> held = editor.Thumbnail();
  Check(!held.empty() && held.size() <= file.size());
  if (!thumbnail.HasJpegDimensions()) {
    Check(std::search(file.begin(), file.end(), held.begin(), held.end()) != file.end());
    return;
  }
  veltora::exif::JpegSegmentWalker walker(0, veltora::exif::SoiRule::kStandalone);
  while (const auto s = walker.Next(std::span<const uint8_t>(held))) {
    if (s->marker == veltora::exif::kJpegSos || s->marker == veltora::exif::kJpegEoi) break;
    Check((s->marker & 0xFFF0) != veltora::exif::kJpegApp0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const std::span<const uint8_t> file(data, size);
  if ((data[size - 1] & 1) == 1) {
    EditedFile(file);
  } else {
    ThumbnailFile(file);
  }
  return 0;
}
