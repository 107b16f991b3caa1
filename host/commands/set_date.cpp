// veltora set-date FILE "YYYY:MM:DD HH:MM:SS": replaces the capture date
// (DateTimeOriginal) where it lies in the file. The file itself is changed:
// this edit has no output path, by the nature of the export.
#include <fmt/format.h>

#include <cstdio>
#include <memory>

#include "host/command.h"
#include "host/command_options.h"
#include "host/file_runner.h"
#include "host/host_error.h"

namespace veltora::host {
namespace {

struct SetDateOptions {
  FileOptions files;
  std::string input;
  std::string date;
};

SYSTEMTIME ParseDate(const std::string& text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char tail = 0;
  if (text.size() != 19 ||
      std::sscanf(text.c_str(), "%4d:%2d:%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) !=
          6) {
    throw HostError("the date must read YYYY:MM:DD HH:MM:SS");
  }
  SYSTEMTIME t{};
  t.wYear = static_cast<uint16_t>(y);
  t.wMonth = static_cast<uint16_t>(mo);
  t.wDay = static_cast<uint16_t>(d);
  t.wHour = static_cast<uint16_t>(h);
  t.wMinute = static_cast<uint16_t>(mi);
  t.wSecond = static_cast<uint16_t>(s);
  return t;
}

int RunSetDate(Host& host, SetDateOptions& options) {
  const SYSTEMTIME date = ParseDate(options.date);
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
