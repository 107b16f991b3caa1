#include "tests/support/oracle.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace veltora::testing {

#if defined(_WIN32)

// The oracles are Linux programs, which a Windows test program does not
// start: none is found, and the tests that need one skip or leave out the
// cross-check.
bool HaveTool(std::string_view) { return false; }

std::optional<ToolResult> RunTool(const std::vector<std::string>&,
                                  const std::vector<std::string>&) {
  return std::nullopt;
}

#else

namespace {

// Closes both ends on every path.
struct Pipe {
  int fd[2] = {-1, -1};
  ~Pipe() {
    for (int f : fd) {
      if (f >= 0) close(f);
    }
  }
};

}  // namespace

bool HaveTool(std::string_view name) {
  const char* path = std::getenv("PATH");
  if (!path) return false;
  std::stringstream dirs(path);
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (!dir.empty() && access((dir + "/" + std::string(name)).c_str(), X_OK) == 0) return true;
  }
  return false;
}

std::optional<ToolResult> RunTool(const std::vector<std::string>& argv,
                                  const std::vector<std::string>& environment) {
  if (argv.empty()) return std::nullopt;
  std::vector<std::string> env_text;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view name(*entry, std::strcspn(*entry, "=") + 1);
    if (std::none_of(environment.begin(), environment.end(),
                     [&](const std::string& e) { return e.starts_with(name); })) {
      env_text.emplace_back(*entry);
    }
  }
  env_text.insert(env_text.end(), environment.begin(), environment.end());
  std::vector<char*> env;
  for (auto& entry : env_text) env.push_back(entry.data());
  env.push_back(nullptr);
  Pipe out, err;
  if (pipe2(out.fd, O_CLOEXEC) != 0 || pipe2(err.fd, O_CLOEXEC) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out.fd[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err.fd[1], 2);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return std::nullopt;
  close(out.fd[1]);
  close(err.fd[1]);
  out.fd[1] = err.fd[1] = -1;

  ToolResult result;
  pollfd fds[2] = {{out.fd[0], POLLIN, 0}, {err.fd[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_streams = 2;
  char buffer[4096];
  while (open_streams > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        fds[i].fd = -1;
        --open_streams;
      }
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

#endif

std::optional<std::map<std::string, nlohmann::json>> ExiftoolJsonEach(
    const std::vector<std::filesystem::path>& files, const std::vector<std::string>& args) {
  if (!HaveTool("exiftool")) return std::nullopt;
  std::vector<std::string> argv = {"exiftool", "-j"};
  argv.insert(argv.end(), args.begin(), args.end());
  for (const auto& f : files) argv.push_back(f.string());
  auto run = RunTool(argv);
  if (!run) return std::nullopt;
  auto parsed = nlohmann::json::parse(run->out, nullptr, /*allow_exceptions=*/false);
  if (!parsed.is_array()) return std::nullopt;
  std::map<std::string, nlohmann::json> objects;
  for (auto& object : parsed) {
    if (!object.is_object() || !object.contains("SourceFile")) continue;
    objects.emplace(object["SourceFile"].get<std::string>(), object);
  }
  return objects;
}

std::optional<nlohmann::json> ExiftoolJson(const std::filesystem::path& file,
                                           const std::vector<std::string>& extra) {
  std::vector<std::string> args = {"-n", "-G1"};
  args.insert(args.end(), extra.begin(), extra.end());
  auto objects = ExiftoolJsonEach({file}, args);
  if (!objects || objects->empty()) return std::nullopt;
  return std::move(objects->begin()->second);
}

std::optional<std::map<std::string, std::vector<std::string>>> ExiftoolValidateEach(
    const std::vector<std::filesystem::path>& files) {
  // Family 4 names repeated tags Copy1, Copy2, ... so that no warning is
  // lost to a duplicate JSON key.
  auto objects = ExiftoolJsonEach(files, {"-validate", "-warning", "-error", "-a", "-G4"});
  if (!objects) return std::nullopt;
  std::map<std::string, std::vector<std::string>> lines;
  for (const auto& [file, object] : *objects) {
    auto& out = lines[file];
    for (const auto& [key, value] : object.items()) {
      const std::string name = key.substr(key.find(':') + 1);
      if (name != "Warning" && name != "Error") continue;
      out.push_back(name + ": " + (value.is_string() ? value.get<std::string>() : value.dump()));
    }
  }
  return lines;
}

std::optional<std::vector<std::string>> ExiftoolValidate(const std::filesystem::path& file) {
  auto lines = ExiftoolValidateEach({file});
  if (!lines) return std::nullopt;
  return lines->empty() ? std::vector<std::string>{} : std::move(lines->begin()->second);
}

std::optional<Exiv2Output> Exiv2Values(const std::filesystem::path& file) {
  if (!HaveTool("exiv2")) return std::nullopt;
  auto run = RunTool({"exiv2", "-Pkv", file.string()});
  if (!run) return std::nullopt;
  Exiv2Output result{run->exit_code, run->err, {}};
  // The path appears in exiv2's messages; a copy of the file reads the same.
  const std::string path = file.string(), mark = "<file>";
  for (size_t at = result.err.find(path); at != std::string::npos;
       at = result.err.find(path, at + mark.size())) {
    result.err.replace(at, path.size(), mark);
  }
  std::stringstream text(run->out);
  for (std::string line; std::getline(text, line);) {
    // A line without a value is its key alone.
    const size_t space = line.find(' ');
    const size_t value = line.find_first_not_of(' ', space);
    result.values.emplace(line.substr(0, space),
                          value == std::string::npos ? "" : line.substr(value));
  }
  return result;
}

}  // namespace veltora::testing
