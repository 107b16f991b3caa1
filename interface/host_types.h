// Types that cross the boundary between a host program and Veltora.pcp.
//
// Layout rule: every record here has fixed offsets under the 32-bit model
// (pointers 4 bytes, little-endian), the model the hosts were built for; holes
// in that layout are spelled out as reserved fields so that no offset depends
// on the compiler's padding. Under x86-64 the same declarations give the
// natural 64-bit layout (pointers 8 bytes, aligned), which is what a 64-bit
// host compiled from this header uses. tests/interface pins both.
//
// Zero rule: an all-zero object of any type declared here is a valid, empty
// object (empty text, empty array, empty list, mask 0). Records made with
// calloc or memset therefore need no further construction.
//
// Memory rule: everything a host object owns (characters, array elements,
// list nodes, blobs, global memory) is allocated with malloc/realloc and
// released with free, by inline helpers compiled into each side, so either
// side may release what the other allocated. The helpers export no symbol.
#ifndef VELTORA_INTERFACE_HOST_TYPES_H_
#define VELTORA_INTERFACE_HOST_TYPES_H_

#include "interface/global_memory.h"
#include "interface/host_objects.h"
#include "interface/host_records.h"
#include "interface/host_win32.h"

#endif  // VELTORA_INTERFACE_HOST_TYPES_H_
