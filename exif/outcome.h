// Outcome: how an operation on EXIF data ended, in every layer between the
// exports (which speak in result codes) and the platform (which speaks in
// Win32 numbers). The type is [[nodiscard]], so a caller that drops an
// outcome does not compile, and it is never a count: a refusal cannot be read
// as "nothing to change" and so as a success.
#ifndef VELTORA_EXIF_OUTCOME_H_
#define VELTORA_EXIF_OUTCOME_H_

#include <cstdint>

namespace veltora::exif {

enum class [[nodiscard]] Outcome : uint8_t {
  kDone,     // the change is made
  kAbsent,   // what it would change is not there (a directory, an entry); nothing changed
  kRefused,  // it would break data, leave the block or outgrow it; nothing changed
};

inline bool Done(Outcome outcome) { return outcome == Outcome::kDone; }

}  // namespace veltora::exif

#endif  // VELTORA_EXIF_OUTCOME_H_
