// The options a subcommand declares, without the command-line parser in
// sight: only command_options.cpp and main.cpp include it, so a subcommand's
// file compiles in a moment and the parser's code is made once.
//
//   CommandAction SetUpEncode(CLI::App& command) {
//     auto options = std::make_shared<EncodeOptions>();
//     CommandOptions add(command);
//     add.Option("-o,--output", options->output, "Write the picture to OUT").Required();
//     add.Option("--format", options->format, "Format to write").Choices({"jpeg", "png"});
//     ...
#ifndef VELTORA_HOST_COMMAND_OPTIONS_H_
#define VELTORA_HOST_COMMAND_OPTIONS_H_

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace veltora::host {

// One declared option or positional; the calls chain.
class DeclaredOption {
 public:
  explicit DeclaredOption(CLI::Option* option) : option_(option) {}

  DeclaredOption& Required();
  // The placeholder shown in the help text ("FILE", "TAG").
  DeclaredOption& TypeName(const char* name);
  // Refuses the command line when both this and `other` are given.
  DeclaredOption& Excludes(const DeclaredOption& other);
  // Accepts only one of `values`.
  DeclaredOption& Choices(std::initializer_list<const char*> values);
  // Accepts only numbers in [low, high].
  DeclaredOption& Range(double low, double high);

 private:
  CLI::Option* option_;
};

// Declares options on a subcommand. Names as the parser takes them: "-o,--output"
// for an option, a bare word ("file") for a positional.
class CommandOptions {
 public:
  explicit CommandOptions(CLI::App& command) : command_(command) {}

  DeclaredOption Option(const char* names, std::string& value, const char* help);
  DeclaredOption Option(const char* names, std::vector<std::string>& values, const char* help);
  DeclaredOption Option(const char* names, std::optional<std::string>& value, const char* help);
  DeclaredOption Option(const char* names, int32_t& value, const char* help);
  DeclaredOption Option(const char* names, uint32_t& value, const char* help);
  DeclaredOption Option(const char* names, std::optional<int32_t>& value, const char* help);
  DeclaredOption Option(const char* names, double& value, const char* help);
  DeclaredOption Option(const char* names, std::optional<double>& value, const char* help);
  DeclaredOption Flag(const char* names, bool& value, const char* help);
  // Text printed below the options in the subcommand's help.
  void Footer(const char* text);

 private:
  CLI::App& command_;
};

}  // namespace veltora::host

#endif  // VELTORA_HOST_COMMAND_OPTIONS_H_
