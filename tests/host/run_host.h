// Runs the built veltora executable as a child process and collects what it
// printed, for end-to-end tests of the host's subcommands.
#ifndef VELTORA_TESTS_HOST_RUN_HOST_H_
#define VELTORA_TESTS_HOST_RUN_HOST_H_

#include <string>
#include <vector>

namespace veltora::host::testing {

struct HostRun {
  int exit_status = -1;  // -1 when the child did not exit normally or did not start
  std::string out;
  std::string err;
};

// veltora from $VELTORA_BUILD_DIR (set by ctest), else the path the build
// compiled in.
std::string HostExecutable();
// Veltora.pcp next to HostExecutable().
std::string PluginPath();
// The stand-in plug-in exporting only GetPluginVersion.
std::string StubPluginPath();
// The sample picture the build writes next to HostExecutable().
std::string SamplePicture();

// Runs veltora with `args`; `environment` entries ("NAME=value") replace the
// test's own variables. VELTORA_PLUGIN is always cleared unless given there,
// so the caller decides which plug-in loads.
HostRun RunHost(const std::vector<std::string>& args,
                const std::vector<std::string>& environment = {});

// Runs `command` through /bin/sh under a pseudo-terminal (script(1)), so the
// child's stderr is a terminal; combined output. Exit status -1 when script is
// unavailable.
HostRun RunOnTerminal(const std::string& command);

// Splits text into lines without their '\n'.
std::vector<std::string> Lines(const std::string& text);

}  // namespace veltora::host::testing

#endif  // VELTORA_TESTS_HOST_RUN_HOST_H_
