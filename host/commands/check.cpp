// veltora check FILE...: whether each file is an EXIF file, carries
// print-matching data and has EXIF version 2.2 or later.
#include <memory>

#include "host/command.h"
#include "host/file_runner.h"
#include "host/not_exif_hint.h"

namespace veltora::host {
namespace {

CommandAction SetUpCheck(CLI::App& command) {
  auto options = std::make_shared<FileOptions>();
  AddFileOptions(command, *options);
  return [options](Host& host) {
    const auto is_exif_ex = VELTORA_EXPORT(host.plugin(), IsExifEx);
    return ForEachFile(host, *options, [&](FileReport& report) {
      uint32_t is_exif = 0, print_matching = 0, version22 = 0;
      if (!report.Check("IsExifEx", is_exif_ex(report.path().c_str(), &is_exif, &print_matching,
                                               &version22))) {
        return;
      }
      report.Set("Exif", is_exif != 0);
      report.Set("PrintMatching", print_matching != 0);
      report.Set("ExifVersion22", version22 != 0);
      if (is_exif != 0) return;
      if (const auto hint = NotExifHint(report.path())) report.SetHint(*hint);
    });
  };
}

const CommandRegistration kCheck(
    {"check", "Tell whether each file has EXIF data, print matching and EXIF 2.2+", 201,
     &SetUpCheck});

}  // namespace
}  // namespace veltora::host
