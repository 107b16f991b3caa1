// veltora date FILE...: the capture time (DateTimeOriginal) of each file.
#include <memory>

#include "host/command.h"
#include "host/commands/query_format.h"
#include "host/file_runner.h"

namespace veltora::host {
namespace {

CommandAction SetUpDate(CLI::App& command) {
  auto options = std::make_shared<FileOptions>();
  AddFileOptions(command, *options);
  return [options](Host& host) {
    const auto get = VELTORA_EXPORT(host.plugin(), GetDateTimeOriginal);
    return ForEachFile(host, *options, [&](FileReport& report) {
      SYSTEMTIME when{};
      const HRESULT result = get(report.path().c_str(), &when);
      if (!report.Check("GetDateTimeOriginal", result)) return;
      // S_FALSE: the text is there but names no calendar moment (an unset
      // camera clock); the date is then empty.
      if (result == S_FALSE) {
        report.SetNull("DateTimeOriginal");
        report.Set("Note", "not a calendar date");
      } else {
        report.Set("DateTimeOriginal", DateText(when));
      }
    });
  };
}

const CommandRegistration kDate({"date", "Print the capture time (DateTimeOriginal)", 206,
                                 &SetUpDate});

}  // namespace
}  // namespace veltora::host
