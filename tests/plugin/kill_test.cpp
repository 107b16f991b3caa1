// Writers failed or killed part-way. Each of every write export's file-system
// calls in turn fails (disk full), and ends the process in a child (through
// the fault seam); the `veltora` host editing a large file in place is killed
// at random moments (SIGTERM and SIGKILL). After a failure the target holds
// its old bytes and mode; after a kill it is byte for byte the old file or
// the finished new one; no temporary file is left (after a kill, once the
// next write has run). Each kill case prints its tally (the kill table).
// VELTORA_KILL_SWEEP=1 makes the random-time runs longer and their file larger.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <span>
#include <thread>

#include "frame/veltora.h"
#include "imaging/dib_memory.h"
#include "platform/fault_injection.h"
#include "platform/win32_error.h"
#include "tests/imaging/imaging_test_support.h"
#include "tests/platform/file_system_fixture.h"
#include "tests/support/write_paths.h"

extern char** environ;

namespace veltora::testing {
namespace {

namespace fs = std::filesystem;
using platform::FaultSite;

template <uint32_t kFormat>
HRESULT EncodePlain(const std::string& out, const std::string&) {
  static const HGLOBAL dib = imaging::MakeDib(imaging::testing::MakePhoto(120, 90));
  return Encode(dib, out.c_str(), kFormat, 90, nullptr);
}

// The table's BMP row stands for the plain formats there; these add the rest.
const WritePath kPlainFormats[] = {
    {"picture encoded as JPEG", false, EncodePlain<ENCODE_JPEG>},
    {"picture encoded as PNG", false, EncodePlain<ENCODE_PNG>},
    {"picture encoded as TIFF", false, EncodePlain<ENCODE_TIFF>},
    {"picture encoded as GIF", false, EncodePlain<ENCODE_GIF>},
};

// A file's bytes with the call's time stamp blanked.
std::vector<uint8_t> Content(const std::string& file) {
  auto bytes = ReadBytes(file);
  MaskTodaysStamps(bytes);
  return bytes;
}

struct Tally {
  uint32_t tries = 0, old_file = 0, new_file = 0, other = 0, temp_left = 0;
};

void Print(const std::string& name, const Tally& t) {
  std::printf("[kill] %-40s tries %3u  old %3u  new %3u  other %3u  temp left %3u\n", name.c_str(),
              t.tries, t.old_file, t.new_file, t.other, t.temp_left);
}

// What the target holds (its bytes, or their digest) against the old and the
// new file.
template <typename Content>
void Count(const Content& now, const Content& old_file, const Content& new_file, Tally* tally) {
  ++tally->tries;
  ++(now == old_file ? tally->old_file : now == new_file ? tally->new_file : tally->other);
}

class KillTest : public FileSystemTest {
 protected:
  // Lets the next write run in a process of its own (its result does not
  // matter: it is what sweeps up, and a process sweeps a folder once), then
  // counts and removes what is left.
  void CountLeftovers(const std::function<void()>& next_write, Tally* tally) {
    RunInChild([&] {
      next_write();
      return 0;
    });
    for (const std::string& left : TempLeftovers()) {
      std::printf("[kill] left behind: %s\n", left.c_str());
      ++tally->temp_left;
      fs::remove(left);
    }
  }
};

// The file calls whose failure a write must undo: all but the clean-up
// itself (a failed delete of a temporary file leaves it, whatever the
// writer does), the flush and the rename (which fail only as kills do here).
constexpr FaultSite kFailingSites[] = {FaultSite::kCreate, FaultSite::kOpen, FaultSite::kWrite,
                                       FaultSite::kCopy, FaultSite::kAttributes};

// A path that writes another file fails over an existing target and over
// none (a target that did not exist is gone again afterwards); kills run, in
// a child, over an existing target.
TEST_F(KillTest, EveryWriteExportFailedAndKilledAtEachFileCall) {
  std::vector<WritePath> rows(WritePaths().begin(), WritePaths().end());
  rows.insert(rows.end(), std::begin(kPlainFormats), std::end(kPlainFormats));
  const auto old_target = PatternBytes(3000, 7);
  const std::string in = Path("in.jpg"), out = Path("out.jpg");
  for (const WritePath& path : rows) {
    const std::string& target = path.same_file ? in : out;
    const auto source = Source(path);
    for (bool target_exists : {true, false}) {
      if (path.same_file && !target_exists) continue;
      auto prepare = [&] {
        WriteBytes(in, source);
        fs::permissions(in, fs::perms(0640));
        fs::remove(out);
        if (!path.same_file && target_exists) {
          WriteBytes(out, old_target);
          fs::permissions(out, fs::perms(0604));
        }
        return target_exists ? Content(target) : std::vector<uint8_t>{};
      };
      const auto old_bytes = prepare();
      const uint32_t old_mode = target_exists ? ModeOf(target) : 0;
      platform::ResetFaultCounts();
      ASSERT_EQ(path.run(target, in), S_OK) << path.name;
      std::map<FaultSite, uint32_t> calls;
      for (FaultSite site : kFailingSites) calls[site] = platform::FaultCallCount(site);
      const uint32_t all_calls = platform::FaultCallCount(FaultSite::kAny);
      const auto new_bytes = Content(target);
      ASSERT_NE(new_bytes, old_bytes) << path.name;
      for (FaultSite site : kFailingSites) {
        for (uint32_t nth = 1; nth <= calls[site]; ++nth) {
          SCOPED_TRACE(::testing::Message() << path.name << (target_exists ? "" : " (new target)")
                                            << " site " << static_cast<int>(site) << " call " << nth);
          prepare();
          platform::ArmFault(site, nth, platform::kErrorDiskFull);
          const HRESULT result = path.run(target, in);
          platform::DisarmFault();
          EXPECT_TRUE(TempLeftovers().empty());
          // An in-place write has no backup: when only the final restore of
          // the attributes fails, the new bytes are already in the file.
          if (result < 0 && !target_exists) {
            EXPECT_FALSE(fs::exists(target));
          } else if (result < 0 && !(path.in_place && site == FaultSite::kAttributes)) {
            EXPECT_EQ(Content(target), old_bytes);
            EXPECT_EQ(ModeOf(target), old_mode);
          }
        }
      }
      if (!target_exists) continue;
      Tally tally;
      for (uint32_t nth = 1; nth <= all_calls; ++nth) {
        prepare();
        const int status = RunInChild([&] {
          platform::ArmKill(FaultSite::kAny, nth);
          (void)path.run(target, in);
          return 0;
        });
        EXPECT_EQ(status, -1) << path.name << ": not killed at call " << nth;
        Count(Content(target), old_bytes, new_bytes, &tally);
        CountLeftovers([&] { (void)path.run(target, in); }, &tally);
      }
      Print(path.name, tally);
      EXPECT_EQ(tally.other, 0u) << path.name;
      EXPECT_EQ(tally.temp_left, 0u) << path.name;
    }
  }
}

// 64-bit FNV-1a of a file's content (time stamp blanked), read in large
// blocks: the large files are compared by digest rather than held in memory.
uint64_t Digest(const fs::path& file) {
  std::ifstream stream(file, std::ios::binary);
  std::vector<uint8_t> block(1 << 20);
  uint64_t hash = 0xcbf29ce484222325u;
  while (stream.read(reinterpret_cast<char*>(block.data()),
                     static_cast<std::streamsize>(block.size())) ||
         stream.gcount() > 0) {
    const std::span<uint8_t> got(block.data(), static_cast<size_t>(stream.gcount()));
    MaskTodaysStamps(got);
    for (uint8_t byte : got) hash = (hash ^ byte) * 0x100000001b3u;
  }
  return hash;
}

// Starts the host with `args`; its pid, or -1.
pid_t StartHost(const std::string& host, std::vector<std::string> args) {
  args.insert(args.begin(), host);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, host.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int WaitFor(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A camera file whose IFD1 lacks Orientation (so that setting it rebuilds the
// file), padded after its end to `megabytes`, edited by the host in place.
TEST_F(KillTest, HostEditingALargeFileKilledAtRandomMoments) {
  const char* build = std::getenv("VELTORA_BUILD_DIR");
  const auto corpus = CorpusDir();
  if (build == nullptr || !corpus) GTEST_SKIP() << "needs ctest's build folder and the corpus";
  const bool sweep = std::getenv("VELTORA_KILL_SWEEP") != nullptr;
  const int tries = sweep ? 24 : 4;
  const size_t megabytes = sweep ? 300 : 100;
  const std::string host = std::string(build) + "/veltora";
  const fs::path big = Path("big.jpg");
  auto prepare = [&] {
    fs::copy_file(*corpus / "ies_olympus-c960.jpg", big, fs::copy_options::overwrite_existing);
    fs::resize_file(big, megabytes << 20);
  };
  const std::vector<std::string> edit = {"set-orientation", "6", big.string(), "--rebuild",
                                         "--in-place"};
  prepare();
  const uint64_t old_digest = Digest(big);
  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(WaitFor(StartHost(host, edit)), 0);
  const auto full = std::chrono::steady_clock::now() - started;
  const uint64_t new_digest = Digest(big);
  ASSERT_NE(new_digest, old_digest);

  std::mt19937 random(19);
  std::uniform_int_distribution<int64_t> moment(
      0, static_cast<int64_t>(std::chrono::duration_cast<std::chrono::microseconds>(full).count()));
  Tally tally;
  for (int i = 0; i < tries; ++i) {
    prepare();
    const pid_t pid = StartHost(host, edit);
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
    ::kill(pid, i % 2 == 0 ? SIGTERM : SIGKILL);
    WaitFor(pid);
    Count(Digest(big), old_digest, new_digest, &tally);
    CountLeftovers([&] { WaitFor(StartHost(host, edit)); }, &tally);
  }
  Print("host set-orientation --rebuild, " + std::to_string(megabytes) + " MB", tally);
  EXPECT_EQ(tally.other, 0u);
  EXPECT_EQ(tally.temp_left, 0u);
}

}  // namespace
}  // namespace veltora::testing
