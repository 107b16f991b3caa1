#include "tests/platform/file_system_fixture.h"

#if !defined(_WIN32)
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>

#include "tests/support/temp_dir.h"

namespace veltora::testing {

namespace fs = std::filesystem;

namespace {

// The variable that names the temp folder the plug-in uses.
#if defined(_WIN32)
constexpr char kTempVariable[] = "TMP";
void SetVariable(const char* name, const std::string& value) { ::_putenv_s(name, value.c_str()); }
void UnsetVariable(const char* name) { ::_putenv_s(name, ""); }
#else
constexpr char kTempVariable[] = "TMPDIR";
void SetVariable(const char* name, const std::string& value) { ::setenv(name, value.c_str(), 1); }
void UnsetVariable(const char* name) { ::unsetenv(name); }

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
#endif

}  // namespace

std::vector<uint8_t> ReadBytes(const fs::path& path) { return ReadFile(path); }

void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) { WriteFile(path, bytes); }

std::vector<uint8_t> PatternBytes(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  return bytes;
}

uint32_t ModeOf(const fs::path& path) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  return ec ? 0xFFFFFFFF : static_cast<uint32_t>(status.permissions()) & 07777;
}

void FileSystemTest::SetUp() {
  root_ = MakeUniqueDirectory(fs::temp_directory_path(), "veltora-test");
  fs::permissions(root_, fs::perms(0755));
  temp_ = root_ / "tmp";
  fs::create_directory(temp_);
  fs::permissions(temp_, fs::perms(0700));
#if !defined(_WIN32)
  if (::geteuid() == 0) {
    unprivileged_temp_ = root_ / "tmp-nobody";
    fs::create_directory(unprivileged_temp_);
    fs::permissions(unprivileged_temp_, fs::perms(0700));
    ASSERT_EQ(::chown(unprivileged_temp_.c_str(), kNobody, kNobody), 0);
  }
#endif
  if (const char* old = std::getenv(kTempVariable)) saved_tmpdir_ = old;
  SetVariable(kTempVariable, temp_.string());
}

void FileSystemTest::TearDown() {
  if (saved_tmpdir_) {
    SetVariable(kTempVariable, *saved_tmpdir_);
  } else {
    UnsetVariable(kTempVariable);
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
      if (entry.path().extension() == ".TMP") names.push_back(entry.path().string());
    }
  }
  return names;
}

#if !defined(_WIN32)
int RunInChild(const std::function<int()>& step) { return RunChild(step, false); }

int RunUnprivileged(const std::function<int()>& step) { return RunChild(step, true); }
#endif

}  // namespace veltora::testing
