// Every path by which an export writes a file, as one table that the write
// failure and kill tests walk: each row runs one export from an input file to
// a target (the input itself, or another file).
#ifndef VELTORA_TESTS_SUPPORT_WRITE_PATHS_H_
#define VELTORA_TESTS_SUPPORT_WRITE_PATHS_H_

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "frame/veltora.h"

namespace veltora::testing {

inline constexpr HRESULT kTooLarge = static_cast<HRESULT>(0x800700DFu);

struct WritePath {
  const char* name;
  bool same_file;  // the export writes its input
  std::function<HRESULT(const std::string& out, const std::string& in)> run;
  // Over the file-size limit: the writers that encode in memory see the
  // write of the new file fail; a plain encode sees the imaging library's
  // save into its temporary file fail.
  HRESULT too_large = kTooLarge;
  // Patches the file itself, without a backup.
  bool in_place = false;
};

std::span<const WritePath> WritePaths();

// The input of `path`: a JPEG whose IFD1 lacks Orientation for the rebuild
// paths, else a full one.
std::vector<uint8_t> Source(const WritePath& path);

// The writers stamp IFD0's DateTime with the time of the call, so two runs of
// one edit differ there. Blanks every "YYYY:MM:DD HH:MM:SS" of today's local
// date in `bytes`, so that the results of runs can be compared.
void MaskTodaysStamps(std::span<uint8_t> bytes);

}  // namespace veltora::testing

#endif  // VELTORA_TESTS_SUPPORT_WRITE_PATHS_H_
