#include "host/plugin_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <type_traits>

namespace veltora::host {
namespace {

// Each listed name must be a function the chief header declares.
#define VELTORA_HOST_CHECK_EXPORT(name)                                       \
  static_assert(std::is_function_v<std::remove_pointer_t<decltype(&::name)>>, \
                #name " is not an export of the chief header");
VELTORA_HOST_EXPORTS(VELTORA_HOST_CHECK_EXPORT)
#undef VELTORA_HOST_CHECK_EXPORT

// The leak checker of a sanitizer build looks for live pointers in every
// loaded module at exit. Memory the plug-in (or a library it pulls in)
// allocates once and keeps in a global would look leaked once dlclose has
// unmapped that global, so there the plug-in stays mapped after dlclose.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kKeepMappedForLeakCheck = RTLD_NODELETE;
#else
constexpr int kKeepMappedForLeakCheck = 0;
#endif

constexpr const char* kPluginFileName = "Veltora.pcp";
constexpr const char* kPluginEnvironment = "VELTORA_PLUGIN";

}  // namespace

const std::vector<std::string_view>& ExportNames() {
#define VELTORA_HOST_EXPORT_NAME(name) #name,
  static const std::vector<std::string_view> names = {
      VELTORA_HOST_EXPORTS(VELTORA_HOST_EXPORT_NAME)};
#undef VELTORA_HOST_EXPORT_NAME
  return names;
}

std::string ExecutableDirectory() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  return self.parent_path().string();
}

std::string LocatePlugin(const std::string& option_path) {
  if (!option_path.empty()) return option_path;
  if (const char* from_environment = std::getenv(kPluginEnvironment);
      from_environment != nullptr && *from_environment != '\0') {
    return from_environment;
  }
  const std::string directory = ExecutableDirectory();
  if (directory.empty()) return kPluginFileName;
  return (std::filesystem::path(directory) / kPluginFileName).string();
}

PluginLoader::~PluginLoader() {
  if (handle_ != nullptr) dlclose(handle_);
}

void PluginLoader::Load(const std::string& path) {
  if (handle_ != nullptr) {
    dlclose(handle_);
    handle_ = nullptr;
  }
  path_ = path;
  // dlopen searches the library path for a bare name; a host means a file.
  const std::string open_path = path.find('/') == std::string::npos ? "./" + path : path;
  dlerror();
  handle_ = dlopen(open_path.c_str(), RTLD_NOW | RTLD_LOCAL | kKeepMappedForLeakCheck);
  if (handle_ == nullptr) {
    const char* reason = dlerror();
    throw HostError("cannot load the plug-in " + path + ": " +
                    (reason != nullptr ? reason : "unknown reason"));
  }
}

std::string PluginLoader::file_name() const {
  return std::filesystem::path(path_).filename().string();
}

void* PluginLoader::Symbol(const char* name) const {
  if (handle_ == nullptr) return nullptr;
  return dlsym(handle_, name);
}

HostError PluginLoader::MissingExport(const char* name) const {
  return HostError(file_name() + " does not export " + name + " (loaded from " + path_ + ")");
}

}  // namespace veltora::host
