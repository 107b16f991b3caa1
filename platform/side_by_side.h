// Two independent pieces of one export's work run at once: a picture's
// encode and its thumbnail read the same pixels and write nothing shared, so
// on a machine with more than one processor the caller waits for the longer
// of the two instead of their sum.
#ifndef VELTORA_PLATFORM_SIDE_BY_SIDE_H_
#define VELTORA_PLATFORM_SIDE_BY_SIDE_H_

#include <functional>

namespace veltora::platform {

// Runs `beside` on a thread of its own while `here` runs on the calling
// thread, and returns when both have ended. An exception from either reaches
// the caller, the calling thread's first; `beside` has always ended by then,
// so both may use the caller's locals. Without `worth_a_thread` (work too
// small to pay for starting one), on a single processor, or where no thread
// can be started (a process at its limit of threads or memory), both run on
// the calling thread, `here` first.
void RunSideBySide(const std::function<void()>& beside, const std::function<void()>& here,
                   bool worth_a_thread);

}  // namespace veltora::platform

#endif  // VELTORA_PLATFORM_SIDE_BY_SIDE_H_
