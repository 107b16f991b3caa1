#include "run_host.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace veltora::host::testing {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Temp files for the child's stdout and stderr, removed on destruction.
class CaptureFiles {
 public:
  CaptureFiles() {
    char pattern[] = "/tmp/veltora-host-test-XXXXXX";
    const char* directory = mkdtemp(pattern);
    directory_ = directory != nullptr ? directory : "/tmp";
  }
  ~CaptureFiles() {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }
  CaptureFiles(const CaptureFiles&) = delete;
  CaptureFiles& operator=(const CaptureFiles&) = delete;
  std::string out() const { return directory_ + "/out"; }
  std::string err() const { return directory_ + "/err"; }

 private:
  std::string directory_;
};

HostRun Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment) {
  CaptureFiles capture;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, capture.out().c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, capture.err().c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);

  std::vector<char*> child_argv;
  for (const auto& arg : argv) child_argv.push_back(const_cast<char*>(arg.c_str()));
  child_argv.push_back(nullptr);

  std::vector<std::string> env_text;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "VELTORA_PLUGIN=", 15) != 0) env_text.emplace_back(*entry);
  }
  env_text.insert(env_text.end(), environment.begin(), environment.end());
  std::vector<char*> child_env;
  for (auto& entry : env_text) child_env.push_back(entry.data());
  child_env.push_back(nullptr);

  HostRun run;
  pid_t pid = 0;
  const int spawned =
      posix_spawn(&pid, child_argv[0], &actions, nullptr, child_argv.data(), child_env.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    run.err = std::string("posix_spawn failed: ") + std::strerror(spawned);
    return run;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) run.exit_status = WEXITSTATUS(status);
  run.out = ReadAll(capture.out());
  run.err = ReadAll(capture.err());
  return run;
}

}  // namespace

std::string HostExecutable() {
  if (const char* build = std::getenv("VELTORA_BUILD_DIR"); build != nullptr && *build != '\0') {
    return std::string(build) + "/veltora";
  }
  return VELTORA_HOST_EXECUTABLE;
}

std::string PluginPath() {
  return (std::filesystem::path(HostExecutable()).parent_path() / "Veltora.pcp").string();
}

std::string StubPluginPath() { return VELTORA_STUB_PLUGIN; }

HostRun RunHost(const std::vector<std::string>& args, const std::vector<std::string>& environment) {
  std::vector<std::string> argv = {HostExecutable()};
  argv.insert(argv.end(), args.begin(), args.end());
  return Spawn(argv, environment);
}

HostRun RunOnTerminal(const std::string& command) {
  if (access("/usr/bin/script", X_OK) != 0) return {};
  return Spawn({"/usr/bin/script", "-qec", command, "/dev/null"}, {});
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace veltora::host::testing
