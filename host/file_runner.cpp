#include "host/command_options.h"
#include "host/file_runner.h"

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>
#include <utility>

#include "host/host_error.h"
#include "host/not_exif_hint.h"
#include "host/result_names.h"
#include "host/system_calls.h"

namespace veltora::host {
namespace {

// A one-line "[12/250] file" on stderr, rewritten in place; only when stderr
// is a terminal, so logs and pipes never see carriage returns.
class ProgressLine {
 public:
  explicit ProgressLine(size_t total)
      : total_(total), active_(total > kProgressThreshold && IsTerminal(stderr)) {}
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

// The reports of a batch, filled by worker threads in any order and handed to
// the printing thread in input order.
class ReportQueue {
 public:
  explicit ReportQueue(size_t size) : slots_(size) {}

  void Put(size_t index, FileReport report, std::exception_ptr stop) {
    {
      std::lock_guard lock(mutex_);
      slots_[index].emplace(Slot{std::move(report), std::move(stop)});
    }
    ready_.notify_all();
  }
  // Waits for report `index`; rethrows the HostError that stopped its file.
  FileReport Take(size_t index) {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [&] { return slots_[index].has_value(); });
    Slot slot = std::move(*slots_[index]);
    slots_[index].reset();
    if (slot.stop) std::rethrow_exception(slot.stop);
    return std::move(slot.report);
  }

 private:
  struct Slot {
    FileReport report;
    std::exception_ptr stop;
  };
  std::mutex mutex_;
  std::condition_variable ready_;
  std::vector<std::optional<Slot>> slots_;
};

// "48 edited, 3 refused: 2 JFIF, 1 no such file".
std::string Summary(size_t done, const std::map<std::string, size_t>& refused) {
  size_t failed = 0;
  std::string causes;
  for (const auto& [label, count] : refused) {
    failed += count;
    causes += fmt::format("{}{} {}", causes.empty() ? "" : ", ", count, label);
  }
  if (failed == 0) return fmt::format("{} edited", done);
  return fmt::format("{} edited, {} refused: {}", done, failed, causes);
}

FileReport RunOne(const std::string& path, const FileOptions& options, const Extensions& extensions,
                  const FileAction& action, std::exception_ptr& stop) {
  FileReport report(path);
  if (const auto cause = options.names_only ? std::nullopt : UnreadableCause(path, extensions)) {
    report.Fail(*cause);
    return report;
  }
  try {
    action(report);
  } catch (const HostError&) {
    stop = std::current_exception();
  } catch (const std::exception& error) {
    report.Fail(std::string("host failure: ") + error.what(), "host failure");
  }
  return report;
}

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
  add.Option("files", options.files, "Picture files; a folder stands for its pictures")
      .TypeName("FILE");
  add.Flag("-r,--recursive", options.recursive, "Also take the pictures in sub-folders");
  add.Option("-j,--jobs", options.jobs, "Files handled at a time (default: one per core)")
      .Range(1, 256);
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
    hint_ = std::string(hint);
    label_ = ResultName(result);
    if (result == E_NOTEXIF) {
      const auto why = NotExifHint(path_);
      hint_ = why ? why->text : std::string();
      label_ = why ? why->label : "no EXIF";
    }
  }
  return false;
}

void FileReport::Fail(std::string message, std::string label) {
  if (failed_) return;
  failed_ = true;
  message_ = std::move(message);
  label_ = std::move(label);
}

void FileReport::SetHint(const Cause& hint) {
  Set("Hint", hint.text);
}

std::string FileReport::ErrorText() const {
  if (!failed_) return {};
  if (!result_) return message_;
  std::string text = call_ + ": " + DescribeResult(*result_);
  // A file-system error says what went wrong and with which file.
  if (static_cast<uint32_t>(*result_) >> 16 == 0x8007 && *result_ != E_INVALIDARG) {
    const std::string message = SystemMessage(static_cast<uint32_t>(*result_) & 0xFFFF);
    if (!message.empty()) text += ": " + message;
    text += " (" + (written_path_.empty() ? path_ : written_path_) + ")";
  }
  if (!hint_.empty()) text += " (" + hint_ + ")";
  return text;
}

nlohmann::ordered_json FileReport::ToJson() const {
  nlohmann::ordered_json object = nlohmann::ordered_json::object();
  object["SourceFile"] = path_;
  for (const auto& [key, value] : fields_->items()) object[key] = value;
  if (failed_) {
    if (result_) {
      object["Message"] = ErrorText();
      object["Error"] = ResultName(*result_);
      object["ErrorCode"] = ResultHex(*result_);
      object["Call"] = call_;
      if (!hint_.empty()) object["Hint"] = hint_;
    } else {
      object["Error"] = message_;
    }
    object["Cause"] = label_;
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

void PrintNothing(std::FILE*, const FileReport&, bool) {}

std::vector<std::string> InputFiles(Host& host, const FileOptions& options) {
  if (options.names_only) return ExpandInputs(options.files, false, {});
  return ExpandInputs(options.files, options.recursive, host.PictureExtensions());
}

int ForEachFile(Host& host, const FileOptions& options, const FileAction& action,
                const TableRenderer& render) {
  const std::vector<std::string> files = InputFiles(host, options);
  const Extensions extensions = options.names_only ? Extensions() : host.PictureExtensions();
  unsigned jobs = options.jobs != 0 ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
  jobs = static_cast<unsigned>(std::min<size_t>(jobs, files.size()));

  ReportQueue queue(files.size());
  std::atomic<size_t> next{0};
  std::atomic<bool> stopping{false};
  const auto work = [&] {
    for (size_t i = next++; i < files.size() && !stopping; i = next++) {
      std::exception_ptr stop;
      FileReport report = RunOne(files[i], options, extensions, action, stop);
      if (stop) stopping = true;
      queue.Put(i, std::move(report), stop);
    }
  };
  std::vector<std::jthread> workers;
  for (unsigned j = 0; j < jobs; ++j) workers.emplace_back(work);

  const bool many = files.size() > 1;
  std::optional<JsonArrayWriter> json;
  if (options.json) json.emplace();
  ProgressLine progress(files.size());
  int status = kExitOk;
  std::map<std::string, size_t> refused;
  try {
    for (size_t i = 0; i < files.size(); ++i) {
      progress.Show(i, files[i]);
      FileReport report = queue.Take(i);
      if (report.failed()) {
        status = kExitFileFailed;
        ++refused[report.label()];
      }
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
  } catch (...) {
    stopping = true;
    next = files.size();
    throw;
  }
  progress.Clear();
  if (options.writes) {
    std::fflush(stdout);
    size_t failed = 0;
    for (const auto& item : refused) failed += item.second;
    fmt::print(stderr, "veltora: {}\n", Summary(files.size() - failed, refused));
  }
  return status;
}

std::string DumpJson(const nlohmann::ordered_json& value, int indent) {
  return value.dump(indent, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace veltora::host
