// veltora info, run as a separate process: the table, the stored numbers,
// and the reason given for a JPEG with EXIF data behind an APP0 segment. The
// JSON form is the records' (record_json_test), read back from info by the
// batch tests.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/host/run_host.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tiff_builder.h"

namespace veltora::host::testing {
namespace {

namespace fs = std::filesystem;
namespace t = veltora::testing;
using ::testing::AllOf;
using ::testing::HasSubstr;

class InfoCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(HostExecutable().c_str(), X_OK) != 0) GTEST_SKIP() << "no " << HostExecutable();
  }
  const std::string sample_ = SamplePicture();
  t::TempDir dir_;
};

TEST_F(InfoCommandTest, TablesReadAsPhotographersReadAndRawAsStored) {
  const HostRun table = RunHost({"info", sample_});
  ASSERT_EQ(table.exit_status, 0) << table.err;
  for (const char* line :
       {"Preview                     : 160 x 120, 24 bits per pixel, JPG\n",
        "ExposureTime                : 1/250 s\n", "FNumber                     : f/5.6\n",
        "-- Interoperability\n", "GPSLatitude                 : 48.8584 N\n"}) {
    EXPECT_THAT(table.out, HasSubstr(line));
  }
  const HostRun raw = RunHost({"info", "-n", sample_});
  EXPECT_THAT(raw.out, HasSubstr("ExposureTime                : 1/250\n"));
  EXPECT_THAT(raw.out, HasSubstr("FNumber                     : 56/10\n"));
  EXPECT_THAT(raw.out, HasSubstr("GPSLatitude                 : 48/1 51/1 3024/100\n"));
}

// EXIF data behind a JFIF APP0: described without records, and told why.
TEST_F(InfoCommandTest, AJfifFileHasNoRecordsAndIsToldWhy) {
  const auto tiff =
      t::TiffBuilder().Ascii(t::kIfd0, 271, "Maker").Short(t::kExif, 37385, 1).Bytes();
  t::WriteFile(dir_ / "jfif.jpg", t::SpliceExif(t::SmallJpeg(), tiff, true));
  const HostRun jfif = RunHost({"info", (dir_ / "jfif.jpg").string()});
  EXPECT_EQ(jfif.exit_status, 0);
  EXPECT_THAT(jfif.out, HasSubstr("EXIF    : none"));
  EXPECT_THAT(jfif.out, AllOf(HasSubstr("E_NOTEXIF"), HasSubstr("APP0 (JFIF)")));
}

}  // namespace
}  // namespace veltora::host::testing
