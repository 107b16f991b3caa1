// Running the independent EXIF tools (exiftool, exiv2) over files the tests
// build or the plug-in writes.
#ifndef VELTORA_TESTS_SUPPORT_ORACLE_H_
#define VELTORA_TESTS_SUPPORT_ORACLE_H_

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltora::testing {

struct ToolResult {
  int exit_code = -1;  // -1 when the tool died from a signal
  std::string out;
  std::string err;
};

// True when `name` is an executable file in one of $PATH's folders.
bool HaveTool(std::string_view name);

// Runs argv[0] (looked up in $PATH) with the arguments, no shell involved,
// stdin from /dev/null. `environment` entries ("NAME=value") replace the
// test's own variables of those names. nullopt when it cannot be started.
std::optional<ToolResult> RunTool(const std::vector<std::string>& argv,
                                  const std::vector<std::string>& environment = {});

// `exiftool -j -n -G1 <extra...> file`: the tool's one JSON object for the
// file (keys like "IFD0:Make", "ExifIFD:FNumber", "GPS:GPSLatitude"; numbers
// as numbers). nullopt when exiftool is missing, fails or prints no object.
std::optional<nlohmann::json> ExiftoolJson(const std::filesystem::path& file,
                                           const std::vector<std::string>& extra = {});

// `exiftool -j <args...> files...` in one run, since exiftool is slow to
// start: each file's JSON object by its path as given. A file exiftool
// printed no object for is missing. nullopt when exiftool is missing or
// prints no JSON array.
std::optional<std::map<std::string, nlohmann::json>> ExiftoolJsonEach(
    const std::vector<std::filesystem::path>& files, const std::vector<std::string>& args);

// What `exiftool -validate -warning -error -a` reports of a file, one line
// per warning or error ("Warning: [minor] ..."), without the Validate
// summary. nullopt when exiftool is missing.
std::optional<std::vector<std::string>> ExiftoolValidate(const std::filesystem::path& file);
// The same for many files in one run, by path as given.
std::optional<std::map<std::string, std::vector<std::string>>> ExiftoolValidateEach(
    const std::vector<std::filesystem::path>& files);

// `exiv2 -Pkv file`: every tag's key ("Exif.GPSInfo.GPSLatitude") and plain
// value ("48/1 51/1 3024/100"; text without its NUL). A key that occurs twice
// keeps its first value. nullopt when exiv2 is missing.
struct Exiv2Output {
  int exit_code = -1;
  std::string err;  // warnings and errors exiv2 printed, the path as <file>
  std::map<std::string, std::string> values;
};
std::optional<Exiv2Output> Exiv2Values(const std::filesystem::path& file);

}  // namespace veltora::testing

#endif  // VELTORA_TESTS_SUPPORT_ORACLE_H_
