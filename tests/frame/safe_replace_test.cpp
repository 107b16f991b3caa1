#include "frame/safe_replace.h"

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <utility>

#include "platform/fault_injection.h"
#include "platform/win32_error.h"
#include "tests/platform/file_system_fixture.h"

namespace veltora {
namespace {

using platform::ArmFault;
using platform::DisarmFault;
using platform::FaultSite;
using platform::File;
using testing::FileSystemTest;
using testing::ModeOf;
using testing::PatternBytes;
using testing::ReadBytes;
using testing::WriteBytes;
namespace fs = std::filesystem;

// The writer of a result made from `source`: its bytes in two writes, then
// a tail, so that faults can land between them.
ResultWriter CopyWithTail(const std::string& source) {
  return [source](File& out) -> uint32_t {
    File in;
    if (uint32_t error = File::Open(source.c_str(), File::Access::kRead, &in)) return error;
    std::vector<uint8_t> bytes;
    if (uint32_t error = in.ReadAll(&bytes)) return error;
    const size_t half = bytes.size() / 2;
    if (uint32_t error = out.Write(bytes.data(), half)) return error;
    if (uint32_t error = out.Write(bytes.data() + half, bytes.size() - half)) return error;
    return out.Write("TAIL", 4);
  };
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

// The target is replaced by a rename, so it keeps what belongs to the name:
// mode (read-only included), owner and extended attributes. A file with two
// names is written in place, so that both see the new bytes; a link stays a
// link. A new target keeps its created mode, and a source that is its own
// target is read whole first.
TEST_F(SafeReplaceTest, ReplacementKeepsAttributesLinksAndNames) {
  WriteBytes(Path("src.jpg"), {1, 2, 3});
  const auto write = [&](const char* target) {
    return WriteResultFile(Path(target).c_str(), CopyWithTail(Path("src.jpg")));
  };
  ASSERT_EQ(write("new.jpg"), S_OK);
  EXPECT_EQ(ReadBytes(Path("new.jpg")), WithTail({1, 2, 3}));
  EXPECT_EQ(ModeOf(Path("new.jpg")) & 0600, 0600u);
  WriteBytes(Path("t.jpg"), {9});
  // Before the mode: a user attribute needs write access to be set.
  const bool has_xattr = ::setxattr(Path("t.jpg").c_str(), "user.rating", "5", 1, 0) == 0;
  fs::permissions(Path("t.jpg"), fs::perms(0440));
  const bool as_root = ::geteuid() == 0;
  if (as_root) {
    ASSERT_EQ(::chown(Path("t.jpg").c_str(), 65534, 65534), 0);
  }
  struct stat st {};
  ASSERT_EQ(::stat(Path("t.jpg").c_str(), &st), 0);
  const ino_t inode = st.st_ino;
  ASSERT_EQ(write("t.jpg"), S_OK);
  EXPECT_EQ(ReadBytes(Path("t.jpg")), WithTail({1, 2, 3}));
  EXPECT_EQ(ModeOf(Path("t.jpg")), 0440u);
  ASSERT_EQ(::stat(Path("t.jpg").c_str(), &st), 0);
  EXPECT_NE(st.st_ino, inode);
  if (as_root) {
    EXPECT_EQ(std::pair(st.st_uid, st.st_gid), std::pair(65534u, 65534u));
  }
  char rating[4] = {};
  if (has_xattr) {
    EXPECT_EQ(::getxattr(Path("t.jpg").c_str(), "user.rating", rating, 4), 1);
  }

  WriteBytes(Path("one.jpg"), {7});
  fs::create_hard_link(Path("one.jpg"), Path("two.jpg"));
  ASSERT_EQ(write("one.jpg"), S_OK);
  EXPECT_EQ(ReadBytes(Path("two.jpg")), WithTail({1, 2, 3}));

  WriteBytes(Path("real.jpg"), {7});
  fs::create_symlink(Path("real.jpg"), Path("link.jpg"));
  ASSERT_EQ(write("link.jpg"), S_OK);
  EXPECT_TRUE(fs::is_symlink(Path("link.jpg")));
  EXPECT_EQ(ReadBytes(Path("real.jpg")), WithTail({1, 2, 3}));

  ASSERT_EQ(write("src.jpg"), S_OK);
  EXPECT_EQ(ReadBytes(Path("src.jpg")), WithTail({1, 2, 3}));
  EXPECT_TRUE(TempLeftovers().empty());
}

}  // namespace
}  // namespace veltora
