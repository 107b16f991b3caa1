// The plug-in's outer surface: version, extension table, IsSupported.
#include <cstring>

#include "frame/export_guard.h"
#include "frame/format_detection.h"
#include "frame/veltora.h"

using veltora::DetectImageFormat;
using veltora::ImageFormat;
using veltora::kExtensionTable;

VELTORA_API HRESULT GetPluginVersion(uint32_t* version) {
  if (version == nullptr) return E_INVALIDARG;
  *version = PLUGIN_VERSION;
  return S_OK;
}

VELTORA_API HRESULT GetNumOfSupportedExtentions(uint32_t* count) {
  if (count == nullptr) return E_INVALIDARG;
  *count = static_cast<uint32_t>(kExtensionTable.size());
  return S_OK;
}

// `buffer` holds at least 5 bytes; its first four are cleared before the
// index is checked, so a refused index leaves an empty text.
VELTORA_API HRESULT GetSupportedExtention(int32_t index, char* buffer) {
  if (buffer == nullptr) return E_INVALIDARG;
  std::memset(buffer, 0, 4);
  if (index < 0 || static_cast<size_t>(index) >= kExtensionTable.size()) return E_INVALIDARG;
  const char* text = kExtensionTable[static_cast<size_t>(index)];
  std::memcpy(buffer, text, std::strlen(text) + 1);
  return S_OK;
}

VELTORA_API HRESULT IsSupported(const char* path, uint32_t* supported) {
  if (supported == nullptr) return E_INVALIDARG;
  *supported = 0;
  if (path == nullptr || *path == '\0') return E_INVALIDARG;
  return veltora::GuardExport([&] {
    if (DetectImageFormat(path) == ImageFormat::kUnknown) return E_FAIL;
    *supported = 1;
    return S_OK;
  });
}
