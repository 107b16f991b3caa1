// Scratch directories, a private $TMPDIR, and running a step without root's
// power to ignore permission bits: what the file-layer tests share.
#ifndef VELTORA_TESTS_PLATFORM_FILE_SYSTEM_FIXTURE_H_
#define VELTORA_TESTS_PLATFORM_FILE_SYSTEM_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace veltora::testing {

// ReadFile and WriteFile of tests/support/temp_dir.h.
std::vector<uint8_t> ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> PatternBytes(size_t size, uint8_t seed);
uint32_t ModeOf(const std::filesystem::path& path);

// Each test gets a fresh directory `root()` (mode 0755, removed afterwards)
// with a private temp directory `temp()` (0700) that $TMPDIR (on Windows,
// TMP) points at, so
// that leftover temporary files can be found. As root it also gets
// `unprivileged_temp()`, a private temp directory of the user that
// RunUnprivileged drops to, for that child's $TMPDIR.
class FileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  const std::filesystem::path& root() const { return root_; }
  const std::filesystem::path& temp() const { return temp_; }
  const std::filesystem::path& unprivileged_temp() const { return unprivileged_temp_; }
  std::string Path(const std::string& name) const { return (root_ / name).string(); }
  // Names of *.TMP files in both temp directories and in root().
  std::vector<std::string> TempLeftovers() const;

 private:
  std::filesystem::path root_;
  std::filesystem::path temp_;
  std::filesystem::path unprivileged_temp_;
  std::optional<std::string> saved_tmpdir_;
};

#if !defined(_WIN32)
// Runs `step` in a child process and returns its value (0..255), -1 when
// the child died.
int RunInChild(const std::function<int()>& step);
// The same, but as root the child first drops to the "nobody" user, so that
// permission bits bind it as they bind a user.
int RunUnprivileged(const std::function<int()>& step);
#endif

}  // namespace veltora::testing

#endif  // VELTORA_TESTS_PLATFORM_FILE_SYSTEM_FIXTURE_H_
