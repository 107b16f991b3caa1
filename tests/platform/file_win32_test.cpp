// The cases only Windows has: sharing, the read-only attribute, drive letters
// and backslashes, the 260-character path limit and names in the ANSI code
// page, met through the real calls (run under Wine here).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "interface/temp_names.h"
#include "platform/file.h"
#include "platform/replacement_file.h"
#include "platform/temp_files.h"
#include "platform/win32_error.h"

namespace veltora::platform {
namespace {

class Win32FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string temp;
    ASSERT_EQ(GetTempPath(&temp), 0u);
    ASSERT_TRUE(temp.back() == '\\' || temp.back() == '/') << temp;
    root_ = temp + "veltora-" + std::to_string(::GetCurrentProcessId()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ASSERT_TRUE(::CreateDirectoryA(root_.c_str(), nullptr)) << root_;
  }
  void TearDown() override { RemoveTree(root_); }

  std::string Path(const std::string& name) const { return root_ + "\\" + name; }

  static void Write(const std::string& path, const std::string& text) {
    File file;
    ASSERT_EQ(File::Open(path.c_str(), File::Access::kCreateAlways, &file), 0u) << path;
    ASSERT_EQ(file.Write(text.data(), text.size()), 0u);
    ASSERT_EQ(file.Close(), 0u);
  }
  static std::string Read(const std::string& path) {
    File file;
    if (File::Open(path.c_str(), File::Access::kRead, &file) != 0) return "<unreadable>";
    std::vector<uint8_t> bytes;
    if (file.ReadAll(&bytes) != 0) return "<unreadable>";
    return std::string(bytes.begin(), bytes.end());
  }
  // The names in root(), sorted (Windows lists them in no set order).
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found{};
    HANDLE search = ::FindFirstFileA(Path("*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
      const std::string name = found.cFileName;
      if (name != "." && name != "..") names.push_back(name);
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string root_;

 private:
  static void RemoveTree(const std::string& dir) {
    WIN32_FIND_DATAA found{};
    HANDLE search = ::FindFirstFileA((dir + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        const std::string path = dir + "\\" + name;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
          RemoveTree(path);
        } else {
          ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
          ::DeleteFileA(path.c_str());
        }
      } while (::FindNextFileA(search, &found));
      ::FindClose(search);
    }
    ::RemoveDirectoryA(dir.c_str());
  }
};

// Another program holds the file open and shares nothing with anyone.
struct ExclusiveHolder {
  explicit ExclusiveHolder(const std::string& path)
      : handle(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~ExclusiveHolder() {
    if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
  }
  HANDLE handle;
};

TEST_F(Win32FileTest, AFileHeldWithoutSharingAnswersSharingViolationAndStaysIntact) {
  Write(Path("held.jpg"), "original");
  Write(Path("other.jpg"), "other");
  {
    ExclusiveHolder holder(Path("held.jpg"));
    ASSERT_NE(holder.handle, INVALID_HANDLE_VALUE);
    File file;
    EXPECT_EQ(File::Open(Path("held.jpg").c_str(), File::Access::kRead, &file),
              kErrorSharingViolation);
    EXPECT_EQ(File::Open(Path("held.jpg").c_str(), File::Access::kWriteExisting, &file),
              kErrorSharingViolation);
    EXPECT_EQ(File::Open(Path("held.jpg").c_str(), File::Access::kReadWriteExisting, &file),
              kErrorSharingViolation);
    EXPECT_EQ(File::Open(Path("held.jpg").c_str(), File::Access::kCreateAlways, &file),
              kErrorSharingViolation);
    EXPECT_EQ(CopyFile(Path("other.jpg").c_str(), Path("held.jpg").c_str(), false),
              kErrorSharingViolation);
    EXPECT_EQ(CopyFile(Path("held.jpg").c_str(), Path("copy.jpg").c_str(), false),
              kErrorSharingViolation);
    // The rename that would replace it fails too, and takes its new file along.
    ReplacementFile replacement;
    ASSERT_EQ(replacement.Create(Path("held.jpg").c_str(), kReplacementPrefix, nullptr), 0u);
    ASSERT_EQ(replacement.file().Write("new", 3), 0u);
    const uint32_t error = replacement.Commit(Path("held.jpg").c_str());
    EXPECT_TRUE(error == kErrorSharingViolation || error == kErrorAccessDenied) << error;
  }
  EXPECT_EQ(Read(Path("held.jpg")), "original");
  EXPECT_EQ(Names(), (std::vector<std::string>{"held.jpg", "other.jpg"}));
}

TEST_F(Win32FileTest, TheReadOnlyAttributeRefusesWritesUntilClearedAndIsPutBackExactly) {
  const std::string path = Path("locked.jpg");
  Write(path, "kept");
  const DWORD marks = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;
  ASSERT_TRUE(::SetFileAttributesA(path.c_str(), marks));
  const FileAttributes saved = GetFileAttributes(path.c_str());
  EXPECT_EQ(saved.flags, kFileAttributeReadOnly);

  File file;
  EXPECT_EQ(File::Open(path.c_str(), File::Access::kWriteExisting, &file), kErrorAccessDenied);
  EXPECT_EQ(File::Open(path.c_str(), File::Access::kCreateAlways, &file), kErrorAccessDenied);
  EXPECT_EQ(CopyFile(Path("absent").c_str(), path.c_str(), false), kErrorFileNotFound);
  EXPECT_EQ(DeleteFile(path.c_str()), kErrorAccessDenied);
  EXPECT_EQ(Read(path), "kept");

  ASSERT_EQ(SetFileAttributesNormal(path.c_str()), 0u);
  EXPECT_EQ(GetFileAttributes(path.c_str()).flags, kFileAttributeNormal);
  EXPECT_EQ(File::Open(path.c_str(), File::Access::kWriteExisting, &file), 0u);
  file.Close();
  ASSERT_EQ(SetFileAttributes(path.c_str(), saved), 0u);
  EXPECT_EQ(::GetFileAttributesA(path.c_str()), marks);

  // A copy carries the mark along, or not, as asked.
  ASSERT_EQ(CopyFile(path.c_str(), Path("copy.jpg").c_str(), false), 0u);
  EXPECT_EQ(GetFileAttributes(Path("copy.jpg").c_str()).flags, kFileAttributeReadOnly);
  ASSERT_EQ(CopyFile(path.c_str(), Path("plain.jpg").c_str(), false, false), 0u);
  EXPECT_EQ(GetFileAttributes(Path("plain.jpg").c_str()).flags, kFileAttributeNormal);
  EXPECT_EQ(Read(Path("plain.jpg")), "kept");
}

TEST_F(Win32FileTest, AReadOnlyTargetIsReplacedAndKeepsItsMarks) {
  const std::string path = Path("locked.jpg");
  Write(path, "old");
  const DWORD marks = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE;
  ASSERT_TRUE(::SetFileAttributesA(path.c_str(), marks));
  ReplacementFile replacement;
  ASSERT_EQ(replacement.Create(path.c_str(), kReplacementPrefix, path.c_str()), 0u);
  ASSERT_EQ(replacement.file().Write("new", 3), 0u);
  ASSERT_EQ(replacement.Commit(path.c_str()), 0u);
  EXPECT_EQ(Read(path), "new");
  EXPECT_EQ(::GetFileAttributesA(path.c_str()), marks);
  EXPECT_EQ(Names(), std::vector<std::string>{"locked.jpg"});
}

TEST_F(Win32FileTest, DriveLettersAndBothSeparatorsNameTheSameFiles) {
  ASSERT_TRUE(root_.size() > 2 && root_[1] == ':') << "a drive-letter temp path: " << root_;
  std::string forward = root_;
  for (char& c : forward) c = c == '\\' ? '/' : c;
  Write(forward + "/mixed.jpg", "bytes");
  EXPECT_EQ(Read(root_ + "\\mixed.jpg"), "bytes");
  EXPECT_TRUE(IsSameFile((forward + "/mixed.jpg").c_str(), (root_ + "\\MIXED.JPG").c_str()));
  EXPECT_TRUE(IsSameFile((root_ + "\\new.jpg").c_str(), (forward + "/./NEW.jpg").c_str()));
  EXPECT_FALSE(IsSameFile((root_ + "\\mixed.jpg").c_str(), (root_ + "\\new.jpg").c_str()));

  EXPECT_EQ(DirectoryOf("C:\\photos\\a.jpg"), "C:\\photos\\");
  EXPECT_EQ(DirectoryOf("C:/photos\\sub/a.jpg"), "C:/photos\\sub/");
  EXPECT_EQ(DirectoryOf("C:a.jpg"), "C:");
  EXPECT_EQ(DirectoryOf("a.jpg"), "./");
  // A temp file lands in a backslash directory named either way.
  std::string made;
  ASSERT_EQ(GetTempFileName(DirectoryOf((forward + "/x.jpg").c_str()), kProbePrefix, &made), 0u);
  EXPECT_EQ(DeleteFile(made.c_str()), 0u);
  File file;
  EXPECT_EQ(File::Open((root_ + "\\no\\dir.jpg").c_str(), File::Access::kRead, &file),
            kErrorPathNotFound);
  EXPECT_EQ(File::Open((root_ + "\\absent.jpg").c_str(), File::Access::kRead, &file),
            kErrorFileNotFound);
}

TEST_F(Win32FileTest, PathsUpToTheLimitWorkAndLongerOnesAreRefused) {
  // MAX_PATH (260) counts the terminating NUL: 259 characters is the longest
  // path the ANSI calls take.
  const auto path_of_length = [&](size_t length) {
    const std::string head = root_ + "\\";
    return head + std::string(length - head.size() - 4, 'n') + ".jpg";
  };
  ASSERT_LT(root_.size() + 10, static_cast<size_t>(MAX_PATH));
  const std::string longest = path_of_length(MAX_PATH - 1);
  ASSERT_EQ(longest.size(), 259u);
  Write(longest, "fits");
  EXPECT_EQ(Read(longest), "fits");
  EXPECT_EQ(GetFileAttributes(longest.c_str()).flags, kFileAttributeNormal);
  EXPECT_EQ(DeleteFile(longest.c_str()), 0u);

  const std::string too_long = path_of_length(MAX_PATH + 40);
  File file;
  const uint32_t error = File::Open(too_long.c_str(), File::Access::kCreateAlways, &file);
  EXPECT_TRUE(error == kErrorFilenameExceedsRange || error == kErrorPathNotFound) << error;
  EXPECT_EQ(Names(), std::vector<std::string>{});
}

TEST_F(Win32FileTest, NamesInTheAnsiCodePageArePassedThrough) {
  // A character of the upper half of the ANSI code page: what the system
  // shows for the name is that code page's reading of the bytes.
  const std::string name = "caf\xE9-\xC4.jpg";
  Write(Path(name), "ansi");
  EXPECT_EQ(Read(Path(name)), "ansi");
  wchar_t expected[64] = {};
  ASSERT_GT(::MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, expected, 64), 0);
  WIN32_FIND_DATAW found{};
  std::wstring pattern(root_.begin(), root_.end());
  HANDLE search = ::FindFirstFileW((pattern + L"\\caf*").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  ::FindClose(search);
  EXPECT_EQ(std::wstring(found.cFileName), std::wstring(expected)) << "code page " << ::GetACP();
  EXPECT_TRUE(IsSameFile(Path(name).c_str(), Path(name).c_str()));
  EXPECT_EQ(DeleteFile(Path(name).c_str()), 0u);
}

TEST_F(Win32FileTest, DirectoriesAndDevicesAreNoFiles) {
  File file;
  EXPECT_EQ(File::Open(root_.c_str(), File::Access::kRead, &file), kErrorAccessDenied);
  EXPECT_EQ(File::Open("NUL", File::Access::kRead, &file), kErrorAccessDenied);
  EXPECT_EQ(CopyFile("NUL", Path("copy").c_str(), false), kErrorAccessDenied);
  EXPECT_EQ(Names(), std::vector<std::string>{});
}

TEST_F(Win32FileTest, PositionedCallsLeaveThePositionOfReadAndWrite) {
  const std::string path = Path("f");
  File file;
  ASSERT_EQ(File::Open(path.c_str(), File::Access::kCreateAlways, &file), 0u);
  ASSERT_EQ(file.Write("0123456789", 10), 0u);
  ASSERT_EQ(file.WriteAt(2, "ab", 2), 0u);
  ASSERT_EQ(file.Write("XY", 2), 0u);
  ASSERT_EQ(file.Close(), 0u);
  EXPECT_EQ(Read(path), "01ab456789XY");

  ASSERT_EQ(File::Open(path.c_str(), File::Access::kRead, &file), 0u);
  char buffer[8] = {};
  size_t got = 0;
  ASSERT_EQ(file.Read(buffer, 3, &got), 0u);
  ASSERT_EQ(file.ReadAt(8, buffer + 3, 8, &got), 0u);
  EXPECT_EQ(got, 4u);  // the end of the file
  ASSERT_EQ(file.Read(buffer + 3, 2, &got), 0u);
  EXPECT_EQ(std::string(buffer, 5), "01ab4");
}

TEST_F(Win32FileTest, TempFilesCarryTheProcessIdAndLeftoversOfEndedProcessesGo) {
  std::string made;
  ASSERT_EQ(GetTempFileName(root_ + "\\", kReplacementPrefix, &made), 0u);
  const std::string own = made.substr(root_.size() + 1);
  const std::optional<TempNameParts> parts = ParseTempFileName(own);
  ASSERT_TRUE(parts.has_value()) << own;
  EXPECT_EQ(parts->pid, ::GetCurrentProcessId());
  EXPECT_TRUE(ProcessIsRunning(CurrentProcessId()));
  // Windows process ids are multiples of four: this one cannot run.
  const uint32_t ended = 4000000001u;
  EXPECT_FALSE(ProcessIsRunning(ended));
  const std::string leftover = TempFileName(kReplacementPrefix, ended, 0x1A);
  const std::string backup = TempFileName(kBackupPrefix, ended, 0x1B);
  Write(Path(leftover), "x");
  Write(Path(backup), "the only whole copy");
  Write(Path("~vtNEW-x.TMP"), "not ours");
  EXPECT_EQ(RemoveLeftoverTempFiles(root_ + "\\"), std::vector<std::string>{leftover});
  std::vector<std::string> kept = {own, backup, "~vtNEW-x.TMP"};
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(Names(), kept);
}

}  // namespace
}  // namespace veltora::platform
