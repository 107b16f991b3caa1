// veltora shift-date ±[D ]HH:MM[:SS] FILE... (-o OUT | --output-dir DIR |
// --in-place): moves each file's capture date (DateTimeOriginal) by an
// offset, as for a camera clock set to the wrong time zone.
#include <memory>

#include "host/command.h"
#include "host/command_options.h"
#include "host/commands/date_argument.h"
#include "host/commands/query_format.h"
#include "host/edit_batch.h"

namespace veltora::host {
namespace {

struct ShiftDateOptions {
  EditOptions edit;
  std::string offset;
};

int RunShiftDate(Host& host, ShiftDateOptions& options) {
  const std::chrono::seconds offset = ParseDateOffset(options.offset);
  const auto get = VELTORA_EXPORT(host.plugin(), GetDateTimeOriginal);
  const auto set = VELTORA_EXPORT(host.plugin(), SetDateTimeOriginal);
  return ForEachEdit(host, options.edit, [&](FileReport& report, const std::string& out, bool write) {
    SYSTEMTIME date{};
    const HRESULT read = get(report.path().c_str(), &date);
    if (!report.Check("GetDateTimeOriginal", read)) return;
    if (read == S_FALSE) return report.Fail("the capture date is not a calendar date", "no date");
    const auto shifted = ShiftDate(date, offset);
    if (!shifted) return report.Fail("the shifted date leaves the years 1..9999", "out of range");
    report.Set("Was", DateText(date));
    report.Set("DateTimeOriginal", DateText(*shifted));
    if (write) report.Check("SetDateTimeOriginal", set(out.c_str(), *shifted));
  });
}

CommandAction SetUpShiftDate(CLI::App& command) {
  CommandOptions add(command);
  auto options = std::make_shared<ShiftDateOptions>();
  options->edit.patches_in_place = true;
  add.Option("OFFSET", options->offset, "+HH:MM[:SS], -HH:MM[:SS] or ±\"D HH:MM[:SS]\"").Required();
  AddEditOptions(command, options->edit);
  return [options](Host& host) { return RunShiftDate(host, *options); };
}

const CommandRegistration kShiftDate({"shift-date", "Move the capture date by an offset", 321,
                                      &SetUpShiftDate});

}  // namespace
}  // namespace veltora::host
