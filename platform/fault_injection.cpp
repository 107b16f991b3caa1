#include "platform/fault_injection.h"

#include <array>
#include <cstddef>

namespace veltora::platform {
namespace {

constexpr size_t kSiteCount = 9;

struct FaultState {
  bool armed = false;
  bool fired = false;
  FaultSite site = FaultSite::kAny;
  uint32_t nth = 0;
  uint32_t error = 0;
  std::array<uint32_t, kSiteCount> counts{};
};

// Plug-in calls never overlap, so this module-wide state needs no lock.
FaultState& State() {
  static FaultState state;
  return state;
}

}  // namespace

void ArmFault(FaultSite site, uint32_t nth, uint32_t error) {
  FaultState& s = State();
  s = FaultState{};
  s.armed = true;
  s.site = site;
  s.nth = nth;
  s.error = error;
}

void DisarmFault() { State().armed = false; }

uint32_t FaultCallCount(FaultSite site) { return State().counts[static_cast<size_t>(site)]; }

void ResetFaultCounts() { State().counts.fill(0); }

bool FaultFired() { return State().fired; }

uint32_t CheckFault(FaultSite site) {
  FaultState& s = State();
  ++s.counts[static_cast<size_t>(site)];
  ++s.counts[static_cast<size_t>(FaultSite::kAny)];
  if (!s.armed) return 0;
  uint32_t seen = s.counts[static_cast<size_t>(s.site)];
  if ((s.site == site || s.site == FaultSite::kAny) && seen == s.nth) {
    s.armed = false;
    s.fired = true;
    return s.error;
  }
  return 0;
}

}  // namespace veltora::platform
