// Where a writing subcommand puts its result. Writing never replaces an input
// file unless --in-place asks for it.
#ifndef VELTORA_HOST_OUTPUT_PATH_H_
#define VELTORA_HOST_OUTPUT_PATH_H_

#include <optional>
#include <string_view>
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
  bool force = false;      // --force: an existing output file may be replaced
};

// -o -: the result goes to standard output.
inline constexpr char kStandardOutput[] = "-";

// Adds -o/--output, --output-dir and --in-place (mutually exclusive) and --force.
void AddOutputOptions(CLI::App& command, OutputOptions& options);

// Checks the combination against the number of inputs; throws HostError (a
// usage error) when no destination was chosen or -o is given several inputs.
void ValidateOutputOptions(const OutputOptions& options, size_t input_count);

// True when `a` and `b` name the same file: same device and inode when both
// exist (so hard links and symbolic links count), otherwise the same
// normalised absolute path. Linux paths are case-sensitive; "IMG.JPG" and
// "img.jpg" are different files.
bool IsSameFile(const std::string& a, const std::string& b);

// The output path for `input` ("-" for standard output), or nullopt with
// `refusal` set when writing there would replace `input` or another input of
// the same call (`inputs`) without --in-place, or an existing file without
// --force.
std::optional<std::string> ResolveOutputPath(const OutputOptions& options, const std::string& input,
                                             std::span<const std::string> inputs,
                                             std::string& refusal);

// A result bound for standard output (-o -): written into a folder of its
// own in the system's temp folder under `name` (the plug-in chooses the format
// by extension), then copied out. The folder goes when this object does.
class StandardOutputFile {
 public:
  explicit StandardOutputFile(const std::string& name);
  ~StandardOutputFile();
  StandardOutputFile(const StandardOutputFile&) = delete;
  StandardOutputFile& operator=(const StandardOutputFile&) = delete;

  // Where the plug-in writes.
  const std::string& path() const { return path_; }
  // Copies the written file to standard output.
  void CopyOut() const;

 private:
  std::string folder_;
  std::string path_;
};

// Adds the required -o/--output (with "-" for standard output) and --force
// of a subcommand that writes one picture.
void AddPictureOutputOptions(CLI::App& command, std::string& output, bool& force, const char* help);

// The -o of a subcommand that writes one picture (decode, encode, draw).
class PictureOutput {
 public:
  // `stdout_name`: the file name used when `output` is "-".
  PictureOutput(const std::string& output, bool force, const std::string& stdout_name);

  // Why `input`'s result cannot go to the output: it is the input, or it
  // exists and --force was not given; nullopt when it can.
  std::optional<std::string> Refusal(const std::string& input) const;
  // Where the plug-in writes.
  const std::string& path() const;
  bool to_stdout() const { return pipe_.has_value(); }
  // After a successful write: the result goes to standard output for "-".
  void Finish() const;

 private:
  std::string output_;
  bool force_;
  std::optional<StandardOutputFile> pipe_;
};

}  // namespace veltora::host

#endif  // VELTORA_HOST_OUTPUT_PATH_H_
