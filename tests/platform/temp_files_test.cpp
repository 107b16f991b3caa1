#include "platform/temp_files.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <tuple>

#include "interface/temp_names.h"
#include "platform/file.h"
#include "platform/win32_error.h"
#include "tests/platform/file_system_fixture.h"

namespace veltora::platform {
namespace {

using testing::FileSystemTest;
using testing::ModeOf;
using testing::ReadBytes;
using testing::WriteBytes;
namespace fs = std::filesystem;

using TempFilesTest = FileSystemTest;
using testing::RunInChild;

TEST_F(TempFilesTest, UnsafeTmpdirFallsBackToAPrivateDirectory) {
  fs::create_directory(Path("open"));
  fs::permissions(Path("open"), fs::perms(01777));
  fs::create_directory_symlink(temp(), Path("link"));
  for (std::string unsafe : {Path("open"), Path("link"), Path("absent"), std::string("relative")}) {
    ::setenv("TMPDIR", unsafe.c_str(), 1);
    std::string dir;
    ASSERT_EQ(GetTempPath(&dir), 0u) << unsafe;
    EXPECT_EQ(dir, "/tmp/veltora-" + std::to_string(::geteuid()) + "/") << unsafe;
    struct stat st {};
    ASSERT_EQ(::lstat(dir.c_str(), &st), 0);
    EXPECT_EQ(std::tuple(S_ISDIR(st.st_mode) != 0, st.st_mode & 0777, st.st_uid),
              std::tuple(true, 0700u, ::geteuid()));
  }
}

// Made in the private $TMPDIR the fixture sets.
TEST_F(TempFilesTest, NamesFollowThePrefixHexPattern) {
  std::string a, b;
  ASSERT_EQ(MakeTempFile("PIC", &a), 0u);
  ASSERT_EQ(MakeTempFile("PIC", &b), 0u);
  EXPECT_NE(a, b);
  std::regex pattern(".*/~vtPIC-" + std::to_string(::getpid()) + "-[0-9A-F]{1,4}\\.TMP");
  EXPECT_TRUE(std::regex_match(a, pattern)) << a;
  EXPECT_EQ(std::tuple(fs::file_size(a), ModeOf(a), fs::path(a).parent_path()),
            std::tuple(0u, 0600u, temp()));
}

TEST_F(TempFilesTest, NumberingSkipsTakenNamesAndLinksWrapsAfterFFFFAndNeedsTheDirectory) {
  const std::string dir = temp().string() + "/";
  const auto ours = [](const char* prefix, uint32_t n) {
    return TempFileName(prefix, static_cast<uint32_t>(::getpid()), n);
  };
  WriteBytes(Path("victim"), {7});
  fs::create_symlink(Path("victim"), dir + ours("PIC", 0x10));
  WriteBytes(dir + ours("PIC", 0x11), {8});
  WriteBytes(dir + ours("THM", 0xFFFF), {});
  std::string path;
  ASSERT_EQ(GetTempFileName(dir, "PIC", &path, 0x10), 0u);
  EXPECT_EQ(path, dir + ours("PIC", 0x12));
  EXPECT_EQ(ReadBytes(Path("victim")), std::vector<uint8_t>{7});
  EXPECT_EQ(ReadBytes(dir + ours("PIC", 0x11)), std::vector<uint8_t>{8});
  ASSERT_EQ(GetTempFileName(dir, "THM", &path, 0xFFFF), 0u);
  EXPECT_EQ(path, dir + ours("THM", 1));
  std::string none;
  EXPECT_EQ(GetTempFileName(Path("missing") + "/", "CHK", &none), kErrorPathNotFound);
  EXPECT_TRUE(none.empty());
}

// What a killed process left goes; what a running one holds, a backup, a
// link or another program's file stays. A folder is read once per process: a
// leftover that turns up after the sweep waits for the next process, a
// forked one included.
TEST_F(TempFilesTest, LeftoversOfDeadProcessesAreRemovedOncePerProcessBackupsStay) {
  const pid_t child = ::fork();  // a process that has ended
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  const auto dead = static_cast<uint32_t>(child);
  const auto alive = static_cast<uint32_t>(::getpid());
  EXPECT_EQ(std::pair(ProcessIsRunning(dead), ProcessIsRunning(alive)), std::pair(false, true));
  const std::string dir = root().string() + "/";
  const std::vector<std::string> gone = {TempFileName("CHK", dead, 2), TempFileName("NEW", dead, 1)};
  const std::vector<std::string> kept = {TempFileName("NEW", alive, 3), TempFileName("PIC", dead, 4),
                                         "~vtNEW-x-1.TMP", "photo.jpg"};
  for (const auto& name : gone) WriteBytes(dir + name, {1});
  for (const auto& name : kept) WriteBytes(dir + name, {2});
  fs::create_symlink(Path("photo.jpg"), dir + TempFileName("THM", dead, 5));
  std::vector<std::string> removed = RemoveLeftoverTempFiles(dir);
  std::sort(removed.begin(), removed.end());
  EXPECT_EQ(removed, gone);
  for (const auto& name : kept) EXPECT_TRUE(fs::exists(dir + name)) << name;
  EXPECT_TRUE(fs::is_symlink(dir + TempFileName("THM", dead, 5)));
  EXPECT_FALSE(ParseTempFileName("~vtNEW-0-1.TMP"));
  EXPECT_EQ(ParseTempFileName(TempFileName("NEW", 4711, 0xAB))->pid, 4711u);

  const std::string first = dir + gone[1];
  WriteBytes(first, {1});
  SweepLeftoverTempFilesOnce(dir);
  EXPECT_FALSE(fs::exists(first));
  WriteBytes(first, {1});
  SweepLeftoverTempFilesOnce(dir);
  EXPECT_TRUE(fs::exists(first));
  EXPECT_EQ(RunInChild([&] { SweepLeftoverTempFilesOnce(dir); return 0; }), 0);
  EXPECT_FALSE(fs::exists(first));
}

TEST_F(TempFilesTest, AnotherUsersPlantedDirectoryIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to plant a directory as another user";
  // The fallback directory of "nobody" is planted by root, with root as owner.
  std::string planted = "/tmp/veltora-65534";
  std::error_code ec;
  fs::remove_all(planted, ec);
  ASSERT_TRUE(fs::create_directory(planted));
  fs::permissions(planted, fs::perms(0777));
  ::setenv("TMPDIR", "/nonexistent", 1);
  int status = testing::RunUnprivileged([] {
    std::string dir;
    return GetTempPath(&dir) == kErrorAccessDenied ? 0 : 1;
  });
  fs::remove_all(planted, ec);
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace veltora::platform
