#include "platform/side_by_side.h"

#include <future>
#include <system_error>
#include <thread>

namespace veltora::platform {

void RunSideBySide(const std::function<void()>& beside, const std::function<void()>& here,
                   bool worth_a_thread) {
  static const bool several_processors = std::thread::hardware_concurrency() > 1;
  std::future<void> other;
  if (worth_a_thread && several_processors) {
    try {
      other = std::async(std::launch::async, std::cref(beside));
    } catch (const std::system_error&) {
      // No thread to be had: the work is done one piece after the other.
    }
  }
  // Should `here` throw, the future's destructor still waits for `beside`.
  here();
  if (other.valid()) {
    other.get();
  } else {
    beside();
  }
}

}  // namespace veltora::platform
