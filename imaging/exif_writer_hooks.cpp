#include "imaging/exif_writer_hooks.h"

namespace veltora::imaging {
namespace {

// EXIF writers not linked into this build: the call fails without touching
// the file system.
HRESULT NoNewExifFileWriter(const char*, uint32_t, HGLOBAL, int32_t, void*) { return E_FAIL; }
HRESULT NoJpegWithExifWriter(HGLOBAL, const char*, int32_t, void*) { return E_FAIL; }

constexpr ExifWriters kNoWriters{&NoNewExifFileWriter, &NoJpegWithExifWriter};
ExifWriters current_writers = kNoWriters;

}  // namespace

const ExifWriters& CurrentExifWriters() { return current_writers; }

ExifWriters SetExifWriters(const ExifWriters& writers) {
  const ExifWriters previous = current_writers;
  current_writers.encode_new_exif_file =
      writers.encode_new_exif_file != nullptr ? writers.encode_new_exif_file : kNoWriters.encode_new_exif_file;
  current_writers.encode_jpeg_with_exif =
      writers.encode_jpeg_with_exif != nullptr ? writers.encode_jpeg_with_exif : kNoWriters.encode_jpeg_with_exif;
  return previous;
}

}  // namespace veltora::imaging
