#include "host/command.h"

#include <algorithm>
#include <filesystem>
#include <utility>

namespace veltora::host {
namespace {

constexpr const char* kSamplePictureName = "veltora-sample.jpg";

// A function-local static: registrations run during static initialisation of
// other translation units, in no defined order.
std::vector<CommandDefinition>& Registry() {
  static std::vector<CommandDefinition> registry;
  return registry;
}

}  // namespace

Host::Host(std::string plugin_option) : plugin_option_(std::move(plugin_option)) {}

PluginLoader& Host::plugin() {
  if (!plugin_.loaded()) plugin_.Load(LocatePlugin(plugin_option_));
  return plugin_;
}

std::string Host::SamplePicturePath() const {
  const std::string directory = ExecutableDirectory();
  if (directory.empty()) return kSamplePictureName;
  return (std::filesystem::path(directory) / kSamplePictureName).string();
}

CommandRegistration::CommandRegistration(const CommandDefinition& definition) {
  Registry().push_back(definition);
}

std::vector<CommandDefinition> RegisteredCommands() {
  std::vector<CommandDefinition> commands = Registry();
  std::sort(commands.begin(), commands.end(), [](const auto& a, const auto& b) {
    if (a.rank != b.rank) return a.rank < b.rank;
    return std::string_view(a.name) < std::string_view(b.name);
  });
  return commands;
}

}  // namespace veltora::host
