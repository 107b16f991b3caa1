#include "host/command_options.h"

#include <CLI/CLI.hpp>

namespace veltora::host {

DeclaredOption& DeclaredOption::Required() {
  option_->required();
  return *this;
}

DeclaredOption& DeclaredOption::TypeName(const char* name) {
  option_->type_name(name);
  return *this;
}

DeclaredOption& DeclaredOption::Excludes(const DeclaredOption& other) {
  option_->excludes(other.option_);
  return *this;
}

DeclaredOption& DeclaredOption::Choices(std::initializer_list<const char*> values) {
  option_->check(CLI::IsMember(std::vector<std::string>(values.begin(), values.end())));
  return *this;
}

DeclaredOption& DeclaredOption::Range(double low, double high) {
  option_->check(CLI::Range(low, high));
  return *this;
}

DeclaredOption CommandOptions::Option(const char* names, std::string& value, const char* help) {
  return DeclaredOption(command_.add_option(names, value, help));
}

DeclaredOption CommandOptions::Option(const char* names, std::vector<std::string>& values,
                                      const char* help) {
  return DeclaredOption(command_.add_option(names, values, help));
}

DeclaredOption CommandOptions::Option(const char* names, std::optional<std::string>& value,
                                      const char* help) {
  return DeclaredOption(command_.add_option(names, value, help));
}

DeclaredOption CommandOptions::Option(const char* names, int32_t& value, const char* help) {
  return DeclaredOption(command_.add_option(names, value, help));
}

DeclaredOption CommandOptions::Option(const char* names, uint32_t& value, const char* help) {
  return DeclaredOption(command_.add_option(names, value, help));
}

DeclaredOption CommandOptions::Option(const char* names, std::optional<int32_t>& value,
                                      const char* help) {
  return DeclaredOption(command_.add_option(names, value, help));
}

DeclaredOption CommandOptions::Option(const char* names, double& value, const char* help) {
  return DeclaredOption(command_.add_option(names, value, help));
}

DeclaredOption CommandOptions::Option(const char* names, std::optional<double>& value,
                                      const char* help) {
  return DeclaredOption(command_.add_option(names, value, help));
}

DeclaredOption CommandOptions::Flag(const char* names, bool& value, const char* help) {
  return DeclaredOption(command_.add_flag(names, value, help));
}

void CommandOptions::Footer(const char* text) { command_.footer(text); }

}  // namespace veltora::host
