#include "bench/peer_timing.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <string>

namespace veltora::bench {
namespace {

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// Wall time; or, with VELTORA_BENCH_CLOCK=cpu, the time this thread spent
// on a processor (its own code and the system calls it made): on a machine
// shared with other work, waiting for a processor is not the contender's
// cost. Time spent waiting for the disk (fsync) is not counted either, so
// the CPU clock suits work that the page cache serves.
double NowMicroseconds() {
  static const bool cpu = [] {
    const char* clock = std::getenv("VELTORA_BENCH_CLOCK");
    return clock != nullptr && std::string(clock) == "cpu";
  }();
  if (!cpu) {
    return std::chrono::duration<double, std::micro>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

}  // namespace

std::vector<ContenderResult> CompareOnFiles(const std::vector<Contender>& contenders,
                                            const std::vector<std::string>& files, int rounds) {
  // samples[contender][file] = one time per round, in microseconds.
  std::vector<std::vector<std::vector<double>>> samples(
      contenders.size(), std::vector<std::vector<double>>(files.size()));
  std::vector<std::vector<bool>> failed(contenders.size(), std::vector<bool>(files.size()));
  // Each file meets the contenders in an order drawn afresh, from a fixed
  // seed so that runs repeat. Whoever runs first on a file pays for the
  // system's first look at it (its directory entry, its inode) and runs after
  // the previous file's last contender, whose code and data fill the caches;
  // an order that only alternated would give that place to the first and last
  // listed alone and leave the ones between (the floors) always the warm one.
  std::mt19937 shuffle(20261207);
  std::vector<size_t> order(contenders.size());
  for (int round = 0; round < rounds; ++round) {
    for (size_t f = 0; f < files.size(); ++f) {
      std::iota(order.begin(), order.end(), size_t{0});
      std::shuffle(order.begin(), order.end(), shuffle);
      for (size_t k : order) {
        if (contenders[k].prepare) contenders[k].prepare();
        const double start = NowMicroseconds();
        bool ok = contenders[k].run(files[f]);
        samples[k][f].push_back(NowMicroseconds() - start);
        if (!ok) failed[k][f] = true;
      }
    }
  }
  std::vector<ContenderResult> results;
  for (size_t c = 0; c < contenders.size(); ++c) {
    ContenderResult result;
    result.name = contenders[c].name;
    std::vector<double> per_file, ratios;
    for (size_t f = 0; f < files.size(); ++f) {
      if (failed[c][f]) {
        ++result.failures;
        continue;
      }
      double mine = Median(samples[c][f]);
      per_file.push_back(mine);
      double reference = Median(samples[0][f]);
      if (!failed[0][f] && reference > 0) ratios.push_back(mine / reference);
    }
    result.median_us = Median(per_file);
    result.ratio_to_reference = Median(ratios);
    results.push_back(result);
  }
  return results;
}

void PrintTable(const std::string& title, const std::vector<ContenderResult>& results) {
  std::printf("\n%s\n", title.c_str());
  std::printf("| %-34s | %12s | %14s | %8s |\n", "contender", "median us", "x reference",
              "failed");
  std::printf("|%s|%s|%s|%s|\n", std::string(36, '-').c_str(), std::string(14, '-').c_str(),
              std::string(16, '-').c_str(), std::string(10, '-').c_str());
  for (const ContenderResult& r : results) {
    std::printf("| %-34s | %12.2f | %14.3f | %8zu |\n", r.name.c_str(), r.median_us,
                r.ratio_to_reference, r.failures);
  }
}

std::vector<std::string> CorpusPictures(const std::string& corpus_dir) {
  std::vector<std::string> files;
  std::error_code ec;
  for (auto& entry : std::filesystem::directory_iterator(corpus_dir, ec)) {
    std::string ext = entry.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char ch) {
      return static_cast<char>(std::tolower(ch));
    });
    if (entry.is_regular_file() && (ext == ".jpg" || ext == ".jpeg" || ext == ".tif" ||
                                    ext == ".tiff")) {
      files.push_back(entry.path().string());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::string> CopiesOf(const std::vector<std::string>& files, const std::string& dir,
                                  int copies) {
  std::vector<std::string> out;
  std::filesystem::create_directories(dir);
  for (int i = 0; i < copies; ++i) {
    for (const std::string& file : files) {
      std::filesystem::path p(file);
      std::string target = dir + "/" + std::to_string(i) + "_" + p.filename().string();
      std::filesystem::copy_file(file, target, std::filesystem::copy_options::overwrite_existing);
      // Writable, as a user's pictures are: the corpus is kept read-only, and
      // an edit of a read-only file takes the way round its mark.
      std::filesystem::permissions(target, std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add);
      out.push_back(target);
    }
  }
  return out;
}

long PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

void ResetPeakResident() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

void* BeforePluginExport(const char* name) {
  static void* const plugin = [] {
    const char* path = std::getenv("VELTORA_BEFORE_PLUGIN");
    return path == nullptr ? nullptr : ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
  }();
  return plugin == nullptr ? nullptr : ::dlsym(plugin, name);
}

bool WriteDurably(const std::string& path, const void* bytes, size_t size) {
  const std::string temp = path + ".new";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ::write(fd, bytes, size) == static_cast<ssize_t>(size) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok && ::rename(temp.c_str(), path.c_str()) == 0;
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return false;
  ok = ::fsync(dir) == 0 && ok;
  ::close(dir);
  return ok;
}

}  // namespace veltora::bench
