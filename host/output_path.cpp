#include "host/command_options.h"
#include "host/output_path.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <stdexcept>
#include <system_error>

#include "host/host_error.h"

namespace veltora::host {

void AddOutputOptions(CLI::App& command, OutputOptions& options) {
  CommandOptions add(command);
  DeclaredOption output = add.Option("-o,--output", options.output,
                                    "Write the result to FILE (one input only)");
  DeclaredOption directory = add.Option("--output-dir", options.output_dir,
                                       "Write each result to DIR under the input's file name");
  DeclaredOption in_place = add.Flag("--in-place", options.in_place, "Rewrite the input files");
  add.Flag("--force", options.force, "Replace an output file that exists");
  output.Excludes(directory).Excludes(in_place);
  directory.Excludes(in_place);
}

void AddPictureOutputOptions(CLI::App& command, std::string& output, bool& force, const char* help) {
  CommandOptions add(command);
  add.Option("-o,--output", output, help).Required();
  add.Flag("--force", force, "Replace an output file that exists");
}

void ValidateOutputOptions(const OutputOptions& options, size_t input_count) {
  if (options.output.empty() && options.output_dir.empty() && !options.in_place) {
    throw HostError("say where to write: -o FILE, --output-dir DIR or --in-place");
  }
  if (!options.output.empty() && input_count > 1) {
    throw HostError("-o names one output file; use --output-dir DIR for several inputs");
  }
}

bool IsSameFile(const std::string& a, const std::string& b) {
  // The file's identity when both exist (device and inode; on Windows, where
  // stat gives no inode, the volume and file index).
  std::error_code same_error;
  const bool same = std::filesystem::equivalent(a, b, same_error);
  if (!same_error) return same;
  std::error_code error_a;
  std::error_code error_b;
  const auto canonical_a = std::filesystem::weakly_canonical(a, error_a);
  const auto canonical_b = std::filesystem::weakly_canonical(b, error_b);
  if (error_a || error_b) return a == b;
  return canonical_a == canonical_b;
}

std::optional<std::string> ResolveOutputPath(const OutputOptions& options, const std::string& input,
                                             std::span<const std::string> inputs,
                                             std::string& refusal) {
  if (options.in_place) return input;
  std::string output = options.output;
  if (output.empty()) {
    output = (std::filesystem::path(options.output_dir) / std::filesystem::path(input).filename())
                 .string();
  }
  if (output == kStandardOutput) return output;
  if (IsSameFile(output, input)) {
    refusal = "the output " + output + " is the input; use --in-place to rewrite it";
    return std::nullopt;
  }
  for (const std::string& other : inputs) {
    if (IsSameFile(output, other)) {
      refusal = "the output " + output + " is the input " + other + "; refusing to replace it";
      return std::nullopt;
    }
  }
  std::error_code error;
  if (!options.force && std::filesystem::exists(output, error)) {
    refusal = "the output " + output + " exists; --force replaces it";
    return std::nullopt;
  }
  return output;
}

StandardOutputFile::StandardOutputFile(const std::string& name) {
  std::random_device random;
  for (int attempt = 0; attempt < 100 && folder_.empty(); ++attempt) {
    const auto candidate = std::filesystem::temp_directory_path() / ("veltora-out-" + std::to_string(random()));
    if (std::filesystem::create_directory(candidate)) folder_ = candidate.string();
  }
  if (folder_.empty()) throw std::runtime_error("no temporary folder for standard output");
  path_ = (std::filesystem::path(folder_) / std::filesystem::path(name).filename()).string();
}

StandardOutputFile::~StandardOutputFile() {
  std::error_code error;
  std::filesystem::remove_all(folder_, error);
}

void StandardOutputFile::CopyOut() const {
  std::ifstream file(path_, std::ios::binary);
  std::fflush(stdout);
  std::cout << file.rdbuf();
  std::cout.flush();
}

PictureOutput::PictureOutput(const std::string& output, bool force, const std::string& stdout_name)
    : output_(output), force_(force) {
  if (output == kStandardOutput) pipe_.emplace(stdout_name);
}

std::optional<std::string> PictureOutput::Refusal(const std::string& input) const {
  std::string refusal;
  const std::string inputs[] = {input};
  if (ResolveOutputPath(OutputOptions{output_, "", false, force_}, input, inputs, refusal)) return std::nullopt;
  return refusal;
}

const std::string& PictureOutput::path() const { return pipe_ ? pipe_->path() : output_; }

void PictureOutput::Finish() const {
  if (pipe_) pipe_->CopyOut();
}

}  // namespace veltora::host
