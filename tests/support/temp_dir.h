// Scratch space and file helpers for tests.
#ifndef VELTORA_TESTS_SUPPORT_TEMP_DIR_H_
#define VELTORA_TESTS_SUPPORT_TEMP_DIR_H_

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace veltora::testing {

// A fresh directory for one test, removed with everything in it when the
// object goes away. It lives under $VELTORA_BUILD_DIR/test-scratch when ctest
// sets that variable (so scratch files never mix with the temporary files the
// plug-in itself makes in $TMPDIR), else in the system's temp folder. Its name
// carries the running test's name for post-mortems. Throws
// std::filesystem::filesystem_error when it cannot be created.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// A new directory `<parent>/<prefix>-<number>`, made by this call alone.
// Throws std::filesystem::filesystem_error when none can be created.
std::filesystem::path MakeUniqueDirectory(const std::filesystem::path& parent,
                                          const std::string& prefix);

// Writes `bytes` to `path`, replacing it. Throws std::runtime_error on failure.
void WriteFile(const std::filesystem::path& path, std::span<const uint8_t> bytes);
// The whole file. Throws std::runtime_error when it cannot be read.
std::vector<uint8_t> ReadFile(const std::filesystem::path& path);

// The shared corpus of real files (<shared>/corpus), from the environment
// variable VELTORA_SHARED_DIR when set, else from the compile definition of
// the same name; nullopt when that folder does not exist, so tests can
// GTEST_SKIP.
std::optional<std::filesystem::path> CorpusDir();

}  // namespace veltora::testing

#endif  // VELTORA_TESTS_SUPPORT_TEMP_DIR_H_
