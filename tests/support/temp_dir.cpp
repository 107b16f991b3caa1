#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <fstream>
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
  if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp && fs::is_directory(tmp)) return tmp;
  return "/tmp";
}

// The running test's name, made safe for a file name (parameterised names
// hold '/').
std::string TestLabel() {
  std::string label = "veltora";
  if (const auto* info = ::testing::UnitTest::GetInstance()->current_test_info()) {
    label = std::string(info->test_suite_name()) + "." + info->name();
  }
  for (char& c : label) {
    if (c == '/' || c == ' ') c = '_';
  }
  return label.substr(0, 120);
}

}  // namespace

TempDir::TempDir() {
  std::string pattern = (ScratchRoot() / (TestLabel() + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw fs::filesystem_error("mkdtemp", pattern, std::error_code(errno, std::generic_category()));
  }
  path_ = pattern;
}

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
  fs::path corpus = shared / "corpus";
  if (!fs::is_directory(corpus, ec)) return std::nullopt;
  return corpus;
}

}  // namespace veltora::testing
