// veltora supported FILE...: whether the plug-in handles each path (by its
// extension; the file need not exist).
#include <fmt/format.h>

#include <memory>

#include "host/command.h"
#include "host/file_runner.h"

namespace veltora::host {
namespace {

int RunSupported(Host& host, const FileOptions& options) {
  const auto is_supported = VELTORA_EXPORT(host.plugin(), IsSupported);
  return ForEachFile(
      host, options,
      [&](FileReport& report) {
        uint32_t supported = 0;
        const HRESULT result = is_supported(report.path().c_str(), &supported);
        report.Set("Supported", supported != 0);
        report.Check("IsSupported", result);
      },
      [](std::FILE* out, const FileReport& report, bool) {
        fmt::print(out, "{}: {}\n", report.path(),
                   report.TableText("Supported") == "yes" ? "supported" : "not supported");
      });
}

CommandAction SetUpSupported(CLI::App& command) {
  auto options = std::make_shared<FileOptions>();
  options->names_only = true;
  AddFileOptions(command, *options);
  return [options](Host& host) { return RunSupported(host, *options); };
}

const CommandRegistration kSupported({"supported",
                                      "Tell whether each file's extension is a supported format",
                                      120, &SetUpSupported});

}  // namespace
}  // namespace veltora::host
