// veltora set-date "YYYY:MM:DD HH:MM:SS" FILE... (-o OUT | --output-dir DIR |
// --in-place): replaces the capture date (DateTimeOriginal) where it lies.
// The export patches a file where it lies, so another destination is first a
// copy of the input.
#include <memory>

#include "host/command.h"
#include "host/command_options.h"
#include "host/commands/date_argument.h"
#include "host/edit_batch.h"

namespace veltora::host {
namespace {

struct SetDateOptions {
  EditOptions edit;
  std::string date;
};

int RunSetDate(Host& host, SetDateOptions& options) {
  const SYSTEMTIME date = ParseDateArgument(options.date);
  const auto set = VELTORA_EXPORT(host.plugin(), SetDateTimeOriginal);
  return ForEachEdit(host, options.edit, [&](FileReport& report, const std::string& out, bool write) {
    report.Set("DateTimeOriginal", options.date);
    if (write) report.Check("SetDateTimeOriginal", set(out.c_str(), date));
  });
}

CommandAction SetUpSetDate(CLI::App& command) {
  CommandOptions add(command);
  auto options = std::make_shared<SetDateOptions>();
  options->edit.patches_in_place = true;
  add.Option("DATE", options->date, "\"YYYY:MM:DD HH:MM:SS\"").Required();
  AddEditOptions(command, options->edit);
  add.Footer(
      "Only DateTimeOriginal is written: the plug-in patches no other date\n"
      "(CreateDate/DateTimeDigitized stay as they are; DateTime gets the current time).");
  return [options](Host& host) { return RunSetDate(host, *options); };
}

const CommandRegistration kSetDate({"set-date", "Replace the capture date (DateTimeOriginal)", 320,
                                    &SetUpSetDate});

}  // namespace
}  // namespace veltora::host
