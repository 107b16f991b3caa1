// Subcommands of the veltora host and the context they run in.
//
// A subcommand is one file in host/commands/ that defines a setup function
// and registers it with a file-scope CommandRegistration; nothing else needs
// to change (the build picks up every commands/*.cpp). The usual shape:
//
//   CommandAction SetUpOrientation(CLI::App& command) {
//     auto options = std::make_shared<FileOptions>();
//     AddFileOptions(command, *options);                      // FILE... --json
//     return [options](Host& host) {
//       const auto get = VELTORA_EXPORT(host.plugin(), GetOrientation);  // exit 2 if absent
//       return ForEachFile(host, *options, [&](FileReport& report) {
//         uint32_t primary = 0;
//         if (!report.Check("GetOrientation", get(report.path().c_str(), &primary, nullptr, 1)))
//           return;
//         report.fields()["Orientation"] = primary;
//       });
//     };
//   }
//   const CommandRegistration kOrientation(
//       {"orientation", "Print the Orientation tag", 210, &SetUpOrientation});
//
// Writing subcommands add AddOutputOptions (output_path.h) and resolve each
// file's destination with ResolveOutputPath.
#ifndef VELTORA_HOST_COMMAND_H_
#define VELTORA_HOST_COMMAND_H_

#include <functional>
#include <string>
#include <vector>

#include "host/plugin_loader.h"

namespace CLI {
class App;
}

namespace veltora::host {

// What every subcommand can reach: the plug-in (loaded on first use, so that
// --help and usage errors never need it) and the executable's location.
class Host {
 public:
  // `plugin_option` is the --plugin value, empty when not given.
  explicit Host(std::string plugin_option);

  // The loaded plug-in. Throws HostError when it cannot be loaded.
  PluginLoader& plugin();

  // The extensions the plug-in accepts, lower case, asked once. Throws
  // HostError when the plug-in cannot list them.
  const std::vector<std::string>& PictureExtensions();

 private:
  std::string plugin_option_;
  PluginLoader plugin_;
  std::vector<std::string> extensions_;
};

// Runs a parsed subcommand; returns the exit status (host_error.h). May throw
// HostError for a condition that stops the whole command.
using CommandAction = std::function<int(Host&)>;

// Adds the subcommand's options and positionals to `command`. The storage
// they bind to must live in the returned action (capture a shared_ptr): the
// action runs after parsing, outside the setup function.
using CommandSetup = CommandAction (*)(CLI::App& command);

struct CommandDefinition {
  const char* name;
  const char* description;
  // Position in the help listing, lowest first: below 100 the main job
  // (info), 100s plug-in information,
  // 200s EXIF queries, 300s EXIF edits, 400s pictures, 500s description.
  int rank;
  CommandSetup setup;
};

// Declared at file scope in a command's file; adds the definition to the
// registry during static initialisation.
class CommandRegistration {
 public:
  explicit CommandRegistration(const CommandDefinition& definition);
};

// All registered subcommands, ordered by rank, then name.
std::vector<CommandDefinition> RegisteredCommands();

}  // namespace veltora::host

#endif  // VELTORA_HOST_COMMAND_H_
