// Every test process gets a temp directory of its own: ctest runs test
// processes side by side, and the plug-in's temporary files (the fixed-name
// ones of JPEG encoding among them) and the tests' checks that none are left
// behind must not meet another process's. Linked into every test executable.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

namespace fs = std::filesystem;

class PrivateTmpdir : public ::testing::Environment {
 public:
  void SetUp() override {
    fs::path root = fs::temp_directory_path();
    if (const char* build = std::getenv("VELTORA_BUILD_DIR"); build && *build) {
      root = fs::path(build) / "test-scratch";
      fs::create_directories(root);
    }
    std::string pattern = (root / "tmpdir-XXXXXX").string();
#if defined(_WIN32)
    // The user's temp directory is where TMP names (GetTempPathA).
    if (_mktemp_s(pattern.data(), pattern.size() + 1) != 0 || !fs::create_directory(pattern)) {
      throw fs::filesystem_error("_mktemp_s", pattern, std::make_error_code(std::errc::file_exists));
    }
    path_ = pattern;
    _putenv_s("TMP", path_.string().c_str());
#else
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw fs::filesystem_error("mkdtemp", pattern, std::error_code(errno, std::generic_category()));
    }
    path_ = pattern;
    // Writable by us only, yet open to search: tests that drop to another
    // user keep that user's own temp directory below this one.
    fs::permissions(path_, fs::perms(0755));
    ::setenv("TMPDIR", path_.c_str(), 1);
#endif
  }

  void TearDown() override {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }

 private:
  fs::path path_;
};

const auto* const kRegistered = ::testing::AddGlobalTestEnvironment(new PrivateTmpdir);

}  // namespace
