// The host's own system calls, on the platform it is built for (Windows
// under Wine in the win64 build).
#include "host/system_calls.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "platform/temp_files.h"
#include "tests/support/temp_dir.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace veltora::host {
namespace {

namespace fs = std::filesystem;

TEST(SystemCallsTest, WriteAccessFollowsTheSystemsRules) {
  testing::TempDir dir;
  const fs::path file = dir / "a.jpg";
  testing::WriteFile(file, std::vector<uint8_t>{1, 2, 3});
  EXPECT_TRUE(MayWrite(file.string()));
  EXPECT_TRUE(MayWrite(dir.path().string()));
  EXPECT_FALSE(MayWrite((dir / "missing.jpg").string()));
  fs::permissions(file, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
#if defined(_WIN32)
  EXPECT_FALSE(MayWrite(file.string())) << "the read-only attribute";
#else
  EXPECT_EQ(MayWrite(file.string()), ::geteuid() == 0) << "root writes read-only files";
#endif
  fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
}

TEST(SystemCallsTest, ProcessesThatRunAndOnesThatCannot) {
  EXPECT_TRUE(ProcessIsRunning(platform::CurrentProcessId()));
  // Beyond Linux's largest process id, and a multiple of four, as every
  // Windows one is: no process has it.
  EXPECT_FALSE(ProcessIsRunning(0x7FFFFFF0u));
}

TEST(SystemCallsTest, MessagesOfTheFileErrorsEndWithoutPunctuation) {
  for (uint32_t error : {2u, 5u, 112u}) {
    const std::string message = SystemMessage(error);
    ASSERT_FALSE(message.empty()) << error;
    EXPECT_NE(message.back(), '.') << message;
    EXPECT_NE(message.back(), '\n') << message;
  }
  EXPECT_EQ(SystemMessage(0xFFFF), "");
}

TEST(SystemCallsTest, AFileIsNoTerminal) {
  testing::TempDir dir;
  std::FILE* file = std::fopen((dir / "out.txt").string().c_str(), "w");
  ASSERT_NE(file, nullptr);
  EXPECT_FALSE(IsTerminal(file));
  std::fclose(file);
}

}  // namespace
}  // namespace veltora::host
