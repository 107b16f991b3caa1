// Every writing export under real failures, one table of write paths:
// file-size limit, full disk, denied access (the injected ones at every file
// call are walked with the kills in kill_test). After a failure the target
// holds its old bytes and mode, and no temporary file is left anywhere.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>

#include "frame/veltora.h"
#include "tests/edit/edit_test_support.h"
#include "tests/platform/file_system_fixture.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/write_paths.h"

namespace veltora::testing {
namespace {

namespace fs = std::filesystem;

// A picture large enough to cross a 64 KiB size limit and fill a 128 KiB disk.
const std::vector<uint8_t>& LargeSource() {
  static const auto bytes = SpliceExif(RealJpeg(1600, 1200, 98), CameraBlock(kLittle).Bytes());
  return bytes;
}

using WriteFailureTest = FileSystemTest;

TEST_F(WriteFailureTest, FileSizeLimitRestoresTheTarget) {
  // Large enough that the rebuilt file crosses the limit while being written.
  const auto& source = LargeSource();
  ASSERT_GT(source.size(), 200000u);
  WriteBytes(Path("in.jpg"), source);
  for (const WritePath& path : WritePaths()) {
    // Of the paths that write their input, those that patch in place (and
    // the orientation's rebuild) never grow it.
    if (path.in_place || std::string_view(path.name) == "orientation rebuilt over its input") {
      continue;
    }
    SCOPED_TRACE(path.name);
    const std::string target = path.same_file ? Path("in.jpg") : Path("out.jpg");
    if (!path.same_file) WriteBytes(target, PatternBytes(5000, 3));
    const auto before = ReadBytes(target);
    const std::string in = Path("in.jpg"), fresh = Path("new.jpg");
    const int status = RunInChild([&] {
      ::signal(SIGXFSZ, SIG_IGN);
      struct rlimit limit = {65536, 65536};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 10;
      if (path.run(target, in) != path.too_large) return 1;
      // A target that did not exist is removed again.
      return path.same_file || path.run(fresh, in) == path.too_large ? 0 : 2;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadBytes(target), before);
    EXPECT_FALSE(fs::exists(fresh));
    EXPECT_TRUE(TempLeftovers().empty());
  }
}

TEST_F(WriteFailureTest, FullDiskRestoresTheTarget) {
  fs::create_directory(Path("small"));
  if (::mount("tmpfs", Path("small").c_str(), "tmpfs", 0, "size=128k") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here";
  }
  WriteBytes(Path("in.jpg"), LargeSource());
  const auto old_target = PatternBytes(40000, 5);
  for (const WritePath& path : WritePaths()) {
    if (path.same_file) continue;
    SCOPED_TRACE(path.name);
    WriteBytes(Path("small/out.jpg"), old_target);
    const HRESULT result = path.run(Path("small/out.jpg"), Path("in.jpg"));
    EXPECT_EQ(result, static_cast<HRESULT>(0x80070070u));
    EXPECT_EQ(ReadBytes(Path("small/out.jpg")), old_target);
    EXPECT_TRUE(TempLeftovers().empty());
  }
  ::umount(Path("small").c_str());
}

TEST_F(WriteFailureTest, DeniedTargetIsUntouched) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs a second user to own the files";
  fs::create_directory(Path("shared"));
  fs::permissions(Path("shared"), fs::perms(01777));
  for (const WritePath& path : WritePaths()) {
    SCOPED_TRACE(path.name);
    WriteBytes(Path("shared/in.jpg"), Source(path));  // ours, not nobody's
    fs::permissions(Path("shared/in.jpg"), fs::perms(0644));
    WriteBytes(Path("shared/out.jpg"), PatternBytes(1000, 1));
    fs::permissions(Path("shared/out.jpg"), fs::perms(0644));
    const std::string in = Path("shared/in.jpg");
    const std::string target = path.same_file ? in : Path("shared/out.jpg");
    const std::string temp = unprivileged_temp().string();
    const auto before = ReadBytes(target);
    const int status = RunUnprivileged([&] {
      ::setenv("TMPDIR", temp.c_str(), 1);
      return path.run(target, in) == static_cast<HRESULT>(0x80070005u) ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadBytes(target), before);
    EXPECT_EQ(ModeOf(target), 0644u);
    EXPECT_TRUE(TempLeftovers().empty());
    for (auto& entry : fs::directory_iterator(Path("shared"))) {
      const auto name = entry.path().filename().string();
      EXPECT_TRUE(name == "in.jpg" || name == "out.jpg") << name;
    }
  }
}

}  // namespace
}  // namespace veltora::testing
