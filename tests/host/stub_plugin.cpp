// A plug-in with a single export and a version of its own (2.3), so a test
// can tell it was the one loaded.
#include "frame/veltora.h"

VELTORA_API HRESULT GetPluginVersion(uint32_t* version) {
  if (version == nullptr) return E_INVALIDARG;
  *version = 0x00020003u;
  return S_OK;
}
