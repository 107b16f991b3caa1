#include "host/plugin_loader.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

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
#elif !defined(_WIN32)
constexpr int kKeepMappedForLeakCheck = 0;
#endif

constexpr const char* kPluginFileName = "Veltora.pcp";
constexpr const char* kPluginEnvironment = "VELTORA_PLUGIN";

// The system's loader: LoadLibraryA on Windows, dlopen elsewhere. Open
// returns nullptr and sets `reason` on failure.
#if defined(_WIN32)
// Windows paths may also separate with '\'.
constexpr const char* kSeparators = "/\\";
void* OpenLibrary(const std::string& path, std::string& reason) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) reason = "Windows error " + std::to_string(GetLastError());
  return reinterpret_cast<void*>(module);
}
void CloseLibrary(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
void* FindSymbol(void* handle, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
#else
constexpr const char* kSeparators = "/";
void* OpenLibrary(const std::string& path, std::string& reason) {
  dlerror();
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | kKeepMappedForLeakCheck);
  if (handle == nullptr) {
    const char* text = dlerror();
    reason = text != nullptr ? text : "unknown reason";
  }
  return handle;
}
void CloseLibrary(void* handle) { dlclose(handle); }
void* FindSymbol(void* handle, const char* name) { return dlsym(handle, name); }
#endif

}  // namespace

const std::vector<std::string_view>& ExportNames() {
#define VELTORA_HOST_EXPORT_NAME(name) #name,
  static const std::vector<std::string_view> names = {
      VELTORA_HOST_EXPORTS(VELTORA_HOST_EXPORT_NAME)};
#undef VELTORA_HOST_EXPORT_NAME
  return names;
}

std::string ExecutableDirectory() {
#if defined(_WIN32)
  char self[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
  if (length == 0 || length == MAX_PATH) return {};
  return std::filesystem::path(self).parent_path().string();
#else
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  return self.parent_path().string();
#endif
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
  if (handle_ != nullptr) CloseLibrary(handle_);
}

void PluginLoader::Load(const std::string& path) {
  if (handle_ != nullptr) {
    CloseLibrary(handle_);
    handle_ = nullptr;
  }
  path_ = path;
  // The loader searches the library path for a bare name; a host means a file.
  const std::string open_path =
      path.find_first_of(kSeparators) == std::string::npos ? "./" + path : path;
  std::string reason;
  handle_ = OpenLibrary(open_path, reason);
  if (handle_ == nullptr) throw HostError("cannot load the plug-in " + path + ": " + reason);
}

std::string PluginLoader::file_name() const {
  return std::filesystem::path(path_).filename().string();
}

void* PluginLoader::Symbol(const char* name) const {
  if (handle_ == nullptr) return nullptr;
  return FindSymbol(handle_, name);
}

HostError PluginLoader::MissingExport(const char* name) const {
  return HostError(file_name() + " does not export " + name + " (loaded from " + path_ + ")");
}

}  // namespace veltora::host
