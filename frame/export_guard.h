// The one guard every export body runs in: no exception crosses the plug-in
// boundary.
#ifndef VELTORA_FRAME_EXPORT_GUARD_H_
#define VELTORA_FRAME_EXPORT_GUARD_H_

#include <new>
#include <utility>

#include "frame/veltora.h"

namespace veltora {

// Runs `body` (returning an HRESULT); std::bad_alloc becomes E_OUTOFMEMORY,
// anything else unexpected E_FAIL.
template <typename Body>
HRESULT GuardExport(Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace veltora

#endif  // VELTORA_FRAME_EXPORT_GUARD_H_
