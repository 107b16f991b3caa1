#include "plugin/exif_writers.h"

namespace veltora {

HRESULT EncodeNewExifFile(const char*, uint32_t, HGLOBAL, int32_t, void*) { return E_FAIL; }

}  // namespace veltora
