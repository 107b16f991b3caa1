// Names of the plug-in's temporary files, shared with hosts so that a host can
// recognise (and report) what an interrupted run left behind:
//
//   ~vt<PREFIX>-<process id, decimal>-<unique number, hex>.TMP
//
// e.g. "~vtNEW-4711-1A2B.TMP" beside a target being replaced. The process id
// tells a later run whether the file's maker still runs; a file whose maker
// is gone is a leftover. Backups ("PIC") are never leftovers to remove: after
// an interrupted write over a file in place, a backup may be the only whole
// copy of the user's file.
#ifndef VELTORA_INTERFACE_TEMP_NAMES_H_
#define VELTORA_INTERFACE_TEMP_NAMES_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace veltora {

inline constexpr std::string_view kTempNameMark = "~vt";
inline constexpr std::string_view kTempNameExtension = ".TMP";
inline constexpr size_t kTempPrefixLength = 3;

// Prefixes of the temporary files.
inline constexpr char kProbePrefix[] = "CHK";        // probe, in the target's own folder
inline constexpr char kReplacementPrefix[] = "NEW";  // a new file beside its target
inline constexpr char kBackupPrefix[] = "PIC";       // backup of a target written in place

inline std::string TempFileName(std::string_view prefix, uint32_t pid, uint32_t unique) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string hex;
  do {
    hex.insert(hex.begin(), kHex[unique & 0xF]);
    unique >>= 4;
  } while (unique != 0);
  std::string name(kTempNameMark);
  name += prefix.substr(0, kTempPrefixLength);
  name += '-';
  name += std::to_string(pid);
  name += '-';
  name += hex;
  name += kTempNameExtension;
  return name;
}

struct TempNameParts {
  std::string prefix;
  uint32_t pid = 0;
};

// The parts of a file name made by TempFileName; nullopt for any other name.
inline std::optional<TempNameParts> ParseTempFileName(std::string_view name) {
  if (!name.starts_with(kTempNameMark) || !name.ends_with(kTempNameExtension)) return std::nullopt;
  name.remove_prefix(kTempNameMark.size());
  name.remove_suffix(kTempNameExtension.size());
  if (name.size() < kTempPrefixLength + 4 || name[kTempPrefixLength] != '-') return std::nullopt;
  TempNameParts parts{std::string(name.substr(0, kTempPrefixLength)), 0};
  name.remove_prefix(kTempPrefixLength + 1);
  const size_t dash = name.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash > 10 || dash + 1 == name.size()) {
    return std::nullopt;
  }
  uint64_t pid = 0;
  for (char c : name.substr(0, dash)) {
    if (c < '0' || c > '9') return std::nullopt;
    pid = pid * 10 + static_cast<uint64_t>(c - '0');
  }
  if (pid == 0 || pid > UINT32_MAX) return std::nullopt;
  for (char c : name.substr(dash + 1)) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return std::nullopt;
  }
  parts.pid = static_cast<uint32_t>(pid);
  return parts;
}

}  // namespace veltora

#endif  // VELTORA_INTERFACE_TEMP_NAMES_H_
