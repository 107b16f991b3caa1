// veltora: a command-line host for the Veltora.pcp image plug-in.
#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "host/command.h"
#include "host/host_error.h"

namespace {

using veltora::host::CommandAction;
using veltora::host::HostError;
using veltora::host::kExitCannotRun;
using veltora::host::kExitFileFailed;
using veltora::host::kExitOk;

// CLI11 gives each parse error its own exit code; the host's contract is
// 0 for help, 2 for every usage error.
int ExitForParseError(CLI::App& app, const CLI::ParseError& error) {
  const int cli_status = app.exit(error);
  return cli_status == static_cast<int>(CLI::ExitCodes::Success) ? kExitOk : kExitCannotRun;
}

int Run(int argc, char** argv) {
  CLI::App app{
      "Reads, edits and creates EXIF data and decodes, encodes and draws pictures through the "
      "Veltora.pcp plug-in.\nExit status: 0 all files succeeded, 1 a file failed, 2 the command "
      "could not run (usage, plug-in, missing export).",
      "veltora"};
  // Global options may also follow the subcommand: "veltora formats --plugin X".
  app.fallthrough();
  app.require_subcommand(0, 1);
  app.set_version_flag("--version", "veltora " VELTORA_VERSION);
  std::string plugin_option;
  app.add_option("--plugin", plugin_option,
                 "Plug-in to load (default: $VELTORA_PLUGIN, else Veltora.pcp next to veltora)");

  std::vector<std::pair<CLI::App*, CommandAction>> commands;
  for (const auto& definition : veltora::host::RegisteredCommands()) {
    CLI::App* command = app.add_subcommand(definition.name, definition.description);
    commands.emplace_back(command, definition.setup(*command));
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return ExitForParseError(app, error);
  }

  for (auto& [command, action] : commands) {
    if (!command->parsed()) continue;
    veltora::host::Host host(plugin_option);
    try {
      return action(host);
    } catch (const HostError& error) {
      std::fflush(stdout);
      fmt::print(stderr, "veltora: {}\n", error.what());
      return kExitCannotRun;
    }
  }
  fmt::print(stdout, "{}", app.help());
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  // Under a file-size limit ("ulimit -f") a write past it would kill the host
  // with SIGXFSZ halfway through, leaving a cut-off target. Ignored, the
  // write fails with EFBIG instead, and the plug-in reports 223 and puts the
  // target back. Windows has no such signal.
#if defined(SIGXFSZ)
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  try {
    return Run(argc, argv);
  } catch (const std::exception& error) {
    std::fflush(stdout);
    fmt::print(stderr, "veltora: internal error: {}\n", error.what());
    return kExitFileFailed;
  }
}
