// Orientation and capture-date edits of existing files. The exports
// themselves (SetOrientation, SetDateTimeOriginal) are declared in
// frame/veltora.h; this header exposes the pure rule they share.
#ifndef VELTORA_EDIT_ORIENTATION_EDIT_H_
#define VELTORA_EDIT_ORIENTATION_EDIT_H_

#include <cstdint>

namespace veltora::edit {

struct OrientationPair {
  uint16_t primary = 0;
  uint16_t thumbnail = 0;
};

// The new IFD0 and IFD1 orientations when `requested` replaces `primary`:
// the thumbnail is turned by the same step as the main image and keeps its
// own mirroring. All three values must be 1..8.
OrientationPair NewOrientations(uint16_t requested, uint16_t primary, uint16_t thumbnail);

}  // namespace veltora::edit

#endif  // VELTORA_EDIT_ORIENTATION_EDIT_H_
