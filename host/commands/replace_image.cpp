// veltora replace-image --from PICTURE [--quality N] FILE... (-o OUT |
// --output-dir DIR | --in-place): writes each FILE anew with PICTURE as its
// main picture and a matching thumbnail; the EXIF data stays, its pixel dimensions
// follow the new picture.
#include "host/commands/picture_replace.h"

namespace veltora::host {
namespace {

CommandAction SetUpReplaceImage(CLI::App& command) {
  auto options = std::make_shared<PictureReplaceOptions>();
  AddPictureReplaceOptions(command, *options);
  return [options](Host& host) {
    return RunPictureReplace(host, *options, "ReplaceExifImage",
                             VELTORA_EXPORT(host.plugin(), ReplaceExifImage));
  };
}

const CommandRegistration kReplaceImage({"replace-image",
                                         "Replace the main picture, keeping the EXIF data", 350,
                                         &SetUpReplaceImage});

}  // namespace
}  // namespace veltora::host
