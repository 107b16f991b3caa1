// Where a writing subcommand puts its result. Writing never replaces an input
// file unless --in-place asks for it.
#ifndef VELTORA_HOST_OUTPUT_PATH_H_
#define VELTORA_HOST_OUTPUT_PATH_H_

#include <optional>
#include <span>
#include <string>

namespace CLI {
class App;
}

namespace veltora::host {

struct OutputOptions {
  std::string output;      // -o FILE: only with a single input
  std::string output_dir;  // --output-dir DIR: DIR/<input's file name>
  bool in_place = false;   // --in-place: the input itself is rewritten
};

// Adds -o/--output, --output-dir and --in-place (mutually exclusive).
void AddOutputOptions(CLI::App& command, OutputOptions& options);

// Checks the combination against the number of inputs; throws HostError (a
// usage error) when no destination was chosen or -o is given several inputs.
void ValidateOutputOptions(const OutputOptions& options, size_t input_count);

// True when `a` and `b` name the same file: same device and inode when both
// exist (so hard links and symbolic links count), otherwise the same
// normalised absolute path. Linux paths are case-sensitive; "IMG.JPG" and
// "img.jpg" are different files.
bool IsSameFile(const std::string& a, const std::string& b);

// The output path for `input`, or nullopt with `refusal` set when writing
// there would replace `input` or another input of the same call (`inputs`)
// without --in-place.
std::optional<std::string> ResolveOutputPath(const OutputOptions& options, const std::string& input,
                                             std::span<const std::string> inputs,
                                             std::string& refusal);

}  // namespace veltora::host

#endif  // VELTORA_HOST_OUTPUT_PATH_H_
