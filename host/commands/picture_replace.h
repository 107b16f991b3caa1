// What `thumb` and `replace-image` share: IN (an EXIF JPEG or TIFF), where
// to write, and --from PICTURE, any picture the plug-in decodes, handed to
// ReplaceThumbImage or ReplaceExifImage as the host's bitmap.
#ifndef VELTORA_HOST_COMMANDS_PICTURE_REPLACE_H_
#define VELTORA_HOST_COMMANDS_PICTURE_REPLACE_H_

#include <memory>
#include <string>

#include "host/command.h"
#include "host/command_options.h"
#include "host/file_runner.h"
#include "host/host_error.h"
#include "host/output_path.h"

namespace veltora::host {

struct PictureReplaceOptions {
  FileOptions files;
  std::string input;
  std::string picture;
  OutputOptions output;
  int32_t quality = 90;
};

// `Replace` is ReplaceThumbImage or ReplaceExifImage; `name` its name.
template <typename Replace>
int RunPictureReplace(Host& host, PictureReplaceOptions& options, const char* name, Replace replace) {
  options.files.files = {options.input};
  ValidateOutputOptions(options.output, 1);
  const auto decode = VELTORA_EXPORT(host.plugin(), Decode);
  // The picture is decoded once, before any file is written.
  const std::unique_ptr<void, decltype(&GlobalFree)> dib(decode(options.picture.c_str(), DECODE_PICTURE),
                                                         &GlobalFree);
  if (dib == nullptr) throw HostError("--from " + options.picture + ": the picture cannot be decoded");
  return ForEachFile(host, options.files, [&](FileReport& report) {
    std::string refusal;
    const auto out = ResolveOutputPath(options.output, report.path(), options.files.files, refusal);
    if (!out) return report.Fail(refusal);
    if (IsSameFile(*out, options.picture)) {
      return report.Fail("the output " + *out + " is the --from picture; refusing to replace it");
    }
    if (!report.Check(name, replace(out->c_str(), report.path().c_str(), dib.get(), options.quality))) {
      return;
    }
    report.Set("Output", *out);
    report.Set("From", options.picture);
    report.Set("Quality", options.quality);
  });
}

inline void AddPictureReplaceOptions(CLI::App& command, PictureReplaceOptions& options) {
  CommandOptions add(command);
  add.Option("IN", options.input, "JPEG or TIFF file with EXIF data").Required();
  add.Option("--from", options.picture, "Picture to take (JPEG, PNG, TIFF, BMP or GIF)").Required();
  add.Option("--quality", options.quality, "JPEG quality 1..100 (default 90)").Range(1, 100);
  AddOutputOptions(command, options.output);
  AddJsonOption(command, options.files.json);
}

}  // namespace veltora::host

#endif  // VELTORA_HOST_COMMANDS_PICTURE_REPLACE_H_
