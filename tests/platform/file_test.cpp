#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <tuple>

#include "platform/fault_injection.h"
#include "platform/local_time.h"
#include "platform/win32_error.h"
#include "tests/platform/file_system_fixture.h"

namespace veltora::platform {
namespace {

using testing::FileSystemTest;
using testing::ModeOf;
using testing::PatternBytes;
using testing::ReadBytes;
using testing::WriteBytes;
namespace fs = std::filesystem;

class FileTest : public FileSystemTest {};

TEST_F(FileTest, ErrnoMapsToTheWin32ErrorsTheResultCodesExpect) {
  const std::map<int, uint32_t> expected = {
      {ENOENT, kErrorFileNotFound},     {EACCES, kErrorAccessDenied},
      {ENOMEM, kErrorNotEnoughMemory},  {ENOSPC, kErrorDiskFull},
      {EEXIST, kErrorFileExists},       {ENAMETOOLONG, kErrorFilenameExceedsRange},
      {EMFILE, kErrorTooManyOpenFiles}, {EFBIG, kErrorFileTooLarge},
      {EXDEV, kErrorCannotMake},
  };
  for (const auto& [error, win32] : expected) {
    EXPECT_EQ(Win32ErrorFromErrno(error, nullptr), win32) << "errno " << error;
  }
  EXPECT_EQ(Win32ErrorFromErrno(ENOTDIR, ""), kErrorFileNotFound);
  // ENOENT tells a missing directory from a missing file.
  EXPECT_EQ(Win32ErrorFromErrno(ENOENT, Path("missing/file.jpg").c_str()), kErrorPathNotFound);
  EXPECT_EQ(Win32ErrorFromErrno(ENOENT, Path("absent.jpg").c_str()), kErrorFileNotFound);
  // Open and CopyFile report through this mapping (see their tests); an
  // empty name is refused before any call.
  File file;
  EXPECT_EQ(File::Open("", File::Access::kRead, &file), kErrorInvalidParameter);
}

TEST_F(FileTest, CreateNewNeverFollowsAPlantedLink) {
  WriteBytes(Path("victim"), {9, 9, 9});
  fs::create_symlink(Path("victim"), Path("planted"));
  File file;
  EXPECT_EQ(File::Open(Path("planted").c_str(), File::Access::kCreateNew, &file), kErrorFileExists);
  EXPECT_EQ(ReadBytes(Path("victim")), (std::vector<uint8_t>{9, 9, 9}));
}

TEST_F(FileTest, WritesReadsAndPatchesInPlace) {
  auto bytes = PatternBytes(10000, 3);
  {
    File file;
    ASSERT_EQ(File::Open(Path("f").c_str(), File::Access::kCreateAlways, &file), 0u);
    ASSERT_EQ(file.Write(bytes.data(), bytes.size()), 0u);
    EXPECT_EQ(file.Close(), 0u);
  }
  {
    File file;
    // Read, then written in place through the same open.
    ASSERT_EQ(File::Open(Path("f").c_str(), File::Access::kReadWriteExisting, &file), 0u);
    uint64_t size = 0;
    uint8_t patch[2] = {};
    size_t got = 0;
    ASSERT_EQ(file.ReadAt(4999, patch, 2, &got), 0u);
    ASSERT_EQ(file.Size(&size), 0u);
    EXPECT_EQ(std::tuple(size, got, patch[1]), std::tuple(10000u, 2u, bytes[5000]));
    ASSERT_EQ(file.Seek(5000), 0u);
    patch[0] = 0xAB;
    patch[1] = 0xCD;
    ASSERT_EQ(file.Write(patch, 2), 0u);
  }
  bytes[5000] = 0xAB;
  bytes[5001] = 0xCD;
  EXPECT_EQ(ReadBytes(Path("f")), bytes);

  File file;
  ASSERT_EQ(File::Open(Path("f").c_str(), File::Access::kRead, &file), 0u);
  uint64_t size = 0;
  ASSERT_EQ(file.Size(&size), 0u);
  EXPECT_EQ(size, 10000u);
  uint8_t tail[8];
  size_t got = 99;
  EXPECT_EQ(file.ReadAt(9996, tail, sizeof tail, &got), 0u);
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(file.ReadAt(uint64_t{1} << 40, tail, sizeof tail, &got), 0u);
  EXPECT_EQ(got, 0u);
}

// A FIFO without a writer (or reader) once held an open forever. A FIFO, a
// directory and a device are refused at once, by either end of a copy too.
TEST_F(FileTest, OnlyRegularFilesOpenAndNothingWaits) {
  ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
  WriteBytes(Path("regular"), {1});
  ::alarm(60);  // a hang ends the test run instead of blocking it
  for (const std::string& path : {Path("fifo"), root().string(), std::string("/dev/full")}) {
    for (auto access : {File::Access::kRead, File::Access::kWriteExisting,
                        File::Access::kReadWriteExisting, File::Access::kCreateAlways}) {
      File file;
      EXPECT_EQ(File::Open(path.c_str(), access, &file), kErrorAccessDenied)
          << path << " access " << static_cast<int>(access);
      EXPECT_FALSE(file.IsOpen());
    }
    // Opened unexamined (POSIX lets it), it is refused by the size query.
    File unexamined;
    if (File::Open(path.c_str(), File::Access::kReadExaminedLater, &unexamined) == 0) {
      uint64_t size = 0;
      EXPECT_EQ(unexamined.Size(&size), kErrorAccessDenied) << path;
    }
    bool opened = true;
    EXPECT_EQ(CopyFile(path.c_str(), Path("copy").c_str(), false), kErrorAccessDenied) << path;
    EXPECT_EQ(CopyFile(Path("regular").c_str(), path.c_str(), false, true, &opened),
              kErrorAccessDenied)
        << path;
    EXPECT_FALSE(opened) << path;
  }
  ::alarm(0);
  EXPECT_FALSE(fs::exists(Path("copy")));
}

TEST_F(FileTest, InjectedFaultFiresOnceAtTheNthCallOfItsSite) {
  File file;
  ASSERT_EQ(File::Open(Path("f").c_str(), File::Access::kCreateAlways, &file), 0u);
  ArmFault(FaultSite::kWrite, 2, kErrorDiskFull);
  uint8_t byte = 1;
  EXPECT_EQ(file.Write(&byte, 1), 0u);
  EXPECT_EQ(file.Write(&byte, 1), kErrorDiskFull);
  EXPECT_TRUE(FaultFired());
  EXPECT_EQ(file.Write(&byte, 1), 0u);
  EXPECT_EQ(FaultCallCount(FaultSite::kWrite), 3u);
  DisarmFault();
}

TEST_F(FileTest, AttributesFollowTheOwnerWriteBitAndRestoreExactly) {
  WriteBytes(Path("f"), {1});
  fs::permissions(Path("f"), fs::perms(0440));
  FileAttributes saved = GetFileAttributes(Path("f").c_str());
  ASSERT_TRUE(saved.Valid());
  EXPECT_EQ(saved.flags, kFileAttributeReadOnly);
  ASSERT_EQ(SetFileAttributesNormal(Path("f").c_str()), 0u);
  EXPECT_EQ(ModeOf(Path("f")), 0640u);
  EXPECT_EQ(GetFileAttributes(Path("f").c_str()).flags, kFileAttributeNormal);
  ASSERT_EQ(SetFileAttributes(Path("f").c_str(), saved), 0u);
  EXPECT_EQ(ModeOf(Path("f")), 0440u);
  EXPECT_FALSE(GetFileAttributes(Path("absent").c_str()).Valid());
  EXPECT_EQ(GetFileAttributes(root().c_str()).flags, kFileAttributeDirectory);
}

TEST_F(FileTest, CopyKeepsBytesAndModeOrOnlyBytesWhenAsked) {
  auto bytes = PatternBytes(3 << 20, 5);  // more than one copy chunk
  WriteBytes(Path("src"), bytes);
  fs::permissions(Path("src"), fs::perms(0604));
  bool opened = false;
  ASSERT_EQ(CopyFile(Path("src").c_str(), Path("dst").c_str(), false, true, &opened), 0u);
  EXPECT_TRUE(opened);
  EXPECT_EQ(ReadBytes(Path("dst")), bytes);
  EXPECT_EQ(ModeOf(Path("dst")), 0604u);
  EXPECT_EQ(CopyFile(Path("src").c_str(), Path("dst").c_str(), true, true, &opened),
            kErrorFileExists);
  EXPECT_FALSE(opened);

  WriteBytes(Path("kept"), {1});
  fs::permissions(Path("kept"), fs::perms(0660));
  ASSERT_EQ(CopyFile(Path("src").c_str(), Path("kept").c_str(), false, false), 0u);
  EXPECT_EQ(ModeOf(Path("kept")), 0660u);
  EXPECT_EQ(CopyFile(Path("absent").c_str(), Path("x").c_str(), false), kErrorFileNotFound);
  EXPECT_EQ(CopyFile(Path("src").c_str(), Path("no/dir/x").c_str(), false), kErrorPathNotFound);
}

TEST_F(FileTest, DeleteAndIdentity) {
  WriteBytes(Path("a"), {1});
  fs::create_hard_link(Path("a"), Path("b"));
  EXPECT_TRUE(IsSameFile(Path("a").c_str(), Path("b").c_str()));
  EXPECT_TRUE(IsSameFile(Path("a").c_str(), (root() / "." / "a").c_str()));
  EXPECT_FALSE(IsSameFile(Path("a").c_str(), Path("A").c_str()));  // case matters here
  EXPECT_TRUE(IsSameFile(Path("new").c_str(), (root() / "tmp" / ".." / "new").c_str()));
  EXPECT_EQ(DeleteFile(Path("a").c_str()), 0u);
  EXPECT_EQ(DeleteFile(Path("a").c_str()), kErrorFileNotFound);
  EXPECT_EQ(DeleteFile(root().c_str()), kErrorAccessDenied);
  EXPECT_EQ(std::tuple(DirectoryOf("photo.jpg"), DirectoryOf("/a/b.jpg"), DirectoryOf("/b.jpg")),
            std::tuple("./", "/a/", "/"));
}

// Root may write any file; the plug-in still honours the mark, and a
// refused open does not truncate. A file created without the bit (a copy of
// a read-only file) is written all the same.
TEST_F(FileTest, TheReadOnlyMarkRefusesWritesForEveryUser) {
  WriteBytes(Path("f"), {1, 2, 3});
  WriteBytes(Path("src"), {4, 5});
  fs::permissions(Path("f"), fs::perms(0444));
  fs::permissions(Path("src"), fs::perms(0444));
  File file;
  EXPECT_EQ(File::Open(Path("f").c_str(), File::Access::kCreateAlways, &file), kErrorAccessDenied);
  EXPECT_EQ(File::Open(Path("f").c_str(), File::Access::kWriteExisting, &file), kErrorAccessDenied);
  EXPECT_EQ(File::Open(Path("f").c_str(), File::Access::kReadWriteExisting, &file),
            kErrorAccessDenied);
  EXPECT_EQ(CopyFile(Path("src").c_str(), Path("f").c_str(), false), kErrorAccessDenied);
  EXPECT_EQ(ReadBytes(Path("f")), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(File::Open(Path("f").c_str(), File::Access::kRead, &file), 0u);
  EXPECT_EQ(CopyFile(Path("src").c_str(), Path("copy").c_str(), false, true), 0u);
  EXPECT_EQ(ReadBytes(Path("copy")), (std::vector<uint8_t>{4, 5}));
  EXPECT_EQ(ModeOf(Path("copy")), 0444u);
}

TEST_F(FileTest, PermissionDenialIsAccessDeniedForAUser) {
  fs::create_directory(Path("locked"));
  WriteBytes(Path("locked/f"), {1});
  fs::permissions(Path("locked/f"), fs::perms(0444));
  fs::permissions(Path("locked"), fs::perms(0555));
  std::string inside = Path("locked/new"), file = Path("locked/f");
  int status = testing::RunUnprivileged([&] {
    File f;
    if (File::Open(inside.c_str(), File::Access::kCreateAlways, &f) != kErrorAccessDenied) return 1;
    if (File::Open(file.c_str(), File::Access::kWriteExisting, &f) != kErrorAccessDenied) return 2;
    if (DeleteFile(file.c_str()) != kErrorAccessDenied) return 3;
    return 0;
  });
  EXPECT_EQ(status, 0);
}

TEST(LocalTimeTest, CalendarCheck) {
  // Years below 100 are dates too: the only upper bound is 9999.
  const struct {
    int year, month, day, hour, minute, second;
    bool valid;
  } cases[] = {
      {2024, 2, 29, 23, 59, 59, true}, {2023, 2, 29, 0, 0, 0, false}, {2000, 2, 29, 0, 0, 0, true},
      {1900, 2, 29, 0, 0, 0, false},   {2024, 4, 31, 0, 0, 0, false}, {2024, 13, 1, 0, 0, 0, false},
      {2024, 0, 1, 0, 0, 0, false},    {2024, 1, 0, 0, 0, 0, false},  {2024, 1, 1, 24, 0, 0, false},
      {2024, 1, 1, 0, 60, 0, false},   {2024, 1, 1, 0, 0, 60, false}, {0, 1, 1, 0, 0, 0, true},
      {99, 12, 31, 23, 59, 59, true},  {-1, 12, 31, 0, 0, 0, false},  {10000, 1, 1, 0, 0, 0, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsValidDateTime(c.year, c.month, c.day, c.hour, c.minute, c.second), c.valid)
        << c.year << "-" << c.month << "-" << c.day << " " << c.hour << ":" << c.minute << ":"
        << c.second;
  }
  SYSTEMTIME now = GetLocalTime();
  EXPECT_TRUE(
      IsValidDateTime(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond));
  EXPECT_LT(now.wMilliseconds, 1000);
}

}  // namespace
}  // namespace veltora::platform
