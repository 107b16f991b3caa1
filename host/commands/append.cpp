// veltora append TARGET --from RECORDS.json [--source FILE] (-o OUT |
// --output-dir DIR | --in-place): merges the records of a JSON file (the
// schema of `info --json`) into the EXIF block of a JPEG through AppendExif.
// A records file that is not valid is refused before anything is written
// (exit status 2, the message naming the field).
#include <memory>
#include <string>
#include <vector>

#include "host/command.h"
#include "host/command_options.h"
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
  // Neither TARGET nor the source is replaced without --in-place.
  std::vector<std::string> inputs = options.files.files;
  if (!options.source.empty()) inputs.push_back(options.source);
  return ForEachFile(host, options.files, [&](FileReport& report) {
    std::string refusal;
    const auto out = ResolveOutputPath(options.output, report.path(), inputs, refusal);
    if (!out) return report.Fail(refusal);
    const std::string& in = options.source.empty() ? report.path() : options.source;
    if (!report.Check("AppendExif", append(out->c_str(), in.c_str(), records.list(),
                                           options.require_exif ? 1 : 0))) {
      return;
    }
    report.Set("Output", *out);
    if (!options.source.empty()) report.Set("Source", options.source);
  });
}

CommandAction SetUpAppend(CLI::App& command) {
  CommandOptions add(command);
  auto options = std::make_shared<AppendOptions>();
  add.Option("TARGET", options->target, "JPEG whose EXIF block receives the records").Required();
  add.Option("--from", options->records, "Records as JSON (the form `info --json` prints; - reads stdin)")
      .Required();
  add.Option("--source", options->source, "Read the picture and its EXIF block from FILE instead of TARGET");
  add.Flag("--require-exif", options->require_exif,
           "Refuse a source that fails the EXIF file test (IsExifFile), e.g. one with a JFIF segment");
  AddOutputOptions(command, options->output);
  AddJsonOption(command, options->files.json);
  add.Footer(
      "Record values of at most 4 bytes replace equal-sized values and are inserted where missing;\n"
      "texts, rationals, arrays and larger values are not merged. DateTime gets the current time.");
  return [options](Host& host) { return RunAppend(host, *options); };
}

const CommandRegistration kAppend({"append", "Merge records from a JSON file into a JPEG's EXIF block", 350,
                                   &SetUpAppend});

}  // namespace
}  // namespace veltora::host
