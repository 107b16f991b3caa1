// The conventions every file-taking subcommand shares:
//  - many files per call, processed in order; a failed file is reported and
//    the others still run;
//  - table output for people on stdout, failures on stderr as
//    "veltora: <file>: <export>: 0x8878000B E_NOTEXIF";
//  - --json: one array on stdout with one object per file, "SourceFile"
//    first, failures as "Error" (name), "ErrorCode" (hex) and "Call" fields;
//  - no file given: a usage error; a folder stands for its pictures (-r: and
//    those of its sub-folders);
//  - before the plug-in is asked, what can be seen of a file is checked and
//    named (no such file, a folder, a FIFO, an extension it does not take);
//  - -j N: N files at a time (default: one per core), output in input order;
//  - exit status kExitOk when every file succeeded, kExitFileFailed otherwise;
//  - more than kProgressThreshold files with stderr on a terminal: a progress
//    line on stderr;
//  - commands that write files close with a summary on stderr
//    ("48 edited, 3 refused: 2 JFIF, 1 no such file").
#ifndef VELTORA_HOST_FILE_RUNNER_H_
#define VELTORA_HOST_FILE_RUNNER_H_

#include <cstdio>
#include <functional>
#include <concepts>
#include <map>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/veltora.h"
#include "host/command.h"
#include "host/input_files.h"

namespace CLI {
class App;
}

namespace veltora::host {

// Below this many files a progress line would only flicker.
constexpr size_t kProgressThreshold = 20;

struct FileOptions {
  std::vector<std::string> files;
  bool json = false;
  bool recursive = false;
  unsigned jobs = 0;  // 0: one per core
  // Set by the command, not the user: the paths are names only (supported),
  // so they are neither expanded nor checked.
  bool names_only = false;
  // Set by the command: it writes files (closing summary).
  bool writes = false;
};

// Adds --json to `command`.
void AddJsonOption(CLI::App& command, bool& json);
// Adds the positional FILE..., -r, -j and --json to `command`.
void AddFileOptions(CLI::App& command, FileOptions& options);

// What one file produced: result fields (JSON keys after "SourceFile", rows
// of the table form) and, when it failed, the first failure.
class FileReport {
 public:
  explicit FileReport(std::string path);

  FileReport(FileReport&&) noexcept;
  ~FileReport();

  const std::string& path() const { return path_; }

  // Sets a result field: a number, a truth value, a text or null. Fields keep
  // the order in which they were first set.
  template <std::integral T>
    requires(!std::same_as<T, bool>)
  void Set(std::string_view key, T value) {
    if constexpr (std::signed_integral<T>) {
      SetSigned(key, value);
    } else {
      SetUnsigned(key, value);
    }
  }
  void Set(std::string_view key, bool value);
  void Set(std::string_view key, double value);
  void Set(std::string_view key, std::string_view value);
  void Set(std::string_view key, const char* value) { Set(key, std::string_view(value)); }
  void SetNull(std::string_view key);
  // Sets a field whose table form differs from its JSON value: JSON holds
  // numbers and [numerator, denominator] pairs for programs, the table the
  // readable text ("1/250 (0.004)").
  void SetField(const std::string& key, nlohmann::ordered_json value, std::string table_text);
  // The table form of a field: the text given to SetField, else the value
  // ("yes"/"no" for truth values); empty when it is not set.
  std::string TableText(const std::string& key) const;

  // The fields as a JSON object, for the few commands that print nested
  // values (they include the JSON library themselves).
  nlohmann::ordered_json& fields() { return *fields_; }
  const nlohmann::ordered_json& fields() const { return *fields_; }

  // Records that export `call` returned `result`; true when it is a success
  // (result >= 0, so S_FALSE counts as success: its meaning is the caller's).
  // Only the first failure of a file is kept. An E_NOTEXIF for a JPEG that
  // does hold EXIF data carries a hint saying why (not_exif_hint.h); other
  // failures carry `hint` when one is given.
  bool Check(std::string_view call, HRESULT result, std::string_view hint = {});
  // Records a failure that has no result code (e.g. a refused output path);
  // `label` counts it in the closing summary.
  void Fail(std::string message, std::string label = "refused");
  void Fail(const Cause& cause) { Fail(cause.text, cause.label); }
  // For a file that succeeded: the field "Hint" (EXIF data the plug-in did
  // not take, and why).
  void SetHint(const Cause& hint);
  // Names the file a write went to, for messages about a failed write.
  void SetWrittenPath(std::string path) { written_path_ = std::move(path); }
  // The summary label of the failure ("no EXIF", "JFIF", "E_FAIL").
  const std::string& label() const { return label_; }

  bool failed() const { return failed_; }
  // "IsSupported: 0x80004005 E_FAIL" (and the hint in parentheses), or the
  // message given to Fail.
  std::string ErrorText() const;
  // {"SourceFile": ..., <fields>..., ["Error", "ErrorCode", "Call", "Hint"]}.
  nlohmann::ordered_json ToJson() const;

 private:
  void SetSigned(std::string_view key, int64_t value);
  void SetUnsigned(std::string_view key, uint64_t value);

  std::string path_;
  std::unique_ptr<nlohmann::ordered_json> fields_;
  bool failed_ = false;
  std::string call_;
  std::optional<HRESULT> result_;
  std::string message_;
  std::string hint_;
  std::string label_;
  std::string written_path_;
  std::map<std::string, std::string, std::less<>> table_texts_;
};

// Runs the subcommand's work on one file, filling `report`. Exceptions other
// than HostError are caught and reported as that file's failure.
using FileAction = std::function<void(FileReport& report)>;

// Prints a successful file in table form; `many` is true when the call has
// more than one file (print the file's name then).
using TableRenderer = std::function<void(std::FILE* out, const FileReport& report, bool many)>;

// The default table form: for several files a "======== <file>" line, then
// one "Key: value" line per field, keys aligned.
void PrintFields(std::FILE* out, const FileReport& report, bool many);

// Prints nothing: for a command whose standard output carries a file (-o -).
void PrintNothing(std::FILE* out, const FileReport& report, bool many);

// The files the command line names, folders expanded (input_files.h).
std::vector<std::string> InputFiles(Host& host, const FileOptions& options);

// Runs `action` for every input file, on options.jobs threads, and prints the
// results in input order. A file whose cause input_files.h can name fails
// with it and never reaches `action`. Returns kExitOk or kExitFileFailed;
// HostError from `action` propagates (the command stops, output so far stays
// printed and the JSON array is closed).
int ForEachFile(Host& host, const FileOptions& options, const FileAction& action,
                const TableRenderer& render = PrintFields);

// A JSON document as printed by the host: indented, and text that is not
// valid UTF-8 (paths are opaque bytes) replaced rather than refused.
std::string DumpJson(const nlohmann::ordered_json& value, int indent = 2);

}  // namespace veltora::host

#endif  // VELTORA_HOST_FILE_RUNNER_H_
