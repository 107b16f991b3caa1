// Whole pages straight from the system, for large loaded blocks that are
// given back in one piece.
#ifndef VELTORA_PLATFORM_PAGE_MEMORY_H_
#define VELTORA_PLATFORM_PAGE_MEMORY_H_

#include <cstddef>

namespace veltora::platform {

// Zero-filled pages of at least `size` bytes, or nullptr (also for size 0).
void* PageAlloc(size_t size);
// Releases what PageAlloc returned; `size` is the size asked for.
void PageFree(void* pages, size_t size);

}  // namespace veltora::platform

#endif  // VELTORA_PLATFORM_PAGE_MEMORY_H_
