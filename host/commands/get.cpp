// veltora get FILE DIR TAG: any tag of IFD0, the EXIF, GPS or
// interoperability directory or IFD1, read with GetExifValue and shown by
// its type.
#include <fmt/format.h>

#include <cstring>
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

struct GetOptions {
  std::string file;
  std::string directory;
  std::string tag;
  uint32_t capacity = 65536;
  bool json = false;
};

struct DirectoryName {
  const char* name;
  uint32_t code;
};
constexpr DirectoryName kDirectories[] = {{"ifd0", EXIF_DIR_IFD0},
                                          {"exif", EXIF_DIR_EXIF},
                                          {"gps", EXIF_DIR_GPS},
                                          {"interop", EXIF_DIR_INTEROP},
                                          {"ifd1", EXIF_DIR_IFD1}};

// Decimal or 0x-prefixed hexadecimal, the whole text; nullopt otherwise.
std::optional<uint64_t> ParseNumber(const std::string& text) {
  if (text.empty()) return std::nullopt;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  size_t used = 0;
  try {
    const uint64_t value = std::stoull(hex ? text.substr(2) : text, &used, hex ? 16 : 10);
    if (used != text.size() - (hex ? 2 : 0) || text[hex ? 2 : 0] == '-') return std::nullopt;
    return value;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// A name of kDirectories, or any number: the plug-in judges codes itself, so
// that a refused code shows its refusal.
uint32_t DirectoryCode(const std::string& text) {
  for (const DirectoryName& d : kDirectories) {
    if (strcasecmp(text.c_str(), d.name) == 0) return d.code;
  }
  const std::optional<uint64_t> number = ParseNumber(text);
  if (!number || *number > UINT32_MAX) {
    throw HostError(fmt::format(
        "directory '{}' is neither a number nor one of ifd0, exif, gps, interop, ifd1", text));
  }
  return static_cast<uint32_t>(*number);
}

std::string DirectoryText(uint32_t code) {
  for (const DirectoryName& d : kDirectories) {
    if (d.code == code) return fmt::format("{} ({})", d.name, code);
  }
  return fmt::format("{}", code);
}

const char* TypeName(uint16_t type) {
  static const char* const kNames[] = {"",      "BYTE",      "ASCII",  "SHORT", "LONG",
                                       "RATIONAL", "SBYTE",  "UNDEFINED", "SSHORT",
                                       "SLONG", "SRATIONAL", "FLOAT",  "DOUBLE"};
  return type < std::size(kNames) ? kNames[type] : "unknown";
}

template <typename T>
T At(const std::vector<uint8_t>& buffer, size_t index) {
  T value;
  std::memcpy(&value, buffer.data() + index * sizeof(T), sizeof(T));
  return value;
}

// One item as JSON, or the list of them.
template <typename Item>
nlohmann::ordered_json Items(uint32_t count, Item item) {
  if (count == 1) return item(0);
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (uint32_t i = 0; i < count; ++i) list.push_back(item(i));
  return list;
}

// The table form of a rational value: "1/250 (0.004)", items separated by
// spaces; empty for the other types, which show as their JSON value.
std::string RationalValueText(uint16_t type, uint32_t count, const std::vector<uint8_t>& buffer) {
  std::string text;
  for (uint32_t i = 0; i < count && (type == 5 || type == 10); ++i) {
    text += i ? " " : "";
    text += type == 5 ? RationalWithDecimal(At<uint32_t>(buffer, 2 * i), At<uint32_t>(buffer, 2 * i + 1))
                      : RationalWithDecimal(At<int32_t>(buffer, 2 * i), At<int32_t>(buffer, 2 * i + 1));
  }
  return text;
}

// The delivered value by its field type: numbers, [numerator, denominator]
// pairs, text, or hex bytes.
nlohmann::ordered_json ValueOf(uint16_t type, uint32_t count, uint32_t size,
                               const std::vector<uint8_t>& buffer) {
  switch (type) {
    case 1:
      return Items(count, [&](uint32_t i) { return nlohmann::ordered_json(buffer[i]); });
    case 2:
      return std::string(reinterpret_cast<const char*>(buffer.data()),
                         strnlen(reinterpret_cast<const char*>(buffer.data()), size));
    case 3:
      return Items(count, [&](uint32_t i) { return nlohmann::ordered_json(At<uint16_t>(buffer, i)); });
    case 4:
      return Items(count, [&](uint32_t i) { return nlohmann::ordered_json(At<uint32_t>(buffer, i)); });
    case 9:
      return Items(count, [&](uint32_t i) { return nlohmann::ordered_json(At<int32_t>(buffer, i)); });
    case 5:
      return Items(count, [&](uint32_t i) {
        return nlohmann::ordered_json({At<uint32_t>(buffer, 2 * i), At<uint32_t>(buffer, 2 * i + 1)});
      });
    case 10:
      return Items(count, [&](uint32_t i) {
        return nlohmann::ordered_json({At<int32_t>(buffer, 2 * i), At<int32_t>(buffer, 2 * i + 1)});
      });
    default:
      return HexBytes(std::span<const uint8_t>(buffer.data(), size));
  }
}

int RunGet(Host& host, const GetOptions& options) {
  const uint32_t directory = DirectoryCode(options.directory);
  const std::optional<uint64_t> tag = ParseNumber(options.tag);
  if (!tag || *tag > UINT16_MAX) {
    throw HostError(fmt::format("tag '{}' is not a number from 0 to 65535", options.tag));
  }
  if (options.capacity == 0) throw HostError("--capacity must be at least 1");
  const auto get = VELTORA_EXPORT(host.plugin(), GetExifValue);
  FileOptions files;
  files.files = {options.file};
  files.json = options.json;
  return ForEachFile(host, files, [&](FileReport& report) {
    std::vector<uint8_t> buffer(options.capacity);
    uint32_t size = options.capacity;
    uint16_t type = 0;
    uint32_t count = 0;
    const HRESULT result = get(report.path().c_str(), directory, static_cast<uint16_t>(*tag),
                               buffer.data(), &size, &type, &count);
    report.fields()["Directory"] = DirectoryText(directory);
    report.SetField("Tag", *tag, fmt::format("{} ({})", TagText(static_cast<uint32_t>(*tag)), *tag));
    if (!report.Check("GetExifValue", result)) return;
    report.fields()["Type"] = TypeName(type);
    report.fields()["Count"] = count;
    report.fields()["Size"] = size;
    const std::string rational_text = RationalValueText(type, count, buffer);
    if (rational_text.empty()) {
      report.fields()["Value"] = ValueOf(type, count, size, buffer);
    } else {
      report.SetField("Value", ValueOf(type, count, size, buffer), rational_text);
    }
  });
}

CommandAction SetUpGet(CLI::App& command) {
  CommandOptions add(command);
  auto options = std::make_shared<GetOptions>();
  add.Option("file", options->file, "Picture file").Required().TypeName("FILE");
  add.Option("directory", options->directory,
             "ifd0, exif, gps, interop, ifd1, or a directory code (1, 2, 3, 4, 257)")
      .Required()
      .TypeName("DIR");
  add.Option("tag", options->tag, "Tag number, decimal or 0x-hex")
      .Required()
      .TypeName("TAG");
  add.Option("--capacity", options->capacity,
                     "Buffer size offered to the plug-in, in bytes (default 65536)");
  AddJsonOption(command, options->json);
  return [options](Host& host) { return RunGet(host, *options); };
}

const CommandRegistration kGet({"get", "Read any tag of a standard directory", 203, &SetUpGet});

}  // namespace
}  // namespace veltora::host
