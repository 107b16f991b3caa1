// Names for the plug-in's result codes, as the host prints them.
#ifndef VELTORA_HOST_RESULT_NAMES_H_
#define VELTORA_HOST_RESULT_NAMES_H_

#include <string>

#include "frame/veltora.h"

namespace veltora::host {

// "0x8878000B": eight upper-case hex digits, as the code's 32 bits.
std::string ResultHex(HRESULT result);

// The symbolic name of `result`:
//  - the named codes of the chief header ("S_OK", "E_NOTEXIF", ...); a named
//    code wins over the family it also belongs to (E_INVALIDARG is
//    0x80070057, the Win32 family's error 87);
//  - 0x8007xxxx: "HRESULT_FROM_WIN32(<n>)", followed by " <Win32 name>" for
//    the errors a file operation commonly reports (2 ERROR_FILE_NOT_FOUND,
//    5 ERROR_ACCESS_DENIED, 112 ERROR_DISK_FULL, ...);
//  - 0x82xxxxxx: "imaging error -<n>" with n the low 24 bits;
//  - anything else: "unknown result".
std::string ResultName(HRESULT result);

// "0x8878000B E_NOTEXIF": what a failed file reports.
std::string DescribeResult(HRESULT result);

// The Win32 error name for `error` ("ERROR_FILE_NOT_FOUND"), or an empty
// text when it is not one the host knows.
std::string Win32ErrorName(uint32_t error);

}  // namespace veltora::host

#endif  // VELTORA_HOST_RESULT_NAMES_H_
