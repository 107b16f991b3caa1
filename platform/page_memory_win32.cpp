#include "platform/page_memory.h"

#include <windows.h>

namespace veltora::platform {

void* PageAlloc(size_t size) {
  if (size == 0) return nullptr;
  return ::VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void PageFree(void* pages, size_t /*size: VirtualFree releases the whole reservation*/) {
  if (pages != nullptr) ::VirtualFree(pages, 0, MEM_RELEASE);
}

}  // namespace veltora::platform
