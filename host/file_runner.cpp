#include "host/command_options.h"
#include "host/file_runner.h"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <exception>
#include <nlohmann/json.hpp>
#include <utility>

#include "host/host_error.h"
#include "host/not_exif_hint.h"
#include "host/result_names.h"

namespace veltora::host {
namespace {

// A one-line "[12/250] file" on stderr, rewritten in place; only when stderr
// is a terminal, so logs and pipes never see carriage returns.
class ProgressLine {
 public:
  explicit ProgressLine(size_t total)
      : total_(total), active_(total > kProgressThreshold && isatty(STDERR_FILENO) == 1) {}
  ~ProgressLine() { Clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void Show(size_t index, const std::string& path) {
    if (!active_) return;
    fmt::print(stderr, "\r[{}/{}] {}\x1b[K", index + 1, total_, path);
    std::fflush(stderr);
    shown_ = true;
  }
  // Called before anything else goes to stderr or the terminal.
  void Clear() {
    if (!shown_) return;
    fmt::print(stderr, "\r\x1b[K");
    std::fflush(stderr);
    shown_ = false;
  }

 private:
  size_t total_;
  bool active_;
  bool shown_ = false;
};

// Streams the JSON array so that a long run prints as it goes and a command
// stopped half-way still leaves a well-formed array.
class JsonArrayWriter {
 public:
  JsonArrayWriter() { fmt::print(stdout, "["); }
  ~JsonArrayWriter() {
    std::fputs(first_ ? "]\n" : "\n]\n", stdout);
    std::fflush(stdout);
  }
  JsonArrayWriter(const JsonArrayWriter&) = delete;
  JsonArrayWriter& operator=(const JsonArrayWriter&) = delete;

  void Add(const nlohmann::ordered_json& value) {
    std::string text = DumpJson(value);
    std::string indented;
    indented.reserve(text.size() + 64);
    for (char c : text) {
      indented += c;
      if (c == '\n') indented += "  ";
    }
    fmt::print(stdout, "{}\n  {}", first_ ? "" : ",", indented);
    first_ = false;
  }

 private:
  bool first_ = true;
};

std::string JsonFieldText(const nlohmann::ordered_json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_boolean()) return value.get<bool>() ? "yes" : "no";
  return DumpJson(value, -1);
}

}  // namespace

void AddJsonOption(CLI::App& command, bool& json) {
  CommandOptions add(command);
  add.Flag("--json", json, "Print a JSON array, one object per file");
}

void AddFileOptions(CLI::App& command, FileOptions& options) {
  CommandOptions add(command);
  add.Option("files", options.files,
             "Picture files (default: the sample picture veltora-sample.jpg)")
      .TypeName("FILE");
  AddJsonOption(command, options.json);
}

FileReport::FileReport(std::string path)
    : path_(std::move(path)),
      fields_(std::make_unique<nlohmann::ordered_json>(nlohmann::ordered_json::object())) {}
FileReport::FileReport(FileReport&&) noexcept = default;
FileReport::~FileReport() = default;

void FileReport::SetSigned(std::string_view key, int64_t value) {
  (*fields_)[std::string(key)] = value;
}
void FileReport::SetUnsigned(std::string_view key, uint64_t value) {
  (*fields_)[std::string(key)] = value;
}
void FileReport::Set(std::string_view key, bool value) { (*fields_)[std::string(key)] = value; }
void FileReport::Set(std::string_view key, double value) { (*fields_)[std::string(key)] = value; }
void FileReport::Set(std::string_view key, std::string_view value) {
  (*fields_)[std::string(key)] = std::string(value);
}
void FileReport::SetNull(std::string_view key) { (*fields_)[std::string(key)] = nullptr; }

void FileReport::SetField(const std::string& key, nlohmann::ordered_json value, std::string table_text) {
  (*fields_)[key] = std::move(value);
  table_texts_[key] = std::move(table_text);
}

std::string FileReport::TableText(const std::string& key) const {
  const auto text = table_texts_.find(key);
  if (text != table_texts_.end()) return text->second;
  return fields_->contains(key) ? JsonFieldText(fields_->at(key)) : std::string();
}

bool FileReport::Check(std::string_view call, HRESULT result, std::string_view hint) {
  if (result >= 0) return true;
  if (!failed_) {
    failed_ = true;
    call_ = call;
    result_ = result;
    hint_ = result == E_NOTEXIF ? NotExifHint(path_) : std::string(hint);
  }
  return false;
}

void FileReport::Fail(std::string message) {
  if (failed_) return;
  failed_ = true;
  message_ = std::move(message);
}

std::string FileReport::ErrorText() const {
  if (!failed_) return {};
  if (!result_) return message_;
  std::string text = call_ + ": " + DescribeResult(*result_);
  if (!hint_.empty()) text += " (" + hint_ + ")";
  return text;
}

nlohmann::ordered_json FileReport::ToJson() const {
  nlohmann::ordered_json object = nlohmann::ordered_json::object();
  object["SourceFile"] = path_;
  for (const auto& [key, value] : fields_->items()) object[key] = value;
  if (failed_) {
    if (result_) {
      object["Error"] = ResultName(*result_);
      object["ErrorCode"] = ResultHex(*result_);
      object["Call"] = call_;
      if (!hint_.empty()) object["Hint"] = hint_;
    } else {
      object["Error"] = message_;
    }
  }
  return object;
}

void PrintFields(std::FILE* out, const FileReport& report, bool many) {
  if (many) fmt::print(out, "======== {}\n", report.path());
  size_t width = 0;
  for (const auto& item : report.fields().items()) width = std::max(width, item.key().size());
  for (const auto& item : report.fields().items()) {
    fmt::print(out, "{:<{}} : {}\n", item.key(), width, report.TableText(item.key()));
  }
}

std::vector<std::string> InputFiles(const Host& host, const FileOptions& options) {
  if (!options.files.empty()) return options.files;
  std::string sample = host.SamplePicturePath();
  fmt::print(stderr, "veltora: no file given, using the sample picture {}\n", sample);
  return {std::move(sample)};
}

int ForEachFile(const Host& host, const FileOptions& options, const FileAction& action,
                const TableRenderer& render) {
  const std::vector<std::string> files = InputFiles(host, options);
  const bool many = files.size() > 1;
  std::optional<JsonArrayWriter> json;
  if (options.json) json.emplace();
  ProgressLine progress(files.size());
  int status = kExitOk;
  for (size_t i = 0; i < files.size(); ++i) {
    progress.Show(i, files[i]);
    FileReport report(files[i]);
    try {
      action(report);
    } catch (const HostError&) {
      throw;
    } catch (const std::exception& error) {
      report.Fail(std::string("host failure: ") + error.what());
    }
    if (report.failed()) status = kExitFileFailed;
    if (json) {
      json->Add(report.ToJson());
      continue;
    }
    progress.Clear();
    if (report.failed()) {
      std::fflush(stdout);
      fmt::print(stderr, "veltora: {}: {}\n", report.path(), report.ErrorText());
    } else {
      render(stdout, report, many);
    }
  }
  return status;
}

std::string DumpJson(const nlohmann::ordered_json& value, int indent) {
  return value.dump(indent, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace veltora::host
