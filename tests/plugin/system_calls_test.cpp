// The system calls each export makes on a typical camera JPEG, counted by
// strace around the driver's fenced calls (system_call_driver.cpp). A count
// above its budget is a new redundant call: find it before raising the
// budget. Memory calls (brk, mmap, ...) depend on the allocator and are left
// out, as are the calls that start and end a thread (their number is the
// thread library's); the threads started are counted apart, at most one per
// export (a picture's encode beside its thumbnail). The counts are printed as
// the README's performance table.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

// The export, its budget of system calls (memory calls aside).
const std::map<std::string, int> kBudgets = {
    {"GetOrientation", 3},  {"GetDateTimeOriginal", 3},
    {"SetOrientation", 6},  {"SetDateTimeOriginal", 6},
    {"ReplaceExifGps", 22}, {"AppendExif", 20},
    {"Encode", 16},         {"ReplaceExifImage", 22},
};

bool IsMemoryOrThreadCall(const std::string& name) {
  for (const char* call :
       {"brk", "mmap", "munmap", "mremap", "madvise", "mprotect", "clone", "clone3", "exit",
        "futex", "rseq", "set_robust_list", "rt_sigprocmask"}) {
    if (name == call) return true;
  }
  return false;
}

using Calls = std::map<std::string, std::vector<std::string>>;

// The system calls between each pair of markers, by export, in order.
Calls CallsByExport(const std::string& log, const std::vector<std::string>& order) {
  static const std::regex kCall(R"(^(?:\[pid +\d+\] |\d+ +)?([a-z0-9_]+)\((.*))");
  Calls calls;
  std::ifstream in(log);
  std::string line;
  int inside = -1;
  int fences = 0;
  std::smatch m;
  while (std::getline(in, line)) {
    if (!std::regex_search(line, m, kCall)) continue;
    const std::string name = m[1];
    if (name == "close" && m[2].str().rfind("-1", 0) == 0 && m[2].str().size() > 4) {
      inside = inside < 0 && fences / 2 < static_cast<int>(order.size()) ? fences / 2 : -1;
      ++fences;
      continue;
    }
    if (inside >= 0) calls[order[static_cast<size_t>(inside)]].push_back(name);
  }
  return calls;
}

TEST(SystemCalls, EachExportStaysWithinItsBudget) {
  const char* build = std::getenv("VELTORA_BUILD_DIR");
  const auto corpus = veltora::testing::CorpusDir();
#if defined(VELTORA_SANITIZED_PLUGIN)
  GTEST_SKIP() << "counts the calls of the plain build";
#endif
  if (build == nullptr || !corpus || std::system("strace -f -qq -o /dev/null true 2>/dev/null") != 0) {
    GTEST_SKIP() << "needs strace (allowed to trace), the corpus and VELTORA_BUILD_DIR";
  }
  // A camera JPEG with a thumbnail whose directory has an Orientation of its
  // own, as the in-place orientation edit needs.
  const std::string picture = (*corpus / "mei_Kodak_DC240.jpg").string();
  veltora::testing::TempDir dir;
  const std::string log = (dir / "strace.log").string();
  const std::string names = (dir / "exports.txt").string();
  const std::string command = "strace -f -qq -o " + log + " " + build +
                              "/tests/plugin/system_call_driver " + build +
                              "/Veltora.pcp " + picture + " " + dir.path().string() + " > " + names;
  ASSERT_EQ(std::system(command.c_str()), 0) << command;

  std::vector<std::string> order;
  std::ifstream listed(names);
  for (std::string name, result; listed >> name >> result;) {
    EXPECT_EQ(result, "00000000") << name;
    order.push_back(name);
  }
  ASSERT_EQ(order.size(), kBudgets.size());
  const Calls calls = CallsByExport(log, order);
  std::printf("| export | system calls | of which | threads started |\n|---|---|---|---|\n");
  for (const std::string& name : order) {
    std::vector<std::string> made;
    int threads = 0;
    if (calls.count(name)) {
      for (const std::string& call : calls.at(name)) {
        threads += call == "clone" || call == "clone3";
        if (!IsMemoryOrThreadCall(call)) made.push_back(call);
      }
    }
    std::map<std::string, int> tally;
    for (const std::string& call : made) ++tally[call];
    std::string detail;
    for (const auto& [call, n] : tally) detail += (detail.empty() ? "" : ", ") + call + " " + std::to_string(n);
    std::printf("| %s | %zu | %s | %d |\n", name.c_str(), made.size(), detail.c_str(), threads);
    EXPECT_LE(static_cast<int>(made.size()), kBudgets.at(name)) << name << ": " << detail;
    EXPECT_LE(threads, 1) << name;
    EXPECT_GT(made.size(), 0u) << name << ": the markers were not seen";
  }
}

}  // namespace
