#include "plugin/exif_writers.h"

namespace veltora {

HRESULT EncodeJpegWithExif(HGLOBAL, const char*, int32_t, void*) { return E_FAIL; }

}  // namespace veltora
