// Two pieces of work side by side: both run, the calling thread's exception
// wins, and the other piece has always ended when the call returns, since it
// may use the caller's locals.
#include "platform/side_by_side.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace veltora::platform {
namespace {

TEST(SideBySideTest, BothPiecesEndBeforeTheCallReturnsOrThrows) {
  for (const bool worth_a_thread : {true, false}) {
    SCOPED_TRACE(worth_a_thread);
    std::thread::id beside_thread;
    std::atomic<int> ended{0};
    const auto slow_beside = [&] {
      beside_thread = std::this_thread::get_id();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      ++ended;
    };
    RunSideBySide(
        slow_beside, [&] { ++ended; }, worth_a_thread);
    EXPECT_EQ(ended, 2);
    // Small work stays on the calling thread.
    EXPECT_EQ(beside_thread == std::this_thread::get_id(),
              !worth_a_thread || std::thread::hardware_concurrency() < 2);

    ended = 0;
    EXPECT_THROW(RunSideBySide(
                     slow_beside, [] { throw std::runtime_error("here"); }, worth_a_thread),
                 std::runtime_error);
    // Without a thread, `beside` never starts once `here` has thrown.
    EXPECT_EQ(ended, worth_a_thread && std::thread::hardware_concurrency() > 1 ? 1 : 0);

    try {
      RunSideBySide([] { throw std::logic_error("beside"); }, [&] { ++ended; }, worth_a_thread);
      ADD_FAILURE() << "beside's exception was lost";
    } catch (const std::logic_error&) {
    }
  }
}

}  // namespace
}  // namespace veltora::platform
