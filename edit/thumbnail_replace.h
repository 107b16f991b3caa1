// The editor steps of thumbnail and main-image replacement: a new IFD1 with
// its thumbnail attached to the end of a work block made by
// StartEdit, the main picture swapped for a freshly encoded file, and the
// print-matching data of the old picture dropped. The exports that encode the
// pictures and run these steps live with the other picture exports
// (plugin/image_replacement.cpp).
#ifndef VELTORA_EDIT_THUMBNAIL_REPLACE_H_
#define VELTORA_EDIT_THUMBNAIL_REPLACE_H_

#include <span>
#include <string>
#include <vector>

#include "edit/exif_editor.h"
#include "edit/ifd_builder.h"

namespace veltora::edit {

// Builds IFD1 from the encoded `thumbnail` (160 x 120, JPEG for a JPEG
// source, TIFF for a TIFF; kept by the caller for the editor's life) at the
// end of a block without IFD1; a
// JPEG without an Interoperability directory gains one first. The thumbnail
// follows the block, and in a TIFF the image data follows the thumbnail.
Outcome AttachThumbnail(ExifEditor& editor, std::span<const uint8_t> thumbnail, const TextInfo& info);
// StartEdit for a new main picture: the encoded file `picture_file` (JPEG or
// TIFF, as the source; kept by the caller for the editor's life) becomes the
// alternate source of the image data and segments, and the directories
// follow its size (a TIFF's IFD0 takes the new file's picture entries;
// PixelXDimension and PixelYDimension). A JPEG's old application segments
// and comments that describe the photograph are put into the new file
// first, so that they survive the replacement.
Outcome ReplaceMainImage(ExifEditor& editor, std::vector<uint8_t>* picture_file);
// Drops the print-matching data of IFD0 and of the maker note: it tells how
// the old picture was to be printed; absent when there was none.
Outcome DropPrintMatching(ExifEditor& editor);

}  // namespace veltora::edit

#endif  // VELTORA_EDIT_THUMBNAIL_REPLACE_H_
