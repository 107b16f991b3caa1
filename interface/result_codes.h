// The 32-bit result codes the exports return (HRESULT), and the two ways
// other errors become one: a Win32 error number and an imaging library error.
#ifndef VELTORA_INTERFACE_RESULT_CODES_H_
#define VELTORA_INTERFACE_RESULT_CODES_H_

#include <stdint.h>

#define VELTORA_HRESULT(x) (static_cast<HRESULT>(static_cast<uint32_t>(x)))

// Windows declares the system's codes and HRESULT_FROM_WIN32 itself (same
// values, same rule); Linux gets them here.
#if defined(_WIN32)
#include "interface/host_win32.h"
#else
typedef int32_t HRESULT;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_INVALIDARG = VELTORA_HRESULT(0x80070057u);
constexpr HRESULT E_FAIL = VELTORA_HRESULT(0x80004005u);
constexpr HRESULT E_ABORT = VELTORA_HRESULT(0x80004004u);
constexpr HRESULT E_OUTOFMEMORY = VELTORA_HRESULT(0x8007000Eu);

// 0x80070000 | Win32 error (low 16 bits); an error <= 0 is returned unchanged.
constexpr HRESULT HRESULT_FROM_WIN32(int32_t error) {
  return error <= 0 ? error
                    : VELTORA_HRESULT(0x80070000u | (static_cast<uint32_t>(error) & 0xFFFFu));
}
#endif

constexpr HRESULT E_NOTEXIF = VELTORA_HRESULT(0x8878000Bu);
constexpr HRESULT E_FILE_NOT_ENOUGH_MEMORY = VELTORA_HRESULT(0x8878000Cu);
constexpr HRESULT E_FILE_OUTOFMEMORY = VELTORA_HRESULT(0x8878000Du);
constexpr HRESULT E_FILE_ACCESS_DENIED = VELTORA_HRESULT(0x8878000Eu);
constexpr HRESULT E_FILE_CANNOT_MAKE = VELTORA_HRESULT(0x8878000Fu);
// 0x82000000 | -e for a negative imaging library error e.
constexpr HRESULT ResultFromImagingError(int32_t error) {
  return VELTORA_HRESULT(0x82000000u | static_cast<uint32_t>(-static_cast<int64_t>(error)));
}

#endif  // VELTORA_INTERFACE_RESULT_CODES_H_
