// Small pieces the query exports share: the format gate, the calendar check
// of a parsed date, and fetching an entry's value as text.
#ifndef VELTORA_QUERY_QUERY_SUPPORT_H_
#define VELTORA_QUERY_QUERY_SUPPORT_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "exif/tiff_value.h"
#include "interface/host_types.h"

namespace veltora::query {

// True when the path's extension names a JPEG or a TIFF file (the file is
// not opened).
bool IsJpegOrTiffPath(const char* path);

// The calendar check of the host's date-time value type, applied to the
// date and time fields (day of week and milliseconds are not looked at).
bool IsCalendarDateTime(const SYSTEMTIME& date_time);

// Converts a value into a caller's buffer; returns the items delivered (the
// engine's GetEntryValue or GetMakerEntryValue, bound to one reader).
using ValueFetch = std::function<uint32_t(const exif::IfdEntry*, void*, uint32_t)>;

// The entry's value fetched into a buffer of `count` bytes and cut at its
// first NUL; nullopt when nothing was delivered. A count above
// `available_bytes` (what the reader holds) cannot be delivered, so no
// buffer of that size is ever made for it.
std::optional<std::string> FetchText(const exif::IfdEntry& entry, uint32_t available_bytes,
                                     const ValueFetch& fetch);

// Throws std::bad_alloc when a host object could not grow, so that the
// export's guard reports E_OUTOFMEMORY.
void RequireGrowth(bool grown);

}  // namespace veltora::query

#endif  // VELTORA_QUERY_QUERY_SUPPORT_H_
