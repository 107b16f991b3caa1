#include "host/command.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <utility>

namespace veltora::host {
namespace {

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

const std::vector<std::string>& Host::PictureExtensions() {
  if (!extensions_.empty()) return extensions_;
  const auto get_count = VELTORA_EXPORT(plugin(), GetNumOfSupportedExtentions);
  const auto get_extension = VELTORA_EXPORT(plugin(), GetSupportedExtention);
  uint32_t count = 0;
  if (get_count(&count) < 0 || count == 0) throw HostError("the plug-in lists no extensions");
  for (int32_t index = 0; index < static_cast<int32_t>(count) && index < 64; ++index) {
    // As in `formats`: extra room and a forced terminator.
    char buffer[16] = {};
    if (get_extension(index, buffer) < 0) continue;
    buffer[sizeof buffer - 1] = '\0';
    std::string extension = buffer;
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    extensions_.push_back(std::move(extension));
  }
  return extensions_;
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
