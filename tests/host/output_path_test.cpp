#include "host/output_path.h"

#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <filesystem>
#include <fstream>
#include <vector>

#include "host/host_error.h"
#include "tests/support/temp_dir.h"

namespace veltora::host {
namespace {

namespace fs = std::filesystem;

class OutputPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(dir_ / "out");
    std::ofstream(dir_ / "a.jpg") << "a";
    std::ofstream(dir_ / "b.jpg") << "b";
  }
  std::string Path(const char* name) const { return (dir_ / name).string(); }

  veltora::testing::TempDir temp_;
  const fs::path& dir_ = temp_.path();
};

TEST_F(OutputPathTest, SameFileFollowsIdentityNotSpelling) {
  fs::create_hard_link(dir_ / "a.jpg", dir_ / "hard.jpg");
  fs::create_symlink(dir_ / "a.jpg", dir_ / "soft.jpg");
  for (const char* same : {"a.jpg", "out/../a.jpg", "hard.jpg", "soft.jpg"}) {
    EXPECT_TRUE(IsSameFile(Path("a.jpg"), Path(same))) << same;
  }
  // Linux names are case-sensitive: A.JPG is another (not yet existing) file.
  for (const char* other : {"b.jpg", "A.JPG", "out/a.jpg"}) {
    EXPECT_FALSE(IsSameFile(Path("a.jpg"), Path(other))) << other;
  }
  // Neither exists: the normalised paths decide.
  EXPECT_TRUE(IsSameFile(Path("new.jpg"), Path("out/../new.jpg")));
}

TEST_F(OutputPathTest, AnInputIsReplacedOnlyInPlace) {
  const std::vector<std::string> inputs = {Path("a.jpg"), Path("b.jpg")};
  struct {
    const char* label;
    OutputOptions options;
    std::string expected;  // empty: refused
  } cases[] = {
      {"-o elsewhere", {Path("c.jpg"), "", false}, Path("c.jpg")},
      {"-o the input", {Path("a.jpg"), "", false}, ""},
      {"-o the input by another spelling", {Path("out/../a.jpg"), "", false}, ""},
      {"-o another input", {Path("b.jpg"), "", false}, ""},
      {"--output-dir elsewhere", {"", Path("out"), false}, Path("out/a.jpg")},
      {"--output-dir the input's directory", {"", dir_.string(), false}, ""},
      {"--in-place", {"", "", true}, Path("a.jpg")},
  };
  for (const auto& c : cases) {
    std::string refusal;
    const auto output = ResolveOutputPath(c.options, inputs[0], inputs, refusal);
    if (c.expected.empty()) {
      EXPECT_FALSE(output.has_value()) << c.label;
      EXPECT_NE(refusal.find(c.options.output.empty() ? "out" : c.options.output),
                std::string::npos)
          << c.label << ": the refusal names the output: " << refusal;
    } else {
      ASSERT_TRUE(output.has_value()) << c.label << ": " << refusal;
      EXPECT_EQ(*output, c.expected) << c.label;
    }
  }
}

TEST_F(OutputPathTest, DestinationMustBeChosenAndFitTheInputs) {
  EXPECT_THROW(ValidateOutputOptions({}, 1), HostError);
  EXPECT_THROW(ValidateOutputOptions({"x.jpg", "", false}, 2), HostError);
  EXPECT_NO_THROW(ValidateOutputOptions({"x.jpg", "", false}, 1));
  EXPECT_NO_THROW(ValidateOutputOptions({"", "out", false}, 2));
  EXPECT_NO_THROW(ValidateOutputOptions({"", "", true}, 2));

  for (const auto& args :
       std::vector<std::vector<const char*>>{{"veltora", "-o", "x.jpg", "--in-place"},
                                             {"veltora", "--output-dir", "d", "--in-place"},
                                             {"veltora", "-o", "x.jpg", "--output-dir", "d"}}) {
    CLI::App app;
    OutputOptions options;
    AddOutputOptions(app, options);
    EXPECT_THROW(app.parse(static_cast<int>(args.size()), const_cast<char**>(args.data())),
                 CLI::ExcludesError)
        << args[1] << " " << args[3];
  }
}

}  // namespace
}  // namespace veltora::host
