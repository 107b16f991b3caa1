// veltora set-orientation IN VALUE (-o OUT | --output-dir DIR | --in-place)
// [--rebuild]: sets the Orientation tag (1..8) of the main image and turns
// the thumbnail's with it. The value is patched in place where both IFD0 and
// IFD1 carry the tag; --rebuild allows rewriting the EXIF block otherwise.
#include <fmt/format.h>

#include <memory>

#include "host/command.h"
#include "host/command_options.h"
#include "host/file_runner.h"
#include "host/output_path.h"

namespace veltora::host {
namespace {

struct SetOrientationOptions {
  FileOptions files;
  std::string input;
  int value = 0;
  bool rebuild = false;
  OutputOptions output;
};

int RunSetOrientation(Host& host, SetOrientationOptions& options) {
  options.files.files = {options.input};
  ValidateOutputOptions(options.output, 1);
  const auto set = VELTORA_EXPORT(host.plugin(), SetOrientation);
  return ForEachFile(host, options.files, [&](FileReport& report) {
    std::string refusal;
    const auto out =
        ResolveOutputPath(options.output, report.path(), options.files.files, refusal);
    if (!out) return report.Fail(refusal);
    const HRESULT result =
        set(out->c_str(), report.path().c_str(), options.value, options.rebuild ? 1 : 0);
    // Without --rebuild, E_FAIL most often means there was nothing to patch.
    const bool patch_only = !options.rebuild && result == E_FAIL;
    if (!report.Check("SetOrientation", result,
                      patch_only ? "patched in place only where IFD0 and IFD1 both carry "
                                   "Orientation; --rebuild rewrites the EXIF block"
                                 : "")) {
      return;
    }
    report.Set("Output", *out);
    report.Set("Orientation", options.value);
  });
}

CommandAction SetUpSetOrientation(CLI::App& command) {
  CommandOptions add(command);
  auto options = std::make_shared<SetOrientationOptions>();
  add.Option("IN", options->input, "JPEG or TIFF file with EXIF data").Required();
  add.Option("VALUE", options->value, "EXIF orientation 1..8")
      .Required()
      .Range(1, 8);
  add.Flag("--rebuild", options->rebuild,
                   "Rebuild the EXIF block when the value cannot be patched in place");
  AddOutputOptions(command, options->output);
  AddJsonOption(command, options->files.json);
  return [options](Host& host) { return RunSetOrientation(host, *options); };
}

const CommandRegistration kSetOrientation({"set-orientation",
                                           "Set the Orientation tag (thumbnail turned along)",
                                           310, &SetUpSetOrientation});

}  // namespace
}  // namespace veltora::host
