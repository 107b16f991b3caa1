// veltora encode IN -o OUT --format jpeg|png|tiff|bmp|gif [--quality N]: IN
// decoded by Decode, its DIB written by Encode in the chosen format.
// --exif RECORDS.json (JPEG only) writes an EXIF block built from the records.
#include <CLI/CLI.hpp>
#include <cctype>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "host/command.h"
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
  std::string format;
  int32_t quality = 90;
  std::string exif_records;
};

bool IsJpegName(const std::string& path) {
  const auto dot = path.rfind('.');
  if (dot == std::string::npos) return false;
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == "jpg" || ext == "jpeg";
}

int RunEncode(Host& host, const EncodeOptions& options) {
  if (options.files.files.size() > 1) throw HostError("encode takes one IN file");
  uint32_t flags = kFormats.at(options.format);
  std::optional<OwnedRecords> records;
  if (!options.exif_records.empty()) {
    if (flags != ENCODE_JPEG || !IsJpegName(options.output)) {
      throw HostError("--exif writes JPEG only: give --format jpeg and a .jpg or .jpeg output");
    }
    records.emplace(ReadRecordsFile(options.exif_records));
    flags |= ENCODE_EXIF | ENCODE_EXIF_RECORDS;
  }
  void* host_data = records ? records->list() : nullptr;
  const auto decode = VELTORA_EXPORT(host.plugin(), Decode);
  const auto encode = VELTORA_EXPORT(host.plugin(), Encode);
  return ForEachFile(host, options.files, [&](FileReport& report) {
    if (IsSameFile(options.output, report.path())) {
      report.Fail("the output " + options.output + " is the input; refusing to replace it");
      return;
    }
    HGLOBAL dib = decode(report.path().c_str(), DECODE_PICTURE);
    if (dib == nullptr) {
      report.Fail("Decode: the picture cannot be decoded");
      return;
    }
    const HRESULT written = encode(dib, options.output.c_str(), flags, options.quality, host_data);
    GlobalFree(dib);
    if (!report.Check("Encode", written)) return;
    report.fields()["Output"] = options.output;
    report.fields()["Format"] = options.format;
  });
}

CommandAction SetUpEncode(CLI::App& command) {
  auto options = std::make_shared<EncodeOptions>();
  AddFileOptions(command, options->files);
  command.add_option("-o,--output", options->output, "Write the encoded picture to OUT")->required();
  command.add_option("--format", options->format, "Format to write")
      ->required()
      ->check(CLI::IsMember({"jpeg", "png", "tiff", "bmp", "gif"}));
  command.add_option("--quality", options->quality, "JPEG quality, passed to the plug-in unchanged (default 90)");
  command.add_option("--exif", options->exif_records,
                     "Records as JSON (the form `info --json` prints) for a new EXIF block with a thumbnail");
  return [options](Host& host) { return RunEncode(host, *options); };
}

const CommandRegistration kEncode({"encode", "Decode a picture and encode it as JPEG, PNG, TIFF, BMP or GIF", 410,
                                   &SetUpEncode});

}  // namespace
}  // namespace veltora::host
