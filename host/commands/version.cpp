// veltora version: the plug-in's version and where it was loaded from.
#include <fmt/format.h>

#include <memory>
#include <nlohmann/json.hpp>

#include "host/command.h"
#include "host/file_runner.h"
#include "host/host_error.h"
#include "host/result_names.h"

namespace veltora::host {
namespace {

struct VersionOptions {
  bool json = false;
};

// 0x00010000 is "1.0": major in the high 16 bits, minor in the low 16.
std::string VersionText(uint32_t version) {
  return fmt::format("{}.{}", version >> 16, version & 0xFFFFu);
}

int RunVersion(Host& host, const VersionOptions& options) {
  PluginLoader& plugin = host.plugin();
  const auto get_version = VELTORA_EXPORT(plugin, GetPluginVersion);
  uint32_t version = 0;
  const HRESULT result = get_version(&version);
  if (result < 0) {
    fmt::print(stderr, "veltora: GetPluginVersion: {}\n", DescribeResult(result));
    return kExitFileFailed;
  }
  std::vector<std::string> missing;
  for (std::string_view name : ExportNames()) {
    if (plugin.Symbol(std::string(name).c_str()) == nullptr) missing.emplace_back(name);
  }
  const size_t exported = ExportNames().size() - missing.size();

  if (options.json) {
    nlohmann::ordered_json object;
    object["Version"] = VersionText(version);
    object["VersionCode"] = fmt::format("0x{:08X}", version);
    object["Plugin"] = plugin.path();
    object["Exports"] = exported;
    object["MissingExports"] = missing;
    fmt::print(stdout, "{}\n", DumpJson(object));
    return kExitOk;
  }
  fmt::print(stdout, "{} {} (0x{:08X})\n", plugin.file_name(), VersionText(version), version);
  fmt::print(stdout, "Loaded from: {}\n", plugin.path());
  fmt::print(stdout, "Exports:     {} of {}\n", exported, ExportNames().size());
  if (!missing.empty()) fmt::print(stdout, "Missing:     {}\n", fmt::join(missing, " "));
  return kExitOk;
}

CommandAction SetUpVersion(CLI::App& command) {
  auto options = std::make_shared<VersionOptions>();
  AddJsonOption(command, options->json);
  return [options](Host& host) { return RunVersion(host, *options); };
}

const CommandRegistration kVersion({"version", "Print the plug-in's version and its path", 100,
                                    &SetUpVersion});

}  // namespace
}  // namespace veltora::host
