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
    const bool threaded = worth_a_thread && std::thread::hardware_concurrency() > 1;
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
    EXPECT_EQ(beside_thread != std::this_thread::get_id(), threaded);
    ended = 0;  // without a thread, `beside` never starts once `here` has thrown
    EXPECT_THROW(RunSideBySide(
                     slow_beside, [] { throw std::runtime_error("here"); }, worth_a_thread),
                 std::runtime_error);
    EXPECT_EQ(ended, threaded ? 1 : 0);
    EXPECT_THROW(RunSideBySide([] { throw std::logic_error("beside"); }, [] {}, worth_a_thread),
                 std::logic_error);
  }
}

}  // namespace
}  // namespace veltora::platform
