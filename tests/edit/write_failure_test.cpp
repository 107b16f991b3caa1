// Every writing export under failure, one table of write paths: injected at
// every file call in turn, and real (file-size limit, full disk, denied
// access). After a failure the target holds its old bytes and mode, and no
// temporary file is left anywhere.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "imaging/dib_memory.h"
#include "platform/fault_injection.h"
#include "platform/win32_error.h"
#include "plugin/veltora.h"
#include "tests/create/records.h"
#include "tests/edit/edit_test_support.h"
#include "tests/imaging/imaging_test_support.h"
#include "tests/platform/file_system_fixture.h"
#include "tests/support/jpeg_builder.h"

namespace veltora::testing {
namespace {

namespace fs = std::filesystem;
using platform::FaultSite;

constexpr FaultSite kSites[] = {FaultSite::kCreate, FaultSite::kOpen, FaultSite::kWrite,
                                FaultSite::kCopy, FaultSite::kAttributes};

constexpr HRESULT kTooLarge = static_cast<HRESULT>(0x800700DFu);

struct WritePath {
  const char* name;
  bool same_file;  // the export writes its input
  std::function<HRESULT(const std::string& out, const std::string& in)> run;
  // Over the file-size limit: the editors and Encode with records (which
  // encodes in memory) see the write fail; the other encoders see the
  // imaging library's save into its temporary file fail.
  HRESULT too_large = kTooLarge;
  // Patches the file itself, without a backup.
  bool in_place = false;
};

HRESULT CreateGps(const std::string& out, const std::string& in) {
  GpsSet gps;
  gps.Tags({1, 2, 3, 4}).Position('N', 48, 'E', 2);
  return ReplaceExifGps(out.c_str(), in.c_str(), 90, &gps.set);
}

// Records merged into the input's EXIF block: an Orientation replaced, a
// ColorSpace inserted.
HRESULT MergeRecords(const std::string& out, const std::string& in) {
  static RecordList* const records = [] {
    auto* list = new RecordList;
    AddRecords(*list, R"({"TiffMain": {"Orientation": 6}, "Exif": {"ColorSpace": 1}})");
    return list;
  }();
  return AppendExif(out.c_str(), in.c_str(), records->get(), 1);
}

// A JPEG of noise (large whatever the quality) with an EXIF block built from
// records: crosses a 64 KiB size limit and fills a 128 KiB disk.
HRESULT EncodeWithRecords(const std::string& out, const std::string&) {
  static const HGLOBAL dib = imaging::MakeDib(imaging::testing::MakeNoise(600, 400, 24));
  static RecordList* const records = [] {
    auto* list = new RecordList;
    AddFullRecords(*list);
    return list;
  }();
  return Encode(dib, out.c_str(), ENCODE_EXIF | ENCODE_EXIF_RECORDS, 90, records->get());
}

// A 270 KB BMP: crosses a 64 KiB size limit and fills a 128 KiB disk.
HRESULT EncodeBmp(const std::string& out, const std::string&) {
  static const HGLOBAL dib = imaging::MakeDib(imaging::testing::MakePhoto(300, 300));
  return Encode(dib, out.c_str(), ENCODE_BMP, 90, nullptr);
}

HRESULT ReplaceThumbnail(const std::string& out, const std::string& in) {
  static const HGLOBAL dib = imaging::MakeDib(imaging::testing::MakePhoto(300, 300));
  return ReplaceThumbImage(out.c_str(), in.c_str(), dib, 90);
}

// A picture whose JPEG crosses a 64 KiB size limit and fills a 128 KiB disk,
// so that the encoders' own temporary files fail there first.
HGLOBAL LargePicture() {
  static const HGLOBAL dib = imaging::MakeDib(imaging::testing::MakeNoise(400, 300, 24));
  return dib;
}

HRESULT ReplaceMain(const std::string& out, const std::string& in) {
  return ReplaceExifImage(out.c_str(), in.c_str(), LargePicture(), 90);
}

HRESULT EncodeNewBlock(const std::string& out, const std::string&) {
  return Encode(LargePicture(), out.c_str(), ENCODE_JPEG | ENCODE_NEW_EXIF_FILE, 90, nullptr);
}

template <int32_t kAllowRebuild>
HRESULT Orientation6(const std::string& out, const std::string& in) {
  return SetOrientation(out.c_str(), in.c_str(), 6, kAllowRebuild);
}

const WritePath kPaths[] = {
    {"orientation in place", true, Orientation6<0>, kTooLarge, true},
    {"orientation copied and patched", false, Orientation6<0>},
    {"orientation rebuilt over its input", true, Orientation6<1>},
    {"capture date", true,
     [](const std::string&, const std::string& in) {
       return SetDateTimeOriginal(in.c_str(), SYSTEMTIME{2024, 2, 0, 29, 1, 2, 3, 0});
     },
     kTooLarge, true},
    {"GPS to another file", false, CreateGps},
    {"GPS over its input", true, CreateGps},
    {"picture encoded", false, EncodeBmp, ResultFromImagingError(imaging::kErrorFileWrite)},
    {"records merged into another file", false, MergeRecords},
    {"records merged over its input", true, MergeRecords},
    {"picture encoded with records", false, EncodeWithRecords},
    {"thumbnail to another file", false, ReplaceThumbnail},
    {"thumbnail over its input", true, ReplaceThumbnail},
    {"main picture to another file", false, ReplaceMain,
     ResultFromImagingError(imaging::kErrorFileWrite)},
    {"main picture over its input", true, ReplaceMain,
     ResultFromImagingError(imaging::kErrorFileWrite)},
    {"encoded with a new block", false, EncodeNewBlock,
     ResultFromImagingError(imaging::kErrorFileWrite)},
};

// A picture large enough to cross a 64 KiB size limit and fill a 128 KiB disk.
const std::vector<uint8_t>& LargeSource() {
  static const auto bytes = SpliceExif(RealJpeg(1600, 1200, 98), CameraBlock(kLittle).Bytes());
  return bytes;
}

// The input of `path`: a JPEG whose IFD1 lacks Orientation for the rebuild
// path, else a full one.
std::vector<uint8_t> Source(const WritePath& path) {
  const bool rebuild = std::string_view(path.name).find("rebuilt") != std::string_view::npos;
  return SpliceExif(RealJpeg(160, 120), CameraBlock(kBig, 1, rebuild ? 0 : 1).Bytes());
}

using WriteFailureTest = FileSystemTest;

// A path that writes another file runs over an existing target and over
// none: a target that did not exist is gone again after a failure.
TEST_F(WriteFailureTest, EveryInjectedFailureLeavesTheTargetIntact) {
  const auto old_target = PatternBytes(3000, 7);
  for (const WritePath& path : kPaths) {
    const auto source = Source(path);
    for (bool target_exists : {true, false}) {
      if (path.same_file && !target_exists) continue;
      for (FaultSite site : kSites) {
        for (uint32_t nth = 1;; ++nth) {
          SCOPED_TRACE(::testing::Message()
                       << path.name << (target_exists ? "" : " (new target)") << " site "
                       << static_cast<int>(site) << " call " << nth);
          WriteBytes(Path("in.jpg"), source);
          fs::permissions(Path("in.jpg"), fs::perms(0640));
          const std::string target = path.same_file ? Path("in.jpg") : Path("out.jpg");
          fs::remove(Path("out.jpg"));
          if (!path.same_file && target_exists) {
            WriteBytes(target, old_target);
            fs::permissions(target, fs::perms(0604));
          }
          const auto before = target_exists ? ReadBytes(target) : std::vector<uint8_t>{};
          const uint32_t mode = target_exists ? ModeOf(target) : 0;
          platform::ArmFault(site, nth, platform::kErrorDiskFull);
          const HRESULT result = path.run(target, Path("in.jpg"));
          const bool fired = platform::FaultFired();
          platform::DisarmFault();
          EXPECT_TRUE(TempLeftovers().empty());
          if (!fired) {
            EXPECT_EQ(result, S_OK);
            EXPECT_NE(ReadBytes(target), before);
            break;
          }
          // An in-place write has no backup: when only the final restore of
          // the attributes fails, the new bytes are already in the file.
          if (result < 0 && !target_exists) {
            EXPECT_FALSE(fs::exists(target));
          } else if (result < 0 && !(path.in_place && site == FaultSite::kAttributes)) {
            EXPECT_EQ(ReadBytes(target), before);
            EXPECT_EQ(ModeOf(target), mode);
          }
          ASSERT_LT(nth, 30u) << "the fault loop does not end";
        }
      }
    }
  }
}

TEST_F(WriteFailureTest, FileSizeLimitRestoresTheTarget) {
  // Large enough that the rebuilt file crosses the limit while being written.
  const auto& source = LargeSource();
  ASSERT_GT(source.size(), 200000u);
  WriteBytes(Path("in.jpg"), source);
  for (const WritePath& path : kPaths) {
    // Of the paths that write their input, those that patch in place (and
    // the orientation's rebuild) never grow it.
    if (path.in_place || std::string_view(path.name) == "orientation rebuilt over its input") {
      continue;
    }
    SCOPED_TRACE(path.name);
    const std::string target = path.same_file ? Path("in.jpg") : Path("out.jpg");
    if (!path.same_file) WriteBytes(target, PatternBytes(5000, 3));
    const auto before = ReadBytes(target);
    const std::string in = Path("in.jpg"), fresh = Path("new.jpg");
    const int status = RunInChild([&] {
      ::signal(SIGXFSZ, SIG_IGN);
      struct rlimit limit = {65536, 65536};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 10;
      if (path.run(target, in) != path.too_large) return 1;
      // A target that did not exist is removed again.
      return path.same_file || path.run(fresh, in) == path.too_large ? 0 : 2;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadBytes(target), before);
    EXPECT_FALSE(fs::exists(fresh));
    EXPECT_TRUE(TempLeftovers().empty());
  }
}

TEST_F(WriteFailureTest, FullDiskRestoresTheTarget) {
  fs::create_directory(Path("small"));
  if (::mount("tmpfs", Path("small").c_str(), "tmpfs", 0, "size=128k") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here";
  }
  WriteBytes(Path("in.jpg"), LargeSource());
  const auto old_target = PatternBytes(40000, 5);
  for (const WritePath& path : kPaths) {
    if (path.same_file) continue;
    SCOPED_TRACE(path.name);
    WriteBytes(Path("small/out.jpg"), old_target);
    const HRESULT result = path.run(Path("small/out.jpg"), Path("in.jpg"));
    EXPECT_EQ(result, static_cast<HRESULT>(0x80070070u));
    EXPECT_EQ(ReadBytes(Path("small/out.jpg")), old_target);
    EXPECT_TRUE(TempLeftovers().empty());
  }
  ::umount(Path("small").c_str());
}

TEST_F(WriteFailureTest, DeniedTargetIsUntouched) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs a second user to own the files";
  fs::create_directory(Path("shared"));
  fs::permissions(Path("shared"), fs::perms(01777));
  for (const WritePath& path : kPaths) {
    SCOPED_TRACE(path.name);
    WriteBytes(Path("shared/in.jpg"), Source(path));  // ours, not nobody's
    fs::permissions(Path("shared/in.jpg"), fs::perms(0644));
    WriteBytes(Path("shared/out.jpg"), PatternBytes(1000, 1));
    fs::permissions(Path("shared/out.jpg"), fs::perms(0644));
    const std::string in = Path("shared/in.jpg");
    const std::string target = path.same_file ? in : Path("shared/out.jpg");
    const std::string temp = unprivileged_temp().string();
    const auto before = ReadBytes(target);
    const int status = RunUnprivileged([&] {
      ::setenv("TMPDIR", temp.c_str(), 1);
      return path.run(target, in) == static_cast<HRESULT>(0x80070005u) ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadBytes(target), before);
    EXPECT_EQ(ModeOf(target), 0644u);
    EXPECT_TRUE(TempLeftovers().empty());
    for (auto& entry : fs::directory_iterator(Path("shared"))) {
      const auto name = entry.path().filename().string();
      EXPECT_TRUE(name == "in.jpg" || name == "out.jpg") << name;
    }
  }
}

}  // namespace
}  // namespace veltora::testing
