// What `thumb` and `replace-image` share: FILE... (EXIF JPEGs or TIFFs), where
// to write, and --from PICTURE, any picture the plug-in decodes, handed to
// ReplaceThumbImage or ReplaceExifImage as the host's bitmap.
#ifndef VELTORA_HOST_COMMANDS_PICTURE_REPLACE_H_
#define VELTORA_HOST_COMMANDS_PICTURE_REPLACE_H_

#include <memory>
#include <string>

#include "host/command.h"
#include "host/command_options.h"
#include "host/edit_batch.h"
#include "host/host_error.h"

namespace veltora::host {

struct PictureReplaceOptions {
  EditOptions edit;
  std::string picture;
  int32_t quality = 90;
};

// `Replace` is ReplaceThumbImage or ReplaceExifImage; `name` its name.
template <typename Replace>
int RunPictureReplace(Host& host, PictureReplaceOptions& options, const char* name, Replace replace) {
  const auto decode = VELTORA_EXPORT(host.plugin(), Decode);
  // The picture is decoded once, before any file is written.
  const std::unique_ptr<void, decltype(&GlobalFree)> dib(decode(options.picture.c_str(), DECODE_PICTURE),
                                                         &GlobalFree);
  if (dib == nullptr) throw HostError("--from " + options.picture + ": the picture cannot be decoded");
  return ForEachEdit(host, options.edit, [&](FileReport& report, const std::string& out, bool write) {
    if (IsSameFile(out, options.picture)) {
      return report.Fail("the output " + out + " is the --from picture; refusing to replace it");
    }
    report.Set("From", options.picture);
    report.Set("Quality", options.quality);
    if (write) report.Check(name, replace(out.c_str(), report.path().c_str(), dib.get(), options.quality));
  });
}

inline void AddPictureReplaceOptions(CLI::App& command, PictureReplaceOptions& options) {
  CommandOptions add(command);
  add.Option("--from", options.picture, "Picture to take (JPEG, PNG, TIFF, BMP or GIF)").Required();
  add.Option("--quality", options.quality, "JPEG quality 1..100 (default 90)").Range(1, 100);
  AddEditOptions(command, options.edit);
}

}  // namespace veltora::host

#endif  // VELTORA_HOST_COMMANDS_PICTURE_REPLACE_H_
