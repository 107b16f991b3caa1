// veltora replace-image IN (-o OUT | --output-dir DIR | --in-place) --from
// PICTURE [--quality N]: writes a copy of IN whose main picture is PICTURE,
// with a matching thumbnail; the EXIF data stays, its pixel dimensions
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
