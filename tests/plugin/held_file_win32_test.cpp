// The exports on files that Windows itself guards: a file another program
// holds open, and the read-only attribute. A holder that shares nothing
// keeps every export from reading; one that shares reading only lets the
// reads in and keeps the writes out. Either way the file stays as it was.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "frame/veltora.h"
#include "tests/edit/edit_test_support.h"
#include "tests/support/temp_dir.h"

namespace veltora::testing {
namespace {

constexpr HRESULT kSharingViolation = HRESULT_FROM_WIN32(32);

class HeldFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = CameraBlock(kLittle, 1, 1).WriteJpeg(dir_).string();
    before_ = ReadFile(path_);
    gps_.Tags({1, 2, 3, 4}).Position('N', 48, 'E', 2);
  }
  void TearDown() override {
    if (holder_ != INVALID_HANDLE_VALUE) ::CloseHandle(holder_);
  }
  // Another program's handle on the file, reading, sharing `share`.
  void Hold(DWORD share) {
    holder_ = ::CreateFileA(path_.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder_, INVALID_HANDLE_VALUE) << ::GetLastError();
  }
  // The three kinds of call: a query, a patch in place, a rebuild in place.
  struct Answers {
    HRESULT query, patch, rebuild;
  };
  Answers Call() {
    uint32_t primary = 0;
    return {GetOrientation(path_.c_str(), &primary, nullptr, 0),
            SetOrientation(path_.c_str(), path_.c_str(), 6, 0),
            ReplaceExifGps(path_.c_str(), path_.c_str(), 90, &gps_.set)};
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  TempDir dir_;
  std::string path_;
  std::vector<uint8_t> before_;
  GpsSet gps_;
  HANDLE holder_ = INVALID_HANDLE_VALUE;
};

TEST_F(HeldFileTest, AHolderSharingNothingKeepsEveryExportOut) {
  Hold(0);
  const Answers answers = Call();
  // The file cannot be read, so it shows no EXIF data to any export.
  EXPECT_EQ(answers.query, E_NOTEXIF);
  EXPECT_EQ(answers.patch, E_NOTEXIF);
  EXPECT_EQ(answers.rebuild, E_NOTEXIF);
  ::CloseHandle(holder_);
  holder_ = INVALID_HANDLE_VALUE;
  EXPECT_EQ(ReadFile(path_), before_);
  EXPECT_EQ(Names(), std::vector<std::string>{"exif.jpg"}) << "no temporary file is left";
}

TEST_F(HeldFileTest, AHolderSharingReadingOnlyLetsQueriesInAndKeepsWritesOut) {
  Hold(FILE_SHARE_READ);
  const Answers answers = Call();
  EXPECT_EQ(answers.query, S_OK);
  EXPECT_EQ(answers.patch, kSharingViolation);
  // The rebuilt file cannot take the held file's name: Windows answers a
  // replacement of a file open without delete sharing with access denied.
  EXPECT_EQ(answers.rebuild, HRESULT_FROM_WIN32(5));
  ::CloseHandle(holder_);
  holder_ = INVALID_HANDLE_VALUE;
  EXPECT_EQ(ReadFile(path_), before_);
  EXPECT_EQ(Names(), std::vector<std::string>{"exif.jpg"}) << "no temporary file is left";
}

TEST_F(HeldFileTest, ReadOnlyFilesAreEditedAndKeepTheirAttribute) {
  ASSERT_TRUE(::SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_READONLY));
  const Answers answers = Call();
  EXPECT_EQ(answers.query, S_OK);
  EXPECT_EQ(answers.patch, S_OK);
  EXPECT_EQ(answers.rebuild, S_OK);
  EXPECT_EQ(::GetFileAttributesA(path_.c_str()) & FILE_ATTRIBUTE_READONLY,
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  uint32_t primary = 0;
  EXPECT_EQ(GetOrientation(path_.c_str(), &primary, nullptr, 0), S_OK);
  EXPECT_EQ(primary, 6u);
  EXPECT_EQ(Names(), std::vector<std::string>{"exif.jpg"}) << "no temporary file is left";
  ::SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
}  // namespace veltora::testing
