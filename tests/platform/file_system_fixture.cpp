#include "tests/platform/file_system_fixture.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/support/temp_dir.h"

namespace veltora::testing {

namespace fs = std::filesystem;

namespace {

// The user RunUnprivileged drops to ("nobody").
constexpr uid_t kNobody = 65534;

int RunChild(const std::function<int()>& step, bool unprivileged) {
  pid_t child = ::fork();
  if (child == 0) {
    if (unprivileged && ::geteuid() == 0) {
      if (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
          ::setresuid(kNobody, kNobody, kNobody) != 0) {
        ::_exit(250);
      }
    }
    ::_exit(step() & 0xFF);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::vector<uint8_t> ReadBytes(const fs::path& path) { return ReadFile(path); }

void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) { WriteFile(path, bytes); }

std::vector<uint8_t> PatternBytes(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  return bytes;
}

uint32_t ModeOf(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0xFFFFFFFF;
}

void FileSystemTest::SetUp() {
  std::string pattern = (fs::temp_directory_path() / "veltora-test-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  root_ = pattern;
  fs::permissions(root_, fs::perms(0755));
  temp_ = root_ / "tmp";
  fs::create_directory(temp_);
  fs::permissions(temp_, fs::perms(0700));
  if (::geteuid() == 0) {
    unprivileged_temp_ = root_ / "tmp-nobody";
    fs::create_directory(unprivileged_temp_);
    fs::permissions(unprivileged_temp_, fs::perms(0700));
    ASSERT_EQ(::chown(unprivileged_temp_.c_str(), kNobody, kNobody), 0);
  }
  if (const char* old = std::getenv("TMPDIR")) saved_tmpdir_ = old;
  ::setenv("TMPDIR", temp_.c_str(), 1);
}

void FileSystemTest::TearDown() {
  if (saved_tmpdir_) {
    ::setenv("TMPDIR", saved_tmpdir_->c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
  std::error_code ec;
  for (auto& entry : fs::recursive_directory_iterator(root_, ec)) {
    fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(root_, ec);
}

std::vector<std::string> FileSystemTest::TempLeftovers() const {
  std::vector<std::string> names;
  for (const fs::path& dir : {temp_, unprivileged_temp_, root_}) {
    std::error_code ec;
    for (auto& entry : fs::directory_iterator(dir, ec)) {
      if (entry.path().extension() == ".TMP") {
        names.push_back(entry.path().string());
      }
    }
  }
  return names;
}

int RunInChild(const std::function<int()>& step) { return RunChild(step, false); }

int RunUnprivileged(const std::function<int()>& step) { return RunChild(step, true); }

}  // namespace veltora::testing
