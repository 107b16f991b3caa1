#include "host/result_names.h"

#include <fmt/format.h>

#include <cstdint>
#include <string_view>

namespace veltora::host {
namespace {

struct NamedCode {
  HRESULT code;
  std::string_view name;
};

constexpr NamedCode kNamedResults[] = {
    {S_OK, "S_OK"},
    {S_FALSE, "S_FALSE"},
    {E_INVALIDARG, "E_INVALIDARG"},
    {E_FAIL, "E_FAIL"},
    {E_ABORT, "E_ABORT"},
    {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
    {E_NOTEXIF, "E_NOTEXIF"},
    {E_FILE_NOT_ENOUGH_MEMORY, "E_FILE_NOT_ENOUGH_MEMORY"},
    {E_FILE_OUTOFMEMORY, "E_FILE_OUTOFMEMORY"},
    {E_FILE_ACCESS_DENIED, "E_FILE_ACCESS_DENIED"},
    {E_FILE_CANNOT_MAKE, "E_FILE_CANNOT_MAKE"},
};

struct NamedWin32Error {
  uint32_t error;
  std::string_view name;
};

// The errors the plug-in's file layer produces (its errno mapping), plus the
// few a Windows-built plug-in reports for the same situations.
constexpr NamedWin32Error kWin32Errors[] = {
    {2, "ERROR_FILE_NOT_FOUND"},
    {3, "ERROR_PATH_NOT_FOUND"},
    {4, "ERROR_TOO_MANY_OPEN_FILES"},
    {5, "ERROR_ACCESS_DENIED"},
    {6, "ERROR_INVALID_HANDLE"},
    {8, "ERROR_NOT_ENOUGH_MEMORY"},
    {14, "ERROR_OUTOFMEMORY"},
    {19, "ERROR_WRITE_PROTECT"},
    {25, "ERROR_SEEK"},
    {29, "ERROR_WRITE_FAULT"},
    {30, "ERROR_READ_FAULT"},
    {32, "ERROR_SHARING_VIOLATION"},
    {38, "ERROR_HANDLE_EOF"},
    {39, "ERROR_HANDLE_DISK_FULL"},
    {80, "ERROR_FILE_EXISTS"},
    {82, "ERROR_CANNOT_MAKE"},
    {87, "ERROR_INVALID_PARAMETER"},
    {112, "ERROR_DISK_FULL"},
    {123, "ERROR_INVALID_NAME"},
    {145, "ERROR_DIR_NOT_EMPTY"},
    {161, "ERROR_BAD_PATHNAME"},
    {183, "ERROR_ALREADY_EXISTS"},
    {206, "ERROR_FILENAME_EXCED_RANGE"},
    {223, "ERROR_FILE_TOO_LARGE"},
    {267, "ERROR_DIRECTORY"},
};

constexpr uint32_t kWin32Facility = 0x80070000u;
constexpr uint32_t kImagingFacility = 0x82000000u;

}  // namespace

std::string ResultHex(HRESULT result) {
  return fmt::format("0x{:08X}", static_cast<uint32_t>(result));
}

std::string Win32ErrorName(uint32_t error) {
  for (const auto& known : kWin32Errors) {
    if (known.error == error) return std::string(known.name);
  }
  return {};
}

std::string ResultName(HRESULT result) {
  for (const auto& named : kNamedResults) {
    if (named.code == result) return std::string(named.name);
  }
  const auto bits = static_cast<uint32_t>(result);
  if ((bits & 0xFFFF0000u) == kWin32Facility) {
    const uint32_t error = bits & 0xFFFFu;
    std::string name = fmt::format("HRESULT_FROM_WIN32({})", error);
    if (std::string win32 = Win32ErrorName(error); !win32.empty()) name += " " + win32;
    return name;
  }
  if ((bits & 0xFF000000u) == kImagingFacility) {
    return fmt::format("imaging error -{}", bits & 0x00FFFFFFu);
  }
  return "unknown result";
}

std::string DescribeResult(HRESULT result) { return ResultHex(result) + " " + ResultName(result); }

}  // namespace veltora::host
