// veltora info FILE...: what GetStillImageInfo says of each file: the
// picture, its embedded preview and every EXIF attribute record, as a table
// (-n: stored numbers) or, with --json, in the records' JSON form, which
// the subcommands that write records read back.
#include <fmt/format.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "host/command.h"
#include "host/command_options.h"
#include "host/file_runner.h"
#include "host/not_exif_hint.h"
#include "host/record_json.h"
#include "host/record_table.h"
#include "host/result_names.h"
#include "host/still_image_records.h"

namespace veltora::host {
namespace {

struct InfoOptions {
  FileOptions files;
  bool raw = false;
};

// The three parts a description is made of, asked one by one when the call
// for all of them fails, so that what can be described still is.
struct Part {
  uint32_t flag;
  const char* name;
};
constexpr Part kParts[] = {
    {INFO_IMAGE, "Picture"}, {INFO_THUMBNAIL, "Preview"}, {INFO_EXIF_RECORDS, "ExifRecords"}};

void DescribeFile(GetStillImageInfoFn get, FileReport& report) {
  OwnedRecords records;
  if (AppendStillImageRecords(get, report.path(), INFO_IMAGE | INFO_THUMBNAIL | INFO_EXIF_RECORDS,
                              &records) < 0) {
    nlohmann::ordered_json unread = nlohmann::ordered_json::object();
    HRESULT first_failure = S_OK;
    for (const Part& part : kParts) {
      const HRESULT result = AppendStillImageRecords(get, report.path(), part.flag, &records);
      if (result >= 0) continue;
      unread[part.name] = DescribeResult(result);
      if (first_failure >= 0) first_failure = result;
    }
    // Nothing could be described: the file fails with the first cause.
    if (unread.size() == std::size(kParts)) {
      report.Check("GetStillImageInfo", first_failure);
      return;
    }
    if (!unread.empty()) report.SetField("Unread", unread, DumpJson(unread, -1));
  }
  const nlohmann::ordered_json document = RecordsToJson(*records.list());
  for (const auto& [name, record] : document.items()) report.fields()[name] = record;
  if (!document.contains("TiffMain")) {
    if (const auto hint = NotExifHint(report.path())) report.SetHint(*hint);
  }
}

CommandAction SetUpInfo(CLI::App& command) {
  CommandOptions add(command);
  auto options = std::make_shared<InfoOptions>();
  AddFileOptions(command, options->files);
  add.Flag("-n", options->raw, "Print stored numbers (1/250, 56/10) instead of readable values");
  return [options](Host& host) {
    const auto get = VELTORA_EXPORT(host.plugin(), GetStillImageInfo);
    return ForEachFile(
        host, options->files, [&](FileReport& report) { DescribeFile(get, report); },
        [&](std::FILE* out, const FileReport& report, bool many) {
          if (many) fmt::print(out, "======== {}\n", report.path());
          PrintRecordTable(out, report.fields(), options->raw);
          for (const char* extra : {"Unread", "Hint"}) {
            if (report.fields().contains(extra)) fmt::print(out, "{} : {}\n", extra, report.TableText(extra));
          }
        });
  };
}

const CommandRegistration kInfo(
    {"info", "Describe each file: picture, preview and every EXIF attribute record", 1, &SetUpInfo});

}  // namespace
}  // namespace veltora::host
