// Calls side by side. Threads run every export on corpus files at once, each
// answer equal to the one the same call gives alone (built with
// -DVELTORA_TSAN=ON, ThreadSanitizer watches them); processes encode and
// replace thumbnails at once, each output holding its own picture. Each test
// prints its figures.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "frame/veltora.h"
#include "host/record_json.h"
#include "imaging/dib_memory.h"
#include "tests/create/records.h"
#include "tests/imaging/draw_canvas.h"
#include "tests/imaging/imaging_test_support.h"
#include "tests/platform/file_system_fixture.h"
#include "tests/query/query_answers.h"
#include "tests/support/temp_dir.h"
#include "tests/support/write_paths.h"

namespace veltora::testing {
namespace {

namespace fs = std::filesystem;
using imaging::testing::BlockBytes;
using imaging::testing::Solid;

// Bytes as text, for answers that join several values.
std::string Text(const std::vector<uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// One export's answer for one input as text: its result and what it wrote
// (out-parameters, a surface's pixels, or the file it wrote to `out`).
using Call = std::function<std::string(const std::string& in, const std::string& out)>;

std::string Painted(const std::function<HRESULT(HDC)>& paint) {
  imaging::testing::Canvas canvas(48, 32);
  const HRESULT result = paint(canvas.dc());
  return BytesOf(result) + BytesOf(canvas.Digest());
}

// Calls of every export, in groups.
std::vector<std::pair<const char*, Call>> Calls() {
  std::vector<std::pair<const char*, Call>> calls = {
      {"frame",
       [](const std::string& in, const std::string&) {
         uint32_t version = 0, count = 0, supported = 0;
         char extension[16] = {};
         std::string answer;
         Append(answer, GetPluginVersion(&version), version, GetNumOfSupportedExtentions(&count),
                count);
         Append(answer, GetSupportedExtention(2, extension), extension);
         Append(answer, IsSupported(in.c_str(), &supported), supported);
         return answer;
       }},
      {"queries", [](const std::string& in, const std::string&) { return QueryAnswers(in); }},
      {"description",
       [](const std::string& in, const std::string&) {
         StillImageInfoOut out{};
         const HRESULT result = GetStillImageInfo(in.c_str(), &out, INFO_EXIF);
         std::string answer = BytesOf(result);
         if (result == S_OK && out.single.record != nullptr) {
           answer += host::RecordToJson(out.single.type, out.single.record).dump();
           ImageInfoRecordDelete(out.single.type, out.single.record);
         }
         return answer;
       }},
      {"decode and draw",
       [](const std::string& in, const std::string&) {
         std::string answer;
         for (int32_t mode : {0, DECODE_PREVIEW}) {
           HGLOBAL dib = Decode(in.c_str(), mode);
           answer += dib == nullptr ? "none" : Text(BlockBytes(dib));
           if (dib != nullptr)
             answer += Painted([&](HDC dc) { return Draw(dc, dib, 2, 2, 40, 30); });
           GlobalFree(dib);
         }
         return answer + Painted([&](HDC dc) {
                  return DrawImage(in.c_str(), dc, 0, 0, 48, 32, 90, 0, 0, 0, 0, 1, 30);
                });
       }},
  };
  // Every write path, on a copy of the input where it writes its input.
  for (const WritePath& path : WritePaths()) {
    calls.emplace_back(path.name, [&path](const std::string& in, const std::string& out) {
      if (path.same_file) fs::copy_file(in, out, fs::copy_options::overwrite_existing);
      const HRESULT result = path.run(out, path.same_file ? out : in);
      if (!fs::exists(out)) return BytesOf(result);
      auto bytes = ReadBytes(out);
      MaskTodaysStamps(bytes);  // the call's time stamp
      return BytesOf(result) + Text(bytes);
    });
  }
  return calls;
}

// A few corpus pictures of different makers and both byte orders.
std::vector<std::string> Inputs() {
  std::vector<std::string> files;
  if (auto corpus = CorpusDir()) {
    for (const char* name : {"ies_olympus-c960.jpg", "ies_ricoh-rdc5300.jpg",
                             "ies_sanyo-vpcg250.jpg", "etl_Casio.jpg"}) {
      if (fs::exists(*corpus / name)) files.push_back((*corpus / name).string());
    }
  }
  return files;
}

using ConcurrencyTest = FileSystemTest;

TEST_F(ConcurrencyTest, ThreadsGetTheAnswersOfSingleCalls) {
  const auto inputs = Inputs();
  if (inputs.empty()) GTEST_SKIP() << "no corpus";
  const auto calls = Calls();
  auto answers = [&](const std::string& tag) {
    std::vector<std::string> all;
    for (size_t f = 0; f < inputs.size(); ++f) {
      for (size_t c = 0; c < calls.size(); ++c) {
        const std::string out =
            Path(tag + "-" + std::to_string(f) + "-" + std::to_string(c) + ".jpg");
        all.push_back(calls[c].second(inputs[f], out));
        fs::remove(out);
      }
    }
    return all;
  };
  const auto alone = answers("alone");
  constexpr int kThreads = 4, kRounds = 2;
  std::atomic<int> differing{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        if (answers("thread" + std::to_string(t)) != alone) ++differing;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::printf("[threads] %d threads x %d rounds x %zu files x %zu calls: %d differing\n", kThreads,
              kRounds, inputs.size(), calls.size(), differing.load());
  EXPECT_EQ(differing.load(), 0);
  EXPECT_TRUE(TempLeftovers().empty());
}

// The middle pixel of a decoded picture (0x00BBGGRR), or ~0u without one.
uint32_t MiddleColour(const std::string& file, int32_t mode) {
  imaging::Bitmap bitmap;  // takes the decoded block and frees it
  HGLOBAL dib = Decode(file.c_str(), mode);
  if (dib == nullptr || imaging::AttachDib(&bitmap, dib) != 1) return ~0u;
  return static_cast<uint32_t>(GetPixelColour(bitmap, bitmap.width / 2, bitmap.height / 2));
}

bool Near(uint32_t a, uint32_t b) {
  return imaging::testing::ColourDifference(static_cast<int32_t>(a), static_cast<int32_t>(b)) <= 12;
}

// Each process encodes a picture of its own colour with records and puts a
// thumbnail of that colour into its own copy of a camera file, over and
// over; a call that fails or a file holding another colour is a collision.
TEST_F(ConcurrencyTest, ProcessesEncodeAndReplaceThumbnailsWithoutCollisions) {
  const auto inputs = Inputs();
  if (inputs.empty()) GTEST_SKIP() << "no corpus";
  constexpr int kProcesses = 4, kRuns = 20;
  RecordList records;
  AddRecords(records, R"({"TiffMain": {"Orientation": 6}, "Exif": {"ColorSpace": 1}})");
  std::vector<pid_t> children;
  for (int k = 0; k < kProcesses; ++k) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      const uint32_t colour = 0x202020u + 0x30u * static_cast<uint32_t>(k) +
                              0x3000u * static_cast<uint32_t>(kProcesses - k);
      const HGLOBAL dib = imaging::MakeDib(Solid(96, 64, colour));
      const std::string encoded = Path("encoded" + std::to_string(k) + ".jpg");
      const std::string thumbed = Path("thumbed" + std::to_string(k) + ".jpg");
      int collisions = 0;
      for (int run = 0; run < kRuns; ++run) {
        std::error_code ignored;
        fs::copy_file(inputs[0], thumbed, fs::copy_options::overwrite_existing, ignored);
        const bool ok = Encode(dib, encoded.c_str(), ENCODE_EXIF | ENCODE_EXIF_RECORDS, 90,
                               records.get()) == S_OK &&
                        Near(MiddleColour(encoded, 0), colour) &&
                        ReplaceThumbImage(thumbed.c_str(), thumbed.c_str(), dib, 90) == S_OK &&
                        Near(MiddleColour(thumbed, DECODE_PREVIEW), colour);
        collisions += ok ? 0 : 1;
      }
      // Told through a file: a sanitizer may set the exit status.
      WriteBytes(Path("collisions" + std::to_string(k)), {static_cast<uint8_t>(collisions)});
      ::_exit(0);
    }
    children.push_back(pid);
  }
  int collisions = 0;
  for (int k = 0; k < kProcesses; ++k) {
    ::waitpid(children[static_cast<size_t>(k)], nullptr, 0);
    const fs::path told = Path("collisions" + std::to_string(k));
    collisions += fs::exists(told) ? ReadBytes(told).at(0) : kRuns;
  }
  std::printf(
      "[processes] %d processes x %d runs (encode with records, thumbnail): %d collisions\n",
      kProcesses, kRuns, collisions);
  EXPECT_EQ(collisions, 0);
  EXPECT_TRUE(TempLeftovers().empty());
}

}  // namespace
}  // namespace veltora::testing
