// veltora formats: the plug-in's extension table, by index.
#include <fmt/format.h>

#include <memory>
#include <nlohmann/json.hpp>

#include "host/command.h"
#include "host/file_runner.h"
#include "host/host_error.h"
#include "host/result_names.h"

namespace veltora::host {
namespace {

// A count beyond this is a broken plug-in, not a long table.
constexpr uint32_t kMaxExtensions = 256;

struct FormatsOptions {
  bool json = false;
};

int RunFormats(Host& host, const FormatsOptions& options) {
  PluginLoader& plugin = host.plugin();
  const auto get_count = VELTORA_EXPORT(plugin, GetNumOfSupportedExtentions);
  const auto get_extension = VELTORA_EXPORT(plugin, GetSupportedExtention);

  uint32_t count = 0;
  if (const HRESULT result = get_count(&count); result < 0) {
    fmt::print(stderr, "veltora: GetNumOfSupportedExtentions: {}\n", DescribeResult(result));
    return kExitFileFailed;
  }
  int status = kExitOk;
  if (count > kMaxExtensions) {
    fmt::print(stderr, "veltora: the plug-in reports {} extensions; listing the first {}\n", count,
               kMaxExtensions);
    count = kMaxExtensions;
    status = kExitFileFailed;
  }

  nlohmann::ordered_json table = nlohmann::ordered_json::array();
  for (uint32_t index = 0; index < count; ++index) {
    // The export fills at least 5 bytes; the extra room and the forced
    // terminator keep a misbehaving plug-in from running the text off.
    char buffer[16] = {};
    const HRESULT result = get_extension(static_cast<int32_t>(index), buffer);
    buffer[sizeof buffer - 1] = '\0';
    nlohmann::ordered_json entry;
    entry["Index"] = index;
    if (result < 0) {
      status = kExitFileFailed;
      entry["Error"] = ResultName(result);
      entry["ErrorCode"] = ResultHex(result);
      if (!options.json) {
        fmt::print(stderr, "veltora: GetSupportedExtention({}): {}\n", index,
                   DescribeResult(result));
      }
    } else {
      entry["Extension"] = buffer;
      if (!options.json) fmt::print(stdout, "{} {}\n", index, buffer);
    }
    table.push_back(std::move(entry));
  }
  if (options.json) fmt::print(stdout, "{}\n", DumpJson(table));
  return status;
}

CommandAction SetUpFormats(CLI::App& command) {
  auto options = std::make_shared<FormatsOptions>();
  AddJsonOption(command, options->json);
  return [options](Host& host) { return RunFormats(host, *options); };
}

const CommandRegistration kFormats({"formats", "List the supported file extensions by index", 110,
                                    &SetUpFormats});

}  // namespace
}  // namespace veltora::host
