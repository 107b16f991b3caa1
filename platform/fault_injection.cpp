#include "platform/fault_injection.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdlib>

#include "platform/hot_path.h"

namespace veltora::platform {
namespace {

// A count for every value the site type can hold, so that a new site needs no
// change here.
constexpr size_t kSiteCount = size_t{1} << (8 * sizeof(FaultSite));

// The armed fault is set up before the calls it watches and only read while
// they run; `armed` publishes it, and clearing it (one exchange) decides the
// single call that fires.
struct FaultState {
  std::atomic<bool> armed{false};
  std::atomic<bool> fired{false};
  FaultSite site = FaultSite::kAny;
  uint32_t nth = 0;
  uint32_t error = 0;
  bool kill = false;
  std::array<std::atomic<uint32_t>, kSiteCount> counts{};
};

FaultState& State() {
  static FaultState state;
  return state;
}

void Arm(FaultSite site, uint32_t nth, uint32_t error, bool kill) {
  FaultState& s = State();
  s.armed.store(false);
  s.fired.store(false);
  ResetFaultCounts();
  s.site = site;
  s.nth = nth;
  s.error = error;
  s.kill = kill;
  s.armed.store(true, std::memory_order_release);
}

}  // namespace

void ArmFault(FaultSite site, uint32_t nth, uint32_t error) { Arm(site, nth, error, false); }

void ArmKill(FaultSite site, uint32_t nth) { Arm(site, nth, 0, true); }

void DisarmFault() { State().armed.store(false); }

uint32_t FaultCallCount(FaultSite site) { return State().counts[static_cast<size_t>(site)].load(); }

void ResetFaultCounts() {
  for (auto& count : State().counts) count.store(0);
}

bool FaultFired() { return State().fired.load(); }

void KillThisProcess() {
#if defined(_WIN32)
  ::TerminateProcess(::GetCurrentProcess(), 1);
#else
  ::kill(::getpid(), SIGKILL);
#endif
  std::abort();  // not reached: the kill cannot be caught
}

VELTORA_HOT uint32_t CheckFault(FaultSite site) {
  FaultState& s = State();
  const uint32_t here = s.counts[static_cast<size_t>(site)].fetch_add(1) + 1;
  const uint32_t any = s.counts[static_cast<size_t>(FaultSite::kAny)].fetch_add(1) + 1;
  if (!s.armed.load(std::memory_order_acquire)) return 0;
  const uint32_t seen = s.site == FaultSite::kAny ? any : here;
  if ((s.site != site && s.site != FaultSite::kAny) || seen != s.nth) return 0;
  if (!s.armed.exchange(false)) return 0;  // another thread's call fired it
  s.fired.store(true);
  if (s.kill) KillThisProcess();
  return s.error;
}

}  // namespace veltora::platform
