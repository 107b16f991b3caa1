#include "plugin/safe_replace.h"

#include <unistd.h>

#include <filesystem>

#include "platform/fault_injection.h"
#include "platform/win32_error.h"
#include "tests/platform/file_system_fixture.h"

namespace veltora {
namespace {

using platform::ArmFault;
using platform::DisarmFault;
using platform::FaultFired;
using platform::FaultSite;
using platform::File;
using testing::FileSystemTest;
using testing::ModeOf;
using testing::PatternBytes;
using testing::ReadBytes;
using testing::WriteBytes;
namespace fs = std::filesystem;

// A layout writer that copies its input and appends a tail, in several
// writes, so that faults can land between them.
uint32_t CopyWithTail(File& out, File& in) {
  uint64_t size = 0;
  if (uint32_t error = in.Size(&size)) return error;
  std::vector<uint8_t> bytes(size);
  size_t got = 0;
  if (uint32_t error = in.ReadAt(0, bytes.data(), bytes.size(), &got)) return error;
  size_t half = got / 2;
  if (uint32_t error = out.Write(bytes.data(), half)) return error;
  if (uint32_t error = out.Write(bytes.data() + half, got - half)) return error;
  return out.Write("TAIL", 4);
}

std::vector<uint8_t> WithTail(std::vector<uint8_t> bytes) {
  bytes.insert(bytes.end(), {'T', 'A', 'I', 'L'});
  return bytes;
}

class SafeReplaceTest : public FileSystemTest {};

TEST_F(SafeReplaceTest, Win32ErrorMappings) {
  EXPECT_EQ(MapWin32Error(0), S_OK);
  EXPECT_EQ(MapWin32Error(2), static_cast<HRESULT>(0x80070002u));
  EXPECT_EQ(MapWin32Error(5), static_cast<HRESULT>(0x80070005u));
  EXPECT_EQ(MapWin32Error(0x12345), static_cast<HRESULT>(0x80072345u));
  EXPECT_EQ(MapWin32Error(E_FAIL), E_FAIL);
  EXPECT_EQ(MapWriteError(8), E_FILE_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(MapWriteError(14), E_FILE_OUTOFMEMORY);
  EXPECT_EQ(MapWriteError(5), E_FILE_ACCESS_DENIED);
  EXPECT_EQ(MapWriteError(82), E_FILE_CANNOT_MAKE);
  EXPECT_EQ(MapWriteError(112), static_cast<HRESULT>(0x80070070u));
  EXPECT_EQ(MapWriteError(0), S_OK);
}

TEST_F(SafeReplaceTest, ProbeLeavesNothingAndReportsTheDirectory) {
  EXPECT_EQ(ProbeTargetDirectory(Path("out.jpg").c_str()), S_OK);
  EXPECT_EQ(ProbeTargetDirectory(Path("missing/out.jpg").c_str()),
            static_cast<HRESULT>(0x80070003u));
  EXPECT_EQ(ProbeTargetDirectory(""), E_INVALIDARG);
  fs::path cwd = fs::current_path();
  fs::current_path(root());
  EXPECT_EQ(ProbeTargetDirectory("bare-name.jpg"), S_OK);
  fs::current_path(cwd);
  EXPECT_TRUE(TempLeftovers().empty());

  fs::create_directory(Path("locked"));
  fs::permissions(Path("locked"), fs::perms(0555));
  std::string locked = Path("locked/out.jpg");
  int status = testing::RunUnprivileged([&] {
    return ProbeTargetDirectory(locked.c_str()) == static_cast<HRESULT>(0x80070005u) ? 0 : 1;
  });
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(fs::is_empty(Path("locked")));
}

TEST_F(SafeReplaceTest, InPlaceWriteKeepsLengthAndReadOnlyMark) {
  auto bytes = PatternBytes(5000, 1);
  WriteBytes(Path("f.jpg"), bytes);
  fs::permissions(Path("f.jpg"), fs::perms(0444));
  const uint8_t patch[] = {0, 6};
  ASSERT_EQ(WriteBlockInPlace(Path("f.jpg").c_str(), 100, patch, 2), S_OK);
  bytes[100] = 0;
  bytes[101] = 6;
  EXPECT_EQ(ReadBytes(Path("f.jpg")), bytes);
  EXPECT_EQ(ModeOf(Path("f.jpg")), 0444u);
  EXPECT_EQ(WriteBlockInPlace(Path("absent.jpg").c_str(), 0, patch, 2), E_FAIL);
  EXPECT_EQ(WriteBlockInPlace(Path("missing/f.jpg").c_str(), 0, patch, 2),
            static_cast<HRESULT>(0x80070003u));

  ArmFault(FaultSite::kWrite, 1, platform::kErrorDiskFull);
  EXPECT_EQ(WriteBlockInPlace(Path("f.jpg").c_str(), 0, patch, 2),
            static_cast<HRESULT>(0x80070070u));
  DisarmFault();
  EXPECT_EQ(ReadBytes(Path("f.jpg")), bytes);
  EXPECT_EQ(ModeOf(Path("f.jpg")), 0444u);
  EXPECT_TRUE(TempLeftovers().empty());
}

TEST_F(SafeReplaceTest, NewTargetGetsNoBackupAndKeepsItsCreatedMode) {
  WriteBytes(Path("src.jpg"), {1, 2, 3});
  ASSERT_EQ(
      WriteResultFile(Path("new.jpg").c_str(), Path("src.jpg").c_str(), nullptr, CopyWithTail),
      S_OK);
  EXPECT_EQ(ReadBytes(Path("new.jpg")), WithTail({1, 2, 3}));
  EXPECT_EQ(ModeOf(Path("new.jpg")) & 0600, 0600u);
  EXPECT_TRUE(TempLeftovers().empty());
}

TEST_F(SafeReplaceTest, ReadOnlyTargetIsWrittenAndReadOnlyAgain) {
  WriteBytes(Path("src.jpg"), {1, 2, 3});
  WriteBytes(Path("out.jpg"), {9});
  fs::permissions(Path("out.jpg"), fs::perms(0400));
  ASSERT_EQ(
      WriteResultFile(Path("out.jpg").c_str(), Path("src.jpg").c_str(), nullptr, CopyWithTail),
      S_OK);
  EXPECT_EQ(ReadBytes(Path("out.jpg")), WithTail({1, 2, 3}));
  EXPECT_EQ(ModeOf(Path("out.jpg")), 0400u);
}

TEST_F(SafeReplaceTest, AlternateSourceIsReadInsteadOfTheEditedFile) {
  WriteBytes(Path("src.jpg"), {1});
  WriteBytes(Path("alt.tmp"), {2, 2});
  ASSERT_EQ(WriteResultFile(Path("src.jpg").c_str(), Path("src.jpg").c_str(),
                            Path("alt.tmp").c_str(), CopyWithTail),
            S_OK);
  EXPECT_EQ(ReadBytes(Path("src.jpg")), WithTail({2, 2}));
}

struct Scenario {
  const char* name;
  bool same_file;
  bool target_exists;
};

// The file calls whose failure a replacement must survive. Deleting our own
// temporary file is left out: it cannot be made to fail for real in a
// private directory, and an injected failure there only leaves the file.
constexpr FaultSite kFailingSites[] = {FaultSite::kCreate, FaultSite::kOpen, FaultSite::kWrite,
                                       FaultSite::kCopy, FaultSite::kAttributes};

// Makes every file call of each kind fail in turn, N = 1, 2, ... until the
// write gets through: after each failed run the target holds its old bytes
// and mode, and no temporary file is left anywhere.
TEST_F(SafeReplaceTest, EveryInjectedFailureLeavesTheTargetIntactAndNoTempFile) {
  const Scenario scenarios[] = {
      {"other target", false, true}, {"same file", true, true}, {"new target", false, false}};
  auto source = PatternBytes(70000, 4);
  auto old_target = PatternBytes(30000, 9);
  for (const Scenario& scenario : scenarios) {
    for (FaultSite site : kFailingSites) {
      for (uint32_t nth = 1;; ++nth) {
        SCOPED_TRACE(::testing::Message()
                     << scenario.name << " site " << static_cast<int>(site) << " call " << nth);
        fs::remove(Path("target.jpg"));
        WriteBytes(Path("source.jpg"), source);
        std::string target = scenario.same_file ? Path("source.jpg") : Path("target.jpg");
        if (scenario.target_exists && !scenario.same_file) WriteBytes(target, old_target);
        const auto& before = scenario.same_file ? source : old_target;
        if (scenario.target_exists) fs::permissions(target, fs::perms(0640));

        ArmFault(site, nth, platform::kErrorDiskFull);
        HRESULT result =
            WriteResultFile(target.c_str(), Path("source.jpg").c_str(), nullptr, CopyWithTail);
        bool fired = FaultFired();
        DisarmFault();
        EXPECT_TRUE(TempLeftovers().empty());
        if (result == S_OK) {
          // Complete, even when the fault hit only the final attribute step.
          EXPECT_EQ(ReadBytes(target), WithTail(source));
          if (!fired) break;
          continue;
        }
        EXPECT_TRUE(fired);
        if (scenario.target_exists) {
          EXPECT_EQ(ReadBytes(target), before);
          EXPECT_EQ(ModeOf(target), 0640u);
        } else {
          EXPECT_FALSE(fs::exists(target));
        }
        ASSERT_LT(nth, 20u) << "the fault loop does not end";
      }
    }
  }
}

TEST_F(SafeReplaceTest, BuiltFileReplacesTheTargetOrLeavesItIntact) {
  auto built = PatternBytes(50000, 2);
  auto old_target = PatternBytes(20000, 8);
  for (FaultSite site : kFailingSites) {
    for (uint32_t nth = 1;; ++nth) {
      WriteBytes(Path("built.tmp"), built);
      fs::permissions(Path("built.tmp"), fs::perms(0600));
      WriteBytes(Path("out.png"), old_target);
      fs::permissions(Path("out.png"), fs::perms(0644));
      ArmFault(site, nth, platform::kErrorDiskFull);
      HRESULT result = CopyBuiltFile(Path("built.tmp").c_str(), Path("out.png").c_str());
      bool fired = FaultFired();
      DisarmFault();
      fs::remove(Path("built.tmp"));
      EXPECT_TRUE(TempLeftovers().empty()) << "call " << nth;
      EXPECT_EQ(ModeOf(Path("out.png")), 0644u) << "call " << nth;
      if (!fired) {
        EXPECT_EQ(result, S_OK);
        EXPECT_EQ(ReadBytes(Path("out.png")), built);
        break;
      }
      EXPECT_LT(result, 0) << "call " << nth;
      EXPECT_EQ(ReadBytes(Path("out.png")), old_target) << "call " << nth;
      ASSERT_LT(nth, 20u);
    }
  }
}

// The target cannot be written: it is untouched, and its backup is gone too.
TEST_F(SafeReplaceTest, PermissionDeniedTargetIsUntouched) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs a second user to own the target";
  fs::create_directory(Path("shared"));
  fs::permissions(Path("shared"), fs::perms(01777));
  auto old_target = PatternBytes(1000, 1);
  WriteBytes(Path("shared/target.jpg"), old_target);  // owned by us, not by "nobody"
  fs::permissions(Path("shared/target.jpg"), fs::perms(0644));
  WriteBytes(Path("source.jpg"), {1, 2});
  fs::permissions(Path("source.jpg"), fs::perms(0644));
  std::string target = Path("shared/target.jpg"), from = Path("source.jpg");
  std::string temp = unprivileged_temp().string();
  int status = testing::RunUnprivileged([&] {
    ::setenv("TMPDIR", temp.c_str(), 1);
    const HRESULT denied = static_cast<HRESULT>(0x80070005u);
    if (WriteResultFile(target.c_str(), from.c_str(), nullptr, CopyWithTail) != denied) return 1;
    return CopyBuiltFile(from.c_str(), target.c_str()) == denied ? 0 : 2;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadBytes(target), old_target);
  EXPECT_EQ(ModeOf(target), 0644u);
  EXPECT_TRUE(TempLeftovers().empty());
  for (auto& entry : fs::directory_iterator(Path("shared"))) {
    EXPECT_EQ(entry.path().filename(), "target.jpg");
  }
}

}  // namespace
}  // namespace veltora
