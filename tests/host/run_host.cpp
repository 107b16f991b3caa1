#include "run_host.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "tests/support/oracle.h"

namespace veltora::host::testing {
namespace {

// An empty VELTORA_PLUGIN counts as unset for the host.
HostRun Run(const std::vector<std::string>& argv, std::vector<std::string> environment) {
  if (std::none_of(environment.begin(), environment.end(),
                   [](const std::string& e) { return e.starts_with("VELTORA_PLUGIN="); })) {
    environment.emplace_back("VELTORA_PLUGIN=");
  }
  auto run = veltora::testing::RunTool(argv, environment);
  if (!run) return {};
  return {run->exit_code, std::move(run->out), std::move(run->err)};
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

std::string SamplePicture() {
  return (std::filesystem::path(HostExecutable()).parent_path() / "veltora-sample.jpg").string();
}

HostRun RunHost(const std::vector<std::string>& args, const std::vector<std::string>& environment) {
  std::vector<std::string> argv = {HostExecutable()};
  argv.insert(argv.end(), args.begin(), args.end());
  return Run(argv, environment);
}

HostRun RunOnTerminal(const std::string& command) {
  return Run({"/usr/bin/script", "-qec", command, "/dev/null"}, {});
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace veltora::host::testing
