// veltora append --from RECORDS.json FILE... [--source FILE] (-o OUT |
// --output-dir DIR | --in-place): merges the records of a JSON file (the
// schema of `info --json`) into the EXIF block of each JPEG through
// AppendExif. A records file that is not valid is refused before anything is
// written (exit status 2, the message naming the field).
#include <memory>
#include <string>

#include "host/command.h"
#include "host/command_options.h"
#include "host/edit_batch.h"
#include "host/host_error.h"
#include "host/record_json.h"

namespace veltora::host {
namespace {

struct AppendOptions {
  EditOptions edit;
  std::string records;
  std::string source;
  bool require_exif = false;
};

int RunAppend(Host& host, AppendOptions& options) {
  // Records are often another file's (`info --json b.jpg`): where that file
  // keeps its thumbnail and picture data would break this one's.
  OwnedRecords records = ReadRecordsFile(options.records, false);
  const auto append = VELTORA_EXPORT(host.plugin(), AppendExif);
  return ForEachEdit(host, options.edit, [&](FileReport& report, const std::string& out, bool write) {
    const std::string& in = options.source.empty() ? report.path() : options.source;
    if (!options.source.empty()) report.Set("Source", options.source);
    if (!write) return;
    report.Check("AppendExif",
                 append(out.c_str(), in.c_str(), records.list(), options.require_exif ? 1 : 0));
  });
}

CommandAction SetUpAppend(CLI::App& command) {
  CommandOptions add(command);
  auto options = std::make_shared<AppendOptions>();
  add.Option("--from", options->records, "Records as JSON (the form `info --json` prints; - reads stdin)")
      .Required();
  add.Option("--source", options->source, "Read the picture and its EXIF block from FILE instead of TARGET");
  add.Flag("--require-exif", options->require_exif,
           "Refuse a source that fails the EXIF file test (IsExifFile), e.g. one with a JFIF segment");
  AddEditOptions(command, options->edit);
  add.Footer(
      "Record values of at most 4 bytes replace equal-sized values and are inserted where missing;\n"
      "texts, rationals, arrays and larger values are not merged. DateTime gets the current time.\n"
      "Where the records' file kept its thumbnail and picture data is never copied.");
  return [options](Host& host) { return RunAppend(host, *options); };
}

const CommandRegistration kAppend({"append", "Merge records from a JSON file into a JPEG's EXIF block", 350,
                                   &SetUpAppend});

}  // namespace
}  // namespace veltora::host
