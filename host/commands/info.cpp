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
#include "host/record_json.h"
#include "host/record_table.h"
#include "host/result_names.h"

namespace veltora::host {
namespace {

struct InfoOptions {
  FileOptions files;
  bool raw = false;
};

using GetStillImageInfoFn = decltype(&::GetStillImageInfo);

// Calls GetStillImageInfo for `flags` and takes over what it returns.
HRESULT Describe(GetStillImageInfoFn get, const std::string& path, uint32_t flags, OwnedRecords* into) {
  StillImageInfoOut out{};
  const HRESULT result = get(path.c_str(), &out, flags);
  if (result < 0) return result;
  if (out.single.type != 0) {
    into->Append(out.single.type, out.single.record);
    return result;
  }
  // More than one record: the list's nodes go, the records move over.
  ImageInfoListVisit(&out.list, [&](uint32_t type, void* record) { into->Append(type, record); });
  ImageInfoListFree(&out.list);
  return result;
}

void DescribeFile(GetStillImageInfoFn get, FileReport& report) {
  OwnedRecords records;
  // One call answers for a file with a preview and EXIF data. When it fails,
  // three calls, so that a file without a preview or without EXIF data is
  // still described: only the picture itself is required.
  if (Describe(get, report.path(), INFO_IMAGE | INFO_THUMBNAIL | INFO_EXIF_RECORDS, &records) < 0) {
    if (!report.Check("GetStillImageInfo", Describe(get, report.path(), INFO_IMAGE, &records))) return;
    (void)Describe(get, report.path(), INFO_THUMBNAIL, &records);
    const HRESULT exif = Describe(get, report.path(), INFO_EXIF_RECORDS, &records);
    if (exif < 0) {
      FileReport why(report.path());
      why.Check("GetStillImageInfo", exif);
      std::fflush(stdout);
      fmt::print(stderr, "veltora: {}: no EXIF records: {}\n", report.path(), why.ErrorText());
    }
  }
  const nlohmann::ordered_json document = RecordsToJson(*records.list());
  for (const auto& [name, record] : document.items()) report.fields()[name] = record;
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
        });
  };
}

const CommandRegistration kInfo(
    {"info", "Describe each file: picture, preview and every EXIF attribute record", 1, &SetUpInfo});

}  // namespace
}  // namespace veltora::host
