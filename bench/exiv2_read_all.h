// exiv2 as a peer: reading every EXIF tag of a file, the work a tool does to
// show a photo's metadata. Built only where exiv2 is installed.
#ifndef VELTORA_BENCH_EXIV2_READ_ALL_H_
#define VELTORA_BENCH_EXIV2_READ_ALL_H_

#include <string>

// Opens the file, reads its metadata and converts every EXIF value to text.
// False when exiv2 refuses the file.
bool Exiv2ReadAll(const std::string& path);

#endif  // VELTORA_BENCH_EXIV2_READ_ALL_H_
