// Side-by-side timing of several ways of doing the same work on the same
// files: rounds interleave the contenders file by file, each file's time is
// the median over rounds, and a contender is reported against a reference as
// the median over files of the paired ratios (so one slow file or one noisy
// moment does not decide the result).
#ifndef VELTORA_BENCH_PEER_TIMING_H_
#define VELTORA_BENCH_PEER_TIMING_H_

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace veltora::bench {

struct Contender {
  std::string name;
  // Does the work once on one file; returns false when it failed (counted,
  // and the file is left out of that contender's ratios).
  std::function<bool(const std::string& path)> run;
  // Runs untimed before each timed call, when given.
  std::function<void()> prepare = nullptr;
};

struct ContenderResult {
  std::string name;
  double median_us = 0;           // median over files of the per-file medians
  double ratio_to_reference = 0;  // median over files of (this / reference)
  size_t failures = 0;
};

// Times every contender on every file, `rounds` times, interleaved: each file
// meets the contenders in an order drawn afresh. The first contender is the
// reference for the ratios.
std::vector<ContenderResult> CompareOnFiles(const std::vector<Contender>& contenders,
                                            const std::vector<std::string>& files, int rounds);

void PrintTable(const std::string& title, const std::vector<ContenderResult>& results);

// JPEG and TIFF files of the corpus beside the project (empty when absent).
std::vector<std::string> CorpusPictures(const std::string& corpus_dir);

// `copies` copies of `files` under `dir` (page cache warm after the copy).
std::vector<std::string> CopiesOf(const std::vector<std::string>& files, const std::string& dir,
                                  int copies);

// The export `name` of the plug-in named by $VELTORA_BEFORE_PLUGIN (an
// earlier build, timed in the same run as this one), or null when the
// variable is unset or the plug-in or export is missing.
void* BeforePluginExport(const char* name);

// The least a durable whole-file write can do: `size` bytes written to a new
// file beside `path`, flushed to the disk, renamed over `path`, and the
// folder flushed; the floor of every export that writes a new file.
bool WriteDurably(const std::string& path, const void* bytes, size_t size);

// The peak resident set of this process in KiB (VmHWM), and a reset of it
// so that the next peak is measured from the current size.
long PeakResidentKiB();
void ResetPeakResident();

}  // namespace veltora::bench

#endif  // VELTORA_BENCH_PEER_TIMING_H_
