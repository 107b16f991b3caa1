// veltora decode FILE -o OUT.png|OUT.bmp [--preview]: the picture (or the
// preview embedded in its EXIF data) decoded by Decode, and the host's DIB
// written by Encode in the format the output's extension names.
#include <fmt/format.h>

#include <memory>
#include <string>

#include "host/command.h"
#include "host/command_options.h"
#include "host/file_runner.h"
#include "host/host_error.h"
#include "host/output_path.h"

namespace veltora::host {
namespace {

struct DecodeOptions {
  FileOptions files;
  std::string output;
  bool force = false;
  bool preview = false;
};

bool EndsWithNoCase(const std::string& text, const std::string& suffix) {
  if (text.size() < suffix.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[text.size() - suffix.size() + i])) != suffix[i]) return false;
  }
  return true;
}

// Quality given to Encode: the PNG and BMP writers do not use it.
constexpr int32_t kUnusedQuality = 100;

int RunDecode(Host& host, const DecodeOptions& options) {
  if (!EndsWithNoCase(options.output, ".png") && !EndsWithNoCase(options.output, ".bmp") &&
      options.output != kStandardOutput) {
    throw HostError("-o names a .png or .bmp file, or - for PNG on standard output");
  }
  if (options.files.files.size() > 1) throw HostError("decode takes one FILE");
  const auto decode = VELTORA_EXPORT(host.plugin(), Decode);
  const auto encode = VELTORA_EXPORT(host.plugin(), Encode);
  const PictureOutput output(options.output, options.force, "decoded.png");
  return ForEachFile(host, options.files, [&](FileReport& report) {
    if (const auto refusal = output.Refusal(report.path())) return report.Fail(*refusal, "output refused");
    HGLOBAL dib = decode(report.path().c_str(), options.preview ? DECODE_PREVIEW : DECODE_PICTURE);
    if (dib == nullptr) {
      report.Fail(options.preview ? "Decode: no usable preview in the file" : "Decode: the picture cannot be decoded");
      return;
    }
    if (const auto* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(dib)); header != nullptr) {
      report.Set("Width", header->biWidth);
      report.Set("Height", header->biHeight < 0 ? -int64_t{header->biHeight} : int64_t{header->biHeight});
      report.Set("BitsPerPixel", header->biBitCount);
      GlobalUnlock(dib);
    }
    report.Set("DibBytes", GlobalSize(dib));
    const HRESULT written = encode(dib, output.path().c_str(), ENCODE_BY_EXTENSION, kUnusedQuality, nullptr);
    GlobalFree(dib);  // the DIB Decode returns is ours to free
    if (!report.Check("Encode", written)) return;
    report.Set("Output", options.output);
    output.Finish();
  }, output.to_stdout() ? PrintNothing : PrintFields);
}

CommandAction SetUpDecode(CLI::App& command) {
  CommandOptions add(command);
  auto options = std::make_shared<DecodeOptions>();
  AddFileOptions(command, options->files);
  AddPictureOutputOptions(command, options->output, options->force,
                          "Write the decoded picture to OUT.png or OUT.bmp (- : PNG to stdout)");
  add.Flag("--preview", options->preview, "Decode the preview embedded in the file's EXIF data");
  return [options](Host& host) { return RunDecode(host, *options); };
}

const CommandRegistration kDecode({"decode", "Decode a picture (or its embedded preview) to PNG or BMP", 400,
                                   &SetUpDecode});

}  // namespace
}  // namespace veltora::host
