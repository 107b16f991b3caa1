// veltora orientation FILE...: the Orientation tags of the picture and of its
// thumbnail (0 when absent).
#include <memory>

#include "host/command.h"
#include "host/command_options.h"
#include "host/file_runner.h"

namespace veltora::host {
namespace {

struct OrientationOptions {
  FileOptions files;
  bool no_tiff = false;
};

CommandAction SetUpOrientation(CLI::App& command) {
  CommandOptions add(command);
  auto options = std::make_shared<OrientationOptions>();
  AddFileOptions(command, options->files);
  add.Flag("--no-tiff", options->no_tiff,
                   "Answer 0 for TIFF files without reading them, as hosts that show only "
                   "JPEG orientation ask");
  return [options](Host& host) {
    const auto get = VELTORA_EXPORT(host.plugin(), GetOrientation);
    return ForEachFile(host, options->files, [&](FileReport& report) {
      uint32_t primary = 0, thumbnail = 0;
      if (!report.Check("GetOrientation", get(report.path().c_str(), &primary, &thumbnail,
                                              options->no_tiff ? 0 : 1))) {
        return;
      }
      report.Set("Orientation", primary);
      report.Set("ThumbnailOrientation", thumbnail);
    });
  };
}

const CommandRegistration kOrientation(
    {"orientation", "Print the Orientation of each picture and its thumbnail", 205,
     &SetUpOrientation});

}  // namespace
}  // namespace veltora::host
