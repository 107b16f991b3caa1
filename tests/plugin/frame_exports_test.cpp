#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "plugin/format_detection.h"
#include "plugin/veltora.h"

namespace veltora {
namespace {

TEST(DetectImageFormatTest, ExtensionOfTheLastComponentOnly) {
  struct {
    const char* path;
    ImageFormat expected;
  } cases[] = {
      {"a.JPG", ImageFormat::kJpeg},       {"a.jpeg", ImageFormat::kJpeg},
      {"a.JpE", ImageFormat::kJpeg},       {"a.bmp", ImageFormat::kBmp},
      {"x/a.Tiff", ImageFormat::kTiff},    {"a.tif", ImageFormat::kTiff},
      {"a.png", ImageFormat::kPng},        {"a.gif", ImageFormat::kGif},
      {"dir.jpg/file", ImageFormat::kUnknown}, {"a.", ImageFormat::kUnknown},
      {"file", ImageFormat::kUnknown},     {"a.zip", ImageFormat::kUnknown},
      {"a.jpg.zip", ImageFormat::kUnknown}, {"a.zip.jpg", ImageFormat::kJpeg},
      {".jpg", ImageFormat::kJpeg},        {"", ImageFormat::kUnknown},
      {"a.jpgx", ImageFormat::kUnknown},   {"a. jpg", ImageFormat::kUnknown},
      {"/", ImageFormat::kUnknown},        {"dir.png/", ImageFormat::kUnknown},
  };
  for (auto c : cases) EXPECT_EQ(DetectImageFormat(c.path), c.expected) << '"' << c.path << '"';
  EXPECT_EQ(DetectImageFormat(nullptr), ImageFormat::kUnknown);
  std::string long_extension = "a." + std::string(300, 'j');
  EXPECT_EQ(DetectImageFormat(long_extension.c_str()), ImageFormat::kUnknown);
}

TEST(FrameExportsTest, VersionAndExtensionTable) {
  uint32_t value = 0;
  EXPECT_EQ(GetPluginVersion(nullptr), E_INVALIDARG);
  EXPECT_EQ(GetPluginVersion(&value), S_OK);
  EXPECT_EQ(value, 0x00010000u);
  EXPECT_EQ(GetNumOfSupportedExtentions(nullptr), E_INVALIDARG);
  EXPECT_EQ(GetNumOfSupportedExtentions(&value), S_OK);
  EXPECT_EQ(value, 8u);

  const char* expected[] = {"png", "tif", "tiff", "jpeg", "jpg", "jpe", "bmp", "gif"};
  for (int32_t i = 0; i < 8; ++i) {
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    ASSERT_EQ(GetSupportedExtention(i, buffer), S_OK);
    EXPECT_STREQ(buffer, expected[i]);
  }
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
  uint32_t supported = 7;
  EXPECT_EQ(IsSupported("/no/such/dir/photo.JPG", &supported), S_OK);
  EXPECT_EQ(supported, 1u);
  supported = 7;
  EXPECT_EQ(IsSupported("archive.zip", &supported), E_FAIL);
  EXPECT_EQ(supported, 0u);
  supported = 7;
  EXPECT_EQ(IsSupported("", &supported), E_INVALIDARG);
  EXPECT_EQ(supported, 0u);
  supported = 7;
  EXPECT_EQ(IsSupported(nullptr, &supported), E_INVALIDARG);
  EXPECT_EQ(supported, 0u);
  EXPECT_EQ(IsSupported("a.jpg", nullptr), E_INVALIDARG);
}

// The names the chief header declares as exports.
std::set<std::string> HeaderExports() {
  std::ifstream header(std::string(VELTORA_SOURCE_DIR) + "/plugin/veltora.h");
  std::string text((std::istreambuf_iterator<char>(header)), {});
  std::set<std::string> names;
  std::regex declaration(R"(VELTORA_API\s+\w+\s+(\w+)\()");
  for (std::sregex_iterator it(text.begin(), text.end(), declaration), end; it != end; ++it) {
    names.insert((*it)[1]);
  }
  return names;
}

std::string PluginPath() {
  const char* build = std::getenv("VELTORA_BUILD_DIR");
  return std::string(build != nullptr ? build : ".") + "/Veltora.pcp";
}

TEST(SharedLibraryTest, ExportsExactlyTheHeaderNamesAndNothingElse) {
  std::set<std::string> declared = HeaderExports();
  ASSERT_EQ(declared.size(), 23u);
  std::string command = "nm -D --defined-only '" + PluginPath() + "' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> defined;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    char kind = 0;
    char name[400];
    if (std::sscanf(line, "%*s %c %399s", &kind, name) == 2 && kind != 'A') defined.insert(name);
  }
  ASSERT_EQ(::pclose(pipe), 0) << "nm failed on " << PluginPath();
  for (const std::string& name : defined) {
    EXPECT_TRUE(declared.count(name)) << name << " leaks from Veltora.pcp";
  }
  for (const char* frame : {"GetPluginVersion", "GetNumOfSupportedExtentions",
                            "GetSupportedExtention", "IsSupported"}) {
    EXPECT_TRUE(defined.count(frame)) << frame << " is not exported";
  }
}

TEST(SharedLibraryTest, LoadsAndAnswersByName) {
  // Kept mapped after dlclose: in a sanitizer build the leak check at exit
  // would otherwise see the sanitizer runtime's own per-module allocations
  // through globals that were unmapped.
  void* plugin = ::dlopen(PluginPath().c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  ASSERT_NE(plugin, nullptr) << ::dlerror();
  auto get_version = reinterpret_cast<decltype(&GetPluginVersion)>(::dlsym(plugin, "GetPluginVersion"));
  ASSERT_NE(get_version, nullptr);
  uint32_t version = 0;
  EXPECT_EQ(get_version(&version), S_OK);
  EXPECT_EQ(version, PLUGIN_VERSION);
  EXPECT_EQ(::dlsym(plugin, "DetectImageFormat"), nullptr);
  ::dlclose(plugin);
}

}  // namespace
}  // namespace veltora
