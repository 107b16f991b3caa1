// Movable global memory: the blocks in which packed DIBs cross the boundary.
//
// The Windows calls of the same names, with the behaviour the plug-in and its
// hosts rely on:
//   - GlobalAlloc(GMEM_MOVEABLE, n) gives an opaque handle; GlobalLock gives
//     the bytes and counts locks; GlobalUnlock uncounts them. A moveable
//     block of 0 bytes is "discarded": it has a handle but cannot be locked.
//   - GlobalAlloc(GMEM_FIXED, n) gives a handle that is the pointer itself;
//     locking it returns that pointer and counts nothing.
//   - GMEM_ZEROINIT zero-fills; without it the bytes are indeterminate.
//   - GlobalFree returns null on success and the handle when it is not a
//     live block; a locked block is freed all the same.
// A DIB that Decode returns belongs to the host, which frees it with
// GlobalFree; DIBs the host passes in are never freed by the plug-in.
//
// On Windows they are the system's calls (kernel32), and a block either side
// allocates the other may free. On Linux blocks come from malloc and go back
// with free, through these inline functions compiled into each side, so a
// block allocated by the plug-in can be freed by the host and the other way
// round. Handles must come from GlobalAlloc; anything else is undefined, as
// it is on Windows.
#ifndef VELTORA_INTERFACE_GLOBAL_MEMORY_H_
#define VELTORA_INTERFACE_GLOBAL_MEMORY_H_

#if defined(_WIN32)
#include "interface/host_win32.h"
#else

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

typedef void* HGLOBAL;

constexpr uint32_t GMEM_FIXED = 0x0000;
constexpr uint32_t GMEM_MOVEABLE = 0x0002;
constexpr uint32_t GMEM_ZEROINIT = 0x0040;
constexpr uint32_t GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;
constexpr uint32_t GPTR = GMEM_FIXED | GMEM_ZEROINIT;
// GlobalFlags: low byte the lock count (saturated), plus GMEM_DISCARDED.
constexpr uint32_t GMEM_LOCKCOUNT = 0x00FF;
constexpr uint32_t GMEM_DISCARDED = 0x4000;

namespace veltora_global_memory {

// Sits in front of the bytes. 32 bytes keep the bytes at malloc's alignment
// in both models (no alignas: malloc may give less than 16 under sanitizers).
struct GlobalBlock {
  uint32_t magic;
  uint32_t flags;  // GMEM_MOVEABLE or GMEM_FIXED as allocated
  uint32_t locks;  // moveable blocks only
  uint32_t reserved0;
  uint64_t size;  // bytes asked for
  uint64_t reserved1;
};
static_assert(sizeof(GlobalBlock) == 32);

constexpr uint32_t kMagic = 0x4D4C4247u;  // "GBLM"

// Larger requests are refused (GlobalAlloc returns null) so that the header
// plus the bytes can neither wrap size_t nor exceed what a pointer difference
// can express.
constexpr size_t kMaxBytes = static_cast<size_t>(PTRDIFF_MAX) - sizeof(GlobalBlock);

// A moveable handle is the block's address with bit 0 set: it can never be
// mistaken for a fixed handle (a data pointer from malloc is even), and a
// host that uses it as a pointer without locking faults at once.
inline GlobalBlock* BlockOf(HGLOBAL handle) {
  if (handle == nullptr) return nullptr;
  const uintptr_t h = reinterpret_cast<uintptr_t>(handle);
  GlobalBlock* block = (h & 1u) != 0 ? reinterpret_cast<GlobalBlock*>(h - 1u)
                                     : reinterpret_cast<GlobalBlock*>(h - sizeof(GlobalBlock));
  if (block->magic != kMagic) return nullptr;
  const bool moveable = (block->flags & GMEM_MOVEABLE) != 0;
  if (moveable != ((h & 1u) != 0)) return nullptr;
  return block;
}

// Several threads may lock one block at once (a host encoding one DIB on two
// threads), as the Windows calls allow: the count changes atomically.
inline std::atomic_ref<uint32_t> LockCount(GlobalBlock* block) {
  return std::atomic_ref<uint32_t>(block->locks);
}

inline unsigned char* BytesOf(GlobalBlock* block) {
  return reinterpret_cast<unsigned char*>(block) + sizeof(GlobalBlock);
}

}  // namespace veltora_global_memory

