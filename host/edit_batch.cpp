#include "host/edit_batch.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "host/command_options.h"
#include "host/host_error.h"
#include "host/system_calls.h"
#include "interface/temp_names.h"

namespace veltora::host {
namespace {

namespace fs = std::filesystem;

// Each folder's verdict, asked once per batch whatever the number of threads.
class OutputFolders {
 public:
  std::optional<Cause> Prepare(const std::string& output) {
    std::string folder = fs::path(output).parent_path().string();
    if (folder.empty()) folder = ".";
    std::lock_guard lock(mutex_);
    const auto known = verdicts_.find(folder);
    if (known != verdicts_.end()) return known->second;
    return verdicts_[folder] = PrepareOutputFolder(folder);
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::optional<Cause>> verdicts_;
};

// Makes `output` a copy of `input` for an export that patches a file where
// it lies; true when the copy was made (the caller removes it on failure).
bool CopyForPatch(FileReport& report, const std::string& output) {
  std::error_code error;
  fs::copy_file(report.path(), output, fs::copy_options::overwrite_existing, error);
  if (error) report.Fail("cannot copy to " + output + ": " + error.message(), "copy failed");
  return !error;
}

void EditOne(FileReport& report, const EditOptions& options, const std::string& output,
             const EditAction& edit, OutputFolders& folders) {
  std::optional<StandardOutputFile> standard_output;
  std::string target = output;
  if (output == kStandardOutput) {
    standard_output.emplace(std::filesystem::path(report.path()).filename().string());
    target = standard_output->path();
  } else if (auto cause = folders.Prepare(output)) {
    return report.Fail(*cause);
  } else if (auto read_only = ReadOnlyCause(output)) {
    return report.Fail(*read_only);
  }
  report.Set("Output", output);
  if (options.dry_run) {
    report.Set("DryRun", true);
    return edit(report, target, false);
  }
  std::error_code error;
  const auto time = fs::last_write_time(report.path(), error);
  const bool copied = options.patches_in_place && target != report.path() && CopyForPatch(report, target);
  if (report.failed()) return;
  report.SetWrittenPath(target);
  edit(report, target, true);
  if (report.failed()) {
    if (copied) fs::remove(target, error);
    return;
  }
  if (options.preserve_time && !error) fs::last_write_time(target, time, error);
  if (standard_output) standard_output->CopyOut();
}

}  // namespace

namespace {

// The temporary files that killed writes left in `folder` (their process is
// gone) are removed before the batch writes there, and the user is told;
// backups stay, since one may be the only whole copy of a file.
void RemoveLeftovers(const std::string& folder) {
  std::error_code error;
  std::vector<std::string> removed;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    const auto parts = ParseTempFileName(entry.path().filename().string());
    if (!parts || parts->prefix == kBackupPrefix || ProcessIsRunning(parts->pid)) continue;
    std::error_code ignored;
    if (entry.is_symlink(ignored) || !entry.is_regular_file(ignored)) continue;
    if (fs::remove(entry.path(), ignored)) removed.push_back(entry.path().filename().string());
  }
  if (removed.empty()) return;
  std::string names;
  for (const std::string& name : removed) names += (names.empty() ? "" : ", ") + name;
  std::fprintf(stderr, "veltora: %s: removed %zu temporary file%s left by interrupted writes: %s\n",
               folder.c_str(), removed.size(), removed.size() == 1 ? "" : "s", names.c_str());
}

}  // namespace

std::optional<Cause> PrepareOutputFolder(const std::string& folder) {
  if (auto cause = FolderCause(folder)) return cause;
  RemoveLeftovers(folder);
  return std::nullopt;
}

void AddEditOptions(CLI::App& command, EditOptions& options) {
  CommandOptions add(command);
  AddFileOptions(command, options.files);
  AddOutputOptions(command, options.output);
  add.Flag("-P,--preserve-time", options.preserve_time,
           "Give each written file the input's modification time");
  add.Flag("--dry-run", options.dry_run, "Say what each file would get; write nothing");
}

int ForEachEdit(Host& host, EditOptions& options, const EditAction& edit) {
  options.files.writes = true;
  const std::vector<std::string> inputs = InputFiles(host, options.files);
  options.files.files = inputs;  // expanded once: the runner takes them as they are
  options.files.recursive = false;
  ValidateOutputOptions(options.output, inputs.size());
  const bool to_stdout = options.output.output == kStandardOutput;
  if (to_stdout && options.files.json) throw HostError("-o - writes the file to stdout: drop --json");
  OutputFolders folders;
  // Inputs of the same name from different folders would meet in one output
  // folder; the first keeps the name, as it would if they ran one by one.
  std::map<std::string, std::string> first_writer;
  for (const std::string& input : inputs) {
    std::string ignored;
    if (const auto output = ResolveOutputPath(options.output, input, inputs, ignored)) {
      first_writer.emplace(*output, input);
    }
  }
  const auto each = [&](FileReport& report) {
    std::string refusal;
    const auto output = ResolveOutputPath(options.output, report.path(), inputs, refusal);
    if (!output) return report.Fail(refusal, "output refused");
    const auto writer = first_writer.find(*output);
    if (writer != first_writer.end() && writer->second != report.path()) {
      return report.Fail("the output " + *output + " is also that of " + writer->second, "output refused");
    }
    EditOne(report, options, *output, edit, folders);
  };
  if (to_stdout) return ForEachFile(host, options.files, each, &PrintNothing);
  return ForEachFile(host, options.files, each);
}

}  // namespace veltora::host
