// veltora encode IN -o OUT [--format jpeg|png|tiff|bmp|gif] [--quality N]: IN
// decoded by Decode, its DIB written by Encode in the format --format or
// else OUT's extension names. With --new-exif (JPEG or TIFF) the file gets a
// new EXIF block built from --make, --model, ... and --lat/--lon; with --exif
// RECORDS.json (JPEG only) a block built from the records of a JSON file.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "host/command.h"
#include "host/command_options.h"
#include "host/commands/new_exif_options.h"
#include "host/file_runner.h"
#include "host/host_error.h"
#include "host/output_path.h"
#include "host/record_json.h"

namespace veltora::host {
namespace {

const std::map<std::string, uint32_t> kFormats = {
    {"jpeg", ENCODE_JPEG}, {"png", ENCODE_PNG}, {"tiff", ENCODE_TIFF}, {"bmp", ENCODE_BMP}, {"gif", ENCODE_GIF}};

struct EncodeOptions {
  FileOptions files;
  std::string output;
  bool force = false;
  std::string format;
  int32_t quality = 90;
  NewExifOptions new_exif;
  std::string exif_records;
};

// Whether the path ends in one of the extensions, in any case.
bool HasExtension(const std::string& path, std::initializer_list<const char*> extensions) {
  std::string ext = std::filesystem::path(path).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return std::find(extensions.begin(), extensions.end(), ext) != extensions.end();
}

// The format: --format, else the output's extension.
std::string ChosenFormat(const EncodeOptions& o) {
  ValidateNewExifOptions(o.new_exif);
  std::string format = o.format;
  if (format.empty()) {
    if (HasExtension(o.output, {".jpg", ".jpeg", ".jpe"})) format = "jpeg";
    if (HasExtension(o.output, {".tif", ".tiff"})) format = "tiff";
    if (HasExtension(o.output, {".png"})) format = "png";
    if (HasExtension(o.output, {".bmp"})) format = "bmp";
    if (HasExtension(o.output, {".gif"})) format = "gif";
  }
  if (!o.exif_records.empty() && o.new_exif.enabled) {
    throw HostError("--exif and --new-exif each make the whole EXIF block: give one of them");
  }
  if (!o.exif_records.empty() && (format != "jpeg" || (o.output != kStandardOutput &&
                                                        !HasExtension(o.output, {".jpg", ".jpeg"})))) {
    throw HostError("--exif writes JPEG only: give --format jpeg and a .jpg or .jpeg output");
  }
  if (o.new_exif.enabled && format != "jpeg" && format != "tiff") {
    throw HostError("--new-exif writes JPEG or TIFF: give --format jpeg or tiff");
  }
  if (format.empty()) throw HostError("give --format: the extension of -o names no format");
  return format;
}

int RunEncode(Host& host, const EncodeOptions& options) {
  if (options.files.files.size() > 1) throw HostError("encode takes one IN file");
  const std::string format = ChosenFormat(options);
  std::optional<NewExifData> new_exif;
  if (options.new_exif.enabled) new_exif.emplace(options.new_exif);
  uint32_t flags = kFormats.at(format) | (new_exif ? new_exif->flags() : 0);
  std::optional<OwnedRecords> records;
  if (!options.exif_records.empty()) {
    records.emplace(ReadRecordsFile(options.exif_records));
    // The block is built around IFD0 and the EXIF directory: without their
    // records the plug-in could only answer E_FAIL.
    if (ImageInfoListFind(records->list(), INFO_TIFF_MAIN) == nullptr ||
        ImageInfoListFind(records->list(), INFO_EXIF) == nullptr) {
      throw HostError(options.exif_records + ": --exif needs a TiffMain and an Exif record");
    }
    flags |= ENCODE_EXIF | ENCODE_EXIF_RECORDS;
  }
  void* host_data = records ? records->list() : new_exif ? new_exif->host_data() : nullptr;
  const auto decode = VELTORA_EXPORT(host.plugin(), Decode);
  const auto encode = VELTORA_EXPORT(host.plugin(), Encode);
  const PictureOutput output(options.output, options.force, "encoded." + format);
  return ForEachFile(host, options.files, [&](FileReport& report) {
    if (const auto refusal = output.Refusal(report.path())) return report.Fail(*refusal, "output refused");
    HGLOBAL dib = decode(report.path().c_str(), DECODE_PICTURE);
    if (dib == nullptr) {
      report.Fail("Decode: the picture cannot be decoded");
      return;
    }
    report.SetWrittenPath(output.path());
    const HRESULT written = encode(dib, output.path().c_str(), flags, options.quality, host_data);
    GlobalFree(dib);
    if (!report.Check("Encode", written)) return;
    report.Set("Output", options.output);
    report.Set("Format", format);
    output.Finish();
  }, output.to_stdout() ? PrintNothing : PrintFields);
}

CommandAction SetUpEncode(CLI::App& command) {
  CommandOptions add(command);
  auto options = std::make_shared<EncodeOptions>();
  AddFileOptions(command, options->files);
  AddPictureOutputOptions(command, options->output, options->force, "Write the encoded picture to OUT (- : stdout)");
  add.Option("--format", options->format, "Format to write (default: by OUT's extension)")
      .Choices({"jpeg", "png", "tiff", "bmp", "gif"});
  add.Option("--quality", options->quality, "JPEG quality, passed to the plug-in unchanged (default 90)");
  AddNewExifOptions(add, options->new_exif);
  add.Option("--exif", options->exif_records,
             "Records as JSON (the form `info --json` prints) for a new EXIF block with a thumbnail");
  return [options](Host& host) { return RunEncode(host, *options); };
}

const CommandRegistration kEncode({"encode", "Decode a picture and encode it as JPEG, PNG, TIFF, BMP or GIF", 410,
                                   &SetUpEncode});

}  // namespace
}  // namespace veltora::host
