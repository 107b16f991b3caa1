// veltora thumb --from PICTURE FILE... (-o OUT | --output-dir DIR | --in-place)
// [--quality N]: writes a copy of IN whose embedded thumbnail is PICTURE,
// fitted into 160 x 120; every other tag stays.
#include "host/commands/picture_replace.h"

namespace veltora::host {
namespace {

CommandAction SetUpThumb(CLI::App& command) {
  auto options = std::make_shared<PictureReplaceOptions>();
  AddPictureReplaceOptions(command, *options);
  return [options](Host& host) {
    return RunPictureReplace(host, *options, "ReplaceThumbImage",
                             VELTORA_EXPORT(host.plugin(), ReplaceThumbImage));
  };
}

const CommandRegistration kThumb({"thumb", "Replace the embedded thumbnail by a picture", 340,
                                  &SetUpThumb});

}  // namespace
}  // namespace veltora::host
