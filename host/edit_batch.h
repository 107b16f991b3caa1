// The conventions every EXIF edit shares, on top of file_runner.h: the
// destination (-o FILE, -o - for standard output, --output-dir DIR,
// --in-place; an existing output only with --force), the checks that name why
// a destination cannot be written, --dry-run, -P (keep the input's
// modification time) and the closing summary.
//
//   return ForEachEdit(host, *options, [&](FileReport& report, const std::string& out, bool write) {
//     report.Set("Orientation", value);
//     if (write) report.Check("SetOrientation", set(out.c_str(), report.path().c_str(), value, 1));
//   });
#ifndef VELTORA_HOST_EDIT_BATCH_H_
#define VELTORA_HOST_EDIT_BATCH_H_

#include <functional>
#include <string>

#include "host/file_runner.h"
#include "host/output_path.h"

namespace veltora::host {

struct EditOptions {
  FileOptions files;
  OutputOptions output;
  bool preserve_time = false;
  bool dry_run = false;
  // Set by the command: its export changes a file where it lies, so another
  // destination is first made a copy of the input.
  bool patches_in_place = false;
};

// Adds FILE..., -r, -j, --json, the destination options, -P and --dry-run.
void AddEditOptions(CLI::App& command, EditOptions& options);

// Edits one file: writes `output` from report.path() (for patching exports,
// patches `output`, a copy of the input unless they are the same file) and
// sets the fields saying what the file gets. With `write` false (--dry-run)
// it sets the fields only.
using EditAction =
    std::function<void(FileReport& report, const std::string& output, bool write)>;

// Runs `edit` for every input as ForEachFile does, with the destination
// resolved and checked first. A usage error (no destination, -o with several
// inputs, -o - with --json) throws HostError before any file is touched.
int ForEachEdit(Host& host, EditOptions& options, const EditAction& edit);

// Called once for each folder a batch writes into, before the first file
// there: the cause that keeps the batch from writing into it, or nullopt.
std::optional<Cause> PrepareOutputFolder(const std::string& folder);

}  // namespace veltora::host

#endif  // VELTORA_HOST_EDIT_BATCH_H_
