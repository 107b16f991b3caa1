#include "platform/page_memory.h"

#include <sys/mman.h>

namespace veltora::platform {

void* PageAlloc(size_t size) {
  if (size == 0) return nullptr;
  void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

void PageFree(void* pages, size_t size) {
  if (pages != nullptr) ::munmap(pages, size);
}

}  // namespace veltora::platform
