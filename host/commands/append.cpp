// veltora append TARGET --from RECORDS.json [--source FILE] (-o OUT |
// --output-dir DIR | --in-place): merges the records of a JSON file (the
// schema of `info --json`) into the EXIF block of a JPEG through AppendExif.
// A records file that is not valid is refused before anything is written
// (exit status 2, the message naming the field).
#include <CLI/CLI.hpp>
#include <memory>
#include <string>

#include "host/command.h"
#include "host/file_runner.h"
#include "host/host_error.h"
#include "host/output_path.h"
#include "host/record_json.h"

namespace veltora::host {
namespace {

struct AppendOptions {
  FileOptions files;
  std::string target;
  std::string records;
  std::string source;
  OutputOptions output;
  bool require_exif = false;
};

int RunAppend(Host& host, AppendOptions& options) {
  options.files.files = {options.target};
  ValidateOutputOptions(options.output, 1);
  OwnedRecords records = ReadRecordsFile(options.records);
  const auto append = VELTORA_EXPORT(host.plugin(), AppendExif);
  return ForEachFile(host, options.files, [&](FileReport& report) {
    std::string refusal;
    const auto out = ResolveOutputPath(options.output, report.path(), options.files.files, refusal);
    if (!out) return report.Fail(refusal);
    const std::string& in = options.source.empty() ? report.path() : options.source;
    if (!report.Check("AppendExif", append(out->c_str(), in.c_str(), records.list(),
                                           options.require_exif ? 1 : 0))) {
      return;
    }
    report.fields()["Output"] = *out;
    if (!options.source.empty()) report.fields()["Source"] = options.source;
  });
}

CommandAction SetUpAppend(CLI::App& command) {
  auto options = std::make_shared<AppendOptions>();
  command.add_option("TARGET", options->target, "JPEG whose EXIF block receives the records")->required();
  command.add_option("--from", options->records, "Records as JSON (the form `info --json` prints; - reads stdin)")
      ->required();
  command.add_option("--source", options->source, "Read the picture and its EXIF block from FILE instead of TARGET");
  command.add_flag("--require-exif", options->require_exif,
                   "Refuse a source that fails the EXIF file test (IsExifFile), e.g. one with a JFIF segment");
  AddOutputOptions(command, options->output);
  AddJsonOption(command, options->files.json);
  command.footer(
      "Record values of at most 4 bytes replace equal-sized values and are inserted where missing;\n"
      "texts, rationals, arrays and larger values are not merged. DateTime gets the current time.");
  return [options](Host& host) { return RunAppend(host, *options); };
}

const CommandRegistration kAppend({"append", "Merge records from a JSON file into a JPEG's EXIF block", 350,
                                   &SetUpAppend});

}  // namespace
}  // namespace veltora::host
