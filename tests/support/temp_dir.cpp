#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace veltora::testing {
namespace {

namespace fs = std::filesystem;

fs::path ScratchRoot() {
  if (const char* build = std::getenv("VELTORA_BUILD_DIR"); build && *build) {
    fs::path root = fs::path(build) / "test-scratch";
    std::error_code ec;
    fs::create_directories(root, ec);
    if (!ec) return root;
  }
  return fs::temp_directory_path();
}

// The running test's name, made safe for a file name (parameterised names
// hold '/').
std::string TestLabel() {
  std::string label = "veltora";
  if (const auto* info = ::testing::UnitTest::GetInstance()->current_test_info()) {
    label = std::string(info->test_suite_name()) + "." + info->name();
  }
  std::replace_if(
      label.begin(), label.end(), [](char c) { return c == '/' || c == ' '; }, '_');
  return label.substr(0, 120);
}

}  // namespace

fs::path MakeUniqueDirectory(const fs::path& parent, const std::string& prefix) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = parent / (prefix + "-" + std::to_string(random() % 1000000000));
    // create_directory answers false, without an error, when the name is taken.
    if (fs::create_directory(candidate)) return candidate;
  }
  throw fs::filesystem_error("no unique directory name", parent,
                             std::make_error_code(std::errc::file_exists));
}

TempDir::TempDir() : path_(MakeUniqueDirectory(ScratchRoot(), TestLabel())) {}

TempDir::~TempDir() {
  std::error_code ec;
  // A test may have made files read-only; owner write on directories is
  // needed to delete their entries.
  for (auto it = fs::recursive_directory_iterator(path_, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

void WriteFile(const fs::path& path, std::span<const uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::vector<uint8_t> ReadFile(const fs::path& path) {
  // One read of the whole size: a character-wise read is slow in unoptimised
  // builds, and the corpus tests read hundreds of megabytes.
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) throw std::runtime_error("cannot open " + path.string());
  std::vector<uint8_t> bytes(static_cast<size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return bytes;
}

std::optional<fs::path> CorpusDir() {
  fs::path shared;
  if (const char* env = std::getenv("VELTORA_SHARED_DIR"); env && *env) {
    shared = env;
  } else {
#ifdef VELTORA_SHARED_DIR
    shared = VELTORA_SHARED_DIR;
#else
    return std::nullopt;
#endif
  }
  std::error_code ec;
  if (!fs::is_directory(shared / "corpus", ec)) return std::nullopt;
  return shared / "corpus";
}

}  // namespace veltora::testing
