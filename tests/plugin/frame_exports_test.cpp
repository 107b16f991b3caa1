#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "frame/veltora.h"
#include "tests/support/oracle.h"

namespace veltora {
namespace {

// The version and the eight extensions by index, through the loaded library,
// are checked by the host's version and formats commands.
TEST(FrameExportsTest, VersionAndExtensionTableRefusals) {
  EXPECT_EQ(GetPluginVersion(nullptr), E_INVALIDARG);
  EXPECT_EQ(GetNumOfSupportedExtentions(nullptr), E_INVALIDARG);
  for (int32_t index : {8, -1, 1000}) {
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetSupportedExtention(index, buffer), E_INVALIDARG) << index;
    EXPECT_EQ(std::memcmp(buffer, "\0\0\0\0", 4), 0) << index;
    EXPECT_EQ(buffer[4], 'x') << "only the first four bytes are cleared";
  }
  EXPECT_EQ(GetSupportedExtention(0, nullptr), E_INVALIDARG);
}

TEST(FrameExportsTest, IsSupportedLooksAtTheExtensionOnly) {
  const std::pair<const char*, HRESULT> cases[] = {{"/no/such/dir/photo.JPG", S_OK},
                                                   {"archive.zip", E_FAIL},
                                                   {"", E_INVALIDARG},
                                                   {nullptr, E_INVALIDARG}};
  for (const auto& [path, result] : cases) {
    uint32_t supported = 7;
    EXPECT_EQ(IsSupported(path, &supported), result) << (path != nullptr ? path : "nullptr");
    EXPECT_EQ(supported, result == S_OK ? 1u : 0u) << "always written";
  }
  EXPECT_EQ(IsSupported("a.jpg", nullptr), E_INVALIDARG);
}

// The names the chief header declares as exports.
std::set<std::string> HeaderExports() {
  std::ifstream header(std::string(VELTORA_SOURCE_DIR) + "/frame/veltora.h");
  std::string text((std::istreambuf_iterator<char>(header)), {});
  std::set<std::string> names;
  std::regex declaration(R"(VELTORA_API\s+\w+\s+(?:VELTORA_CALL\s+)?(\w+)\()");
  for (std::sregex_iterator it(text.begin(), text.end(), declaration), end; it != end; ++it) {
    names.insert((*it)[1]);
  }
  return names;
}

// The names an export list names, one indented name a line: the global
// names of the version script (exports.map) or the EXPORTS of the .def file.
std::set<std::string> ListedExports(const std::string& file) {
  std::ifstream list(std::string(VELTORA_SOURCE_DIR) + "/plugin/" + file);
  std::set<std::string> names;
  const std::regex entry(R"([ \t]+([A-Za-z]\w*);?\s*)");
  std::smatch match;
  for (std::string line; std::getline(list, line);) {
    if (std::regex_match(line, match, entry)) names.insert(match[1]);
  }
  return names;
}

TEST(SharedLibraryTest, BothExportListsNameExactlyTheHeaderExports) {
  const std::set<std::string> declared = HeaderExports();
  ASSERT_EQ(declared.size(), 23u);
  EXPECT_EQ(ListedExports("exports.map"), declared);
  EXPECT_EQ(ListedExports("Veltora.def"), declared);
}

std::string PluginPath() {
  const char* build = std::getenv("VELTORA_BUILD_DIR");
  return std::string(build != nullptr ? build : ".") + "/Veltora.pcp";
}

TEST(SharedLibraryTest, ExportsExactlyTheHeaderNamesAndNothingElse) {
  if (!testing::HaveTool("nm")) GTEST_SKIP() << "no nm to read the ELF plug-in (objdump checks the DLL)";
  const auto nm = testing::RunTool({"nm", "-D", "--defined-only", PluginPath()});
  ASSERT_TRUE(nm.has_value() && nm->exit_code == 0) << "nm failed on " << PluginPath();
  std::set<std::string> defined;
  std::istringstream lines(nm->out);
  for (std::string address, kind, name; lines >> address >> kind >> name;) {
    if (kind != "A") defined.insert(name);
  }
  EXPECT_EQ(defined, HeaderExports()) << "what Veltora.pcp exports";
}

}  // namespace
}  // namespace veltora