// Null when the size is too large or memory is short. Flags other than
// GMEM_MOVEABLE and GMEM_ZEROINIT are accepted and ignored.
inline HGLOBAL GlobalAlloc(uint32_t flags, size_t bytes) {
  using namespace veltora_global_memory;
  if (bytes > kMaxBytes) return nullptr;
  // calloc: large zero-filled blocks come zeroed from the system, untouched until written.
  const bool zero = (flags & GMEM_ZEROINIT) != 0;
  void* raw = zero ? calloc(1, sizeof(GlobalBlock) + bytes) : malloc(sizeof(GlobalBlock) + bytes);
  if (raw == nullptr) return nullptr;
  GlobalBlock* block = static_cast<GlobalBlock*>(raw);
  block->magic = kMagic;
  block->flags = flags & GMEM_MOVEABLE;
  block->locks = 0;
  block->reserved0 = 0;
  block->reserved1 = 0;
  block->size = bytes;
  if ((flags & GMEM_MOVEABLE) == 0) return BytesOf(block);
  return reinterpret_cast<HGLOBAL>(reinterpret_cast<uintptr_t>(block) | 1u);
}

// The block's bytes, or null for a null, dead or discarded handle.
inline void* GlobalLock(HGLOBAL handle) {
  using namespace veltora_global_memory;
  GlobalBlock* block = BlockOf(handle);
  if (block == nullptr) return nullptr;
  if ((block->flags & GMEM_MOVEABLE) != 0) {
    uint32_t locks = LockCount(block).load();
    do {
      if (block->size == 0 || locks == UINT32_MAX) return nullptr;
    } while (!LockCount(block).compare_exchange_weak(locks, locks + 1));
  }
  return BytesOf(block);
}

// Non-zero while the block stays locked; 0 once the count reaches zero, for a
// block that was not locked, for a fixed block and for a bad handle.
inline int32_t GlobalUnlock(HGLOBAL handle) {
  using namespace veltora_global_memory;
  GlobalBlock* block = BlockOf(handle);
  if (block == nullptr || (block->flags & GMEM_MOVEABLE) == 0) return 0;
  uint32_t locks = LockCount(block).load();
  do {
    if (locks == 0) return 0;
  } while (!LockCount(block).compare_exchange_weak(locks, locks - 1));
  return locks != 1 ? 1 : 0;
}

// Bytes asked for at allocation; 0 for a bad handle (and a discarded block).
inline size_t GlobalSize(HGLOBAL handle) {
  using namespace veltora_global_memory;
  GlobalBlock* block = BlockOf(handle);
  return block == nullptr ? 0 : static_cast<size_t>(block->size);
}

// Lock count (saturated to GMEM_LOCKCOUNT) and GMEM_DISCARDED for a moveable
// block of 0 bytes.
inline uint32_t GlobalFlags(HGLOBAL handle) {
  using namespace veltora_global_memory;
  GlobalBlock* block = BlockOf(handle);
  if (block == nullptr) return 0;
  const uint32_t locks = LockCount(block).load();
  uint32_t result = locks < GMEM_LOCKCOUNT ? locks : GMEM_LOCKCOUNT;
  if ((block->flags & GMEM_MOVEABLE) != 0 && block->size == 0) result |= GMEM_DISCARDED;
  return result;
}

// Null on success (also for a null handle); the handle itself when it is not
// a live block.
inline HGLOBAL GlobalFree(HGLOBAL handle) {
  using namespace veltora_global_memory;
  if (handle == nullptr) return nullptr;
  GlobalBlock* block = BlockOf(handle);
  if (block == nullptr) return handle;
  block->magic = 0;
  free(block);
  return nullptr;
}

#endif  // _WIN32
#endif  // VELTORA_INTERFACE_GLOBAL_MEMORY_H_
