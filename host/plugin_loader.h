// Loading Veltora.pcp the way any host does: dlopen (LoadLibraryA on
// Windows), exports looked up by name, typed through the chief header's own
// declarations.
#ifndef VELTORA_HOST_PLUGIN_LOADER_H_
#define VELTORA_HOST_PLUGIN_LOADER_H_

#include <string>
#include <string_view>
#include <vector>

#include "frame/veltora.h"
#include "host/host_error.h"

namespace veltora::host {

// Every export of the chief header, in its order. Naming an export here that
// the header does not declare fails to compile (see plugin_loader.cpp).
// clang-format off
#define VELTORA_HOST_EXPORTS(X)                                                     \
  X(GetPluginVersion) X(GetNumOfSupportedExtentions) X(GetSupportedExtention)       \
  X(IsSupported) X(IsExifFile) X(IsExifEx) X(GetOrientation) X(GetDateTimeOriginal) \
  X(GetExifValue) X(GetExifMakerValue) X(GetMakerNoteValue) X(GetExif)              \
  X(SetOrientation) X(SetDateTimeOriginal) X(ReplaceExifGps) X(ReplaceExifImage)    \
  X(ReplaceThumbImage) X(AppendExif) X(Decode) X(Encode) X(Draw) X(DrawImage)       \
  X(GetStillImageInfo)
// clang-format on

// The names of all 23 exports, in the header's order.
const std::vector<std::string_view>& ExportNames();

// Which file to load, first match wins: `option_path` (--plugin), then the
// environment variable VELTORA_PLUGIN, then Veltora.pcp next to the running
// executable. An explicit choice beats the default location, so a plug-in
// under test can be swapped in without moving files.
std::string LocatePlugin(const std::string& option_path);

// The directory of the running executable (from /proc/self/exe, on Windows
// GetModuleFileNameA), or an empty text when it cannot be read.
std::string ExecutableDirectory();

// Owns one loaded library, closed on destruction. Not copyable.
class PluginLoader {
 public:
  PluginLoader() = default;
  ~PluginLoader();
  PluginLoader(const PluginLoader&) = delete;
  PluginLoader& operator=(const PluginLoader&) = delete;

  // Loads `path` with every symbol bound now (a plug-in with unresolved
  // dependencies is refused here, not at its first call). A path without a
  // '/' (nor, on Windows, a '\') is taken relative to the current directory,
  // never searched for on the library path. Throws HostError with the
  // loader's reason on failure.
  void Load(const std::string& path);

  bool loaded() const { return handle_ != nullptr; }
  // The path as given to Load.
  const std::string& path() const { return path_; }
  // The file name part of path(), for messages ("Veltora.pcp").
  std::string file_name() const;

  // The address of export `name`, or nullptr when the plug-in lacks it.
  void* Symbol(const char* name) const;

  // Export `name` as the function pointer type `Fn`. Throws HostError
  // "<file> does not export <name>" when it is absent, so a command stops
  // before it touches any file. Use through VELTORA_EXPORT so that `Fn`
  // always comes from the chief header's declaration.
  template <typename Fn>
  Fn Require(const char* name) const {
    void* address = Symbol(name);
    if (address == nullptr) throw MissingExport(name);
    return reinterpret_cast<Fn>(address);
  }

 private:
  HostError MissingExport(const char* name) const;

  void* handle_ = nullptr;
  std::string path_;
};

}  // namespace veltora::host

// The export `name` of `loader`, typed by the chief header's declaration.
#define VELTORA_EXPORT(loader, name) (loader).Require<decltype(&::name)>(#name)

#endif  // VELTORA_HOST_PLUGIN_LOADER_H_
