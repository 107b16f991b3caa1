// veltora set-orientation VALUE FILE... (-o OUT | --output-dir DIR |
// --in-place): sets the Orientation tag (1..8) of the main image and turns
// the thumbnail's with it. The value is patched in place where IFD0 and IFD1
// both carry the tag; otherwise the EXIF block is rebuilt (and the file says
// so), unless --no-rebuild asks for the patch alone.
#include <memory>

#include "host/command.h"
#include "host/command_options.h"
#include "host/edit_batch.h"

namespace veltora::host {
namespace {

struct SetOrientationOptions {
  EditOptions edit;
  int value = 0;
  bool rebuild = false;
  bool no_rebuild = false;
};

int RunSetOrientation(Host& host, SetOrientationOptions& options) {
  const auto set = VELTORA_EXPORT(host.plugin(), SetOrientation);
  return ForEachEdit(host, options.edit, [&](FileReport& report, const std::string& out, bool write) {
    report.Set("Orientation", options.value);
    if (!write) return;
    const char* in = report.path().c_str();
    HRESULT result = set(out.c_str(), in, options.value, options.rebuild ? 1 : 0);
    // E_FAIL from the patch alone most often means a directory lacks the tag.
    if (result == E_FAIL && !options.rebuild && !options.no_rebuild) {
      result = set(out.c_str(), in, options.value, 1);
      if (result >= 0) report.Set("Rebuilt", "the tag could not be patched in place");
    }
    report.Check("SetOrientation", result,
                 options.no_rebuild && result == E_FAIL
                     ? "patched in place only where IFD0 and IFD1 both carry Orientation; "
                       "without --no-rebuild the EXIF block is rebuilt"
                     : "");
  });
}

CommandAction SetUpSetOrientation(CLI::App& command) {
  CommandOptions add(command);
  auto options = std::make_shared<SetOrientationOptions>();
  add.Option("VALUE", options->value, "EXIF orientation 1..8").Required().Range(1, 8);
  AddEditOptions(command, options->edit);
  DeclaredOption rebuild = add.Flag("--rebuild", options->rebuild,
                                    "Rebuild the EXIF block without trying the patch first");
  add.Flag("--no-rebuild", options->no_rebuild, "Only patch the value where it lies; never rebuild")
      .Excludes(rebuild);
  return [options](Host& host) { return RunSetOrientation(host, *options); };
}

const CommandRegistration kSetOrientation({"set-orientation",
                                           "Set the Orientation tag (thumbnail turned along)",
                                           310, &SetUpSetOrientation});

}  // namespace
}  // namespace veltora::host
