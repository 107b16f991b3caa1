// veltora maker FILE [TAG...]: the maker note's signature and the raw value
// field of each entry (or of the listed tags), in maker-note order.
#include <fmt/format.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "host/command.h"
#include "host/command_options.h"
#include "host/commands/query_format.h"
#include "host/file_runner.h"
#include "host/host_error.h"

namespace veltora::host {
namespace {

struct MakerOptions {
  std::string file;
  std::vector<std::string> tags;
  std::string signature;
  bool json = false;
};

uint16_t ParseTag(const std::string& text) {
  try {
    size_t used = 0;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const unsigned long value = std::stoul(hex ? text.substr(2) : text, &used, hex ? 16 : 10);
    if (used == text.size() - (hex ? 2 : 0) && value <= UINT16_MAX && text[0] != '-') {
      return static_cast<uint16_t>(value);
    }
  } catch (const std::exception&) {
  }
  throw HostError(fmt::format("tag '{}' is not a number from 0 to 65535", text));
}

// Host objects built with the chief header's helpers and freed on every path.
struct MakerLists {
  CString signature{};
  CWordArray tags{};
  CDWordArray values{};
  ~MakerLists() {
    CStringFree(&signature);
    ArrayFree(&tags);
    ArrayFree(&values);
  }
};

void PrintMaker(std::FILE* out, const FileReport& report, bool many) {
  if (many) fmt::print(out, "======== {}\n", report.path());
  fmt::print(out, "Signature : {}\n", report.fields().value("Signature", ""));
  for (const auto& entry : report.fields().value("Entries", nlohmann::ordered_json::array())) {
    fmt::print(out, "{}    0x{:08X}\n", TagText(entry.value("Tag", 0u)), entry.value("Value", 0u));
  }
}

int RunMaker(Host& host, const MakerOptions& options) {
  std::vector<uint16_t> wanted;
  for (const std::string& text : options.tags) wanted.push_back(ParseTag(text));
  const auto get = VELTORA_EXPORT(host.plugin(), GetMakerNoteValue);
  FileOptions files;
  files.files = {options.file};
  files.json = options.json;
  return ForEachFile(
      host, files,
      [&](FileReport& report) {
        MakerLists lists;
        if (!CStringSet(&lists.signature, options.signature.c_str()) ||
            !ArrayAppend(&lists.tags, wanted.data(), wanted.size())) {
          throw std::bad_alloc();
        }
        const HRESULT result =
            get(report.path().c_str(), &lists.signature, &lists.tags, &lists.values);
        // E_ABORT still tells the file's signature: show it with the failure.
        report.fields()["Signature"] = CStringGet(&lists.signature);
        if (!report.Check("GetMakerNoteValue", result)) return;
        nlohmann::ordered_json entries = nlohmann::ordered_json::array();
        const auto tags = ArrayView(&lists.tags);
        const auto values = ArrayView(&lists.values);
        for (size_t i = 0; i < tags.size() && i < values.size(); ++i) {
          entries.push_back({{"Tag", tags[i]}, {"Value", values[i]}});
        }
        report.fields()["Entries"] = std::move(entries);
      },
      PrintMaker);
}

CommandAction SetUpMaker(CLI::App& command) {
  CommandOptions add(command);
  auto options = std::make_shared<MakerOptions>();
  add.Option("file", options->file, "Picture file").Required().TypeName("FILE");
  add.Option("tags", options->tags, "Maker-note tags, decimal or 0x-hex (default: all)")
      .TypeName("TAG");
  add.Option("--signature", options->signature,
                     "Expected maker signature; a different one fails with E_ABORT");
  AddJsonOption(command, options->json);
  return [options](Host& host) { return RunMaker(host, *options); };
}

const CommandRegistration kMaker(
    {"maker", "List the maker note's signature and entry value fields", 204, &SetUpMaker});

}  // namespace
}  // namespace veltora::host
