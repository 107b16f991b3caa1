// veltora set-date FILE "YYYY:MM:DD HH:MM:SS": replaces the capture date
// (DateTimeOriginal) where it lies in the file. The file itself is changed:
// this edit has no output path, by the nature of the export.
#include <fmt/format.h>

#include <memory>

#include "host/command.h"
#include "host/command_options.h"
#include "host/commands/date_argument.h"
#include "host/file_runner.h"
#include "host/host_error.h"

namespace veltora::host {
namespace {

struct SetDateOptions {
  FileOptions files;
  std::string input;
  std::string date;
};

int RunSetDate(Host& host, SetDateOptions& options) {
  const SYSTEMTIME date = ParseDateArgument(options.date);
  options.files.files = {options.input};
  const auto set = VELTORA_EXPORT(host.plugin(), SetDateTimeOriginal);
  return ForEachFile(host, options.files, [&](FileReport& report) {
    if (!report.Check("SetDateTimeOriginal", set(report.path().c_str(), date))) return;
    report.Set("DateTimeOriginal", options.date);
  });
}

CommandAction SetUpSetDate(CLI::App& command) {
  CommandOptions add(command);
  auto options = std::make_shared<SetDateOptions>();
  add.Option("FILE", options->input, "JPEG or TIFF file, changed in place").Required();
  add.Option("DATE", options->date, "\"YYYY:MM:DD HH:MM:SS\"").Required();
  AddJsonOption(command, options->files.json);
  return [options](Host& host) { return RunSetDate(host, *options); };
}

const CommandRegistration kSetDate({"set-date", "Replace the capture date in place", 320,
                                    &SetUpSetDate});

}  // namespace
}  // namespace veltora::host
