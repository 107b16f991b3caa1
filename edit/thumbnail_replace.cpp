#include "edit/thumbnail_replace.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>

#include "edit/block_entries.h"
#include "exif/byte_source.h"
#include "exif/directory.h"
#include "exif/jpeg_segments.h"

namespace veltora::edit {
namespace {

using exif::kExifIfd;
using exif::kIfd0;
using exif::kIfd1;

constexpr uint16_t kTagPrintMatchingInMakerNote = 0x0E00;

// IFD0 tags that describe how the old picture's pixels were coded. A TIFF's
// new picture brings its own; one of these left behind would make readers
// decode the new strips wrongly (tiles, extra samples, a colour map).
constexpr uint16_t kOldPictureTags[] = {
    266 /* FillOrder */,   284 /* PlanarConfiguration */, 317 /* Predictor */,
    320 /* ColorMap */,    322 /* TileWidth */,           323 /* TileLength */,
    324 /* TileOffsets */, 325 /* TileByteCounts */,      338 /* ExtraSamples */,
    339 /* SampleFormat */, 347 /* JPEGTables */,         513 /* JPEGInterchangeFormat */,
    514 /* JPEGInterchangeFormatLength */, 529 /* YCbCrCoefficients */,
    530 /* YCbCrSubSampling */, 531 /* YCbCrPositioning */};

// The item in the form RewriteIfd takes: inline values as IfdEntry values,
// longer ones as their stored bytes.
EntryEdit EditFromItem(const DirectoryItem& item, bytes::ByteOrder order) {
  EntryEdit edit;
  edit.entry = IfdEntry{item.tag, item.type, item.count, 0};
  if (item.OutOfLine()) {
    edit.bytes = item.value;
    return edit;
  }
  uint8_t raw[exif::kEntrySize] = {};
  bytes::Write16(raw, item.tag, order);
  bytes::Write16(raw + 2, item.type, order);
  bytes::Write32(raw + 4, item.count, order);
  std::memcpy(raw + 8, item.field, 4);
  exif::DecodeEntry(raw, order, &edit.entry);
  // Types the value primitives do not size keep their field as it is.
  if (exif::TypeSize(item.type) == 0) edit.entry.value = bytes::Read32(item.field, order);
  return edit;
}

// A TIFF's IFD0 rewritten for the new picture's entries. The old resolution
// stays when the old directory has one, and so does the old Orientation: the
// new picture is the host's picture as it decoded it, unturned, exactly as
// in a JPEG, whose IFD0 the new picture never touches.
bool TakeNewPictureEntries(ExifEditor& editor, const std::vector<DirectoryItem>& entries) {
  std::vector<EntryEdit> additions;
  for (const DirectoryItem& item : entries) {
    if ((item.tag == exif::kTagXResolution || item.tag == exif::kTagYResolution ||
         item.tag == exif::kTagOrientation) &&
        editor.FindBlockEntry(kIfd0, item.tag)) {
      continue;
    }
    additions.push_back(EditFromItem(item, editor.Order()));
  }
  return editor.RewriteIfd(kIfd0, kOldPictureTags, additions).Done();
}

// Whether IFD0's inline SHORT or LONG `tag` holds `value`.
bool HoldsDimension(ExifEditor& editor, uint16_t tag, uint32_t value) {
  const auto entry = editor.FindBlockEntry(kIfd0, tag);
  return entry && (entry->type == exif::kTypeShort || entry->type == exif::kTypeLong) &&
         exif::EntryValueSize(&*entry) <= 4 && entry->value == value;
}

// Sets a JPEG's pixel dimension where the Exif IFD holds one, keeping its type.
bool SetPixelDimension(ExifEditor& editor, uint16_t tag, uint32_t value) {
  auto entry = editor.FindBlockEntry(kExifIfd, tag);
  if (!entry) return true;
  if (entry->count != 1 || (entry->type != exif::kTypeShort && entry->type != exif::kTypeLong) ||
      (entry->type == exif::kTypeShort && value > 0xFFFF)) {
    return false;
  }
  entry->value = value;
  return Done(editor.SetEntryInPlace(kExifIfd, *entry));
}

// Whether an old segment passes to the file with the new picture. Every
// application segment and comment of the old file describes the photograph
// (vendor data, captions and keywords, the colour profile of its pixel
// values) and would be lost with the old segments; only those that describe
// what the new file replaces stay behind: the coding of the old scan (Adobe's
// colour transform), the pictures stored behind it (multi-picture index) and
// how the old picture was to be printed.
bool PassesToNewPicture(std::span<const uint8_t> segment) {
  const uint16_t marker = static_cast<uint16_t>(segment[0] << 8 | segment[1]);
  const std::string_view payload(reinterpret_cast<const char*>(segment.data()) + 4, segment.size() - 4);
  if (marker == 0xFFFE) return true;  // COM
  // APP1 segments other than EXIF (XMP, most often) describe the photograph;
  // the layout puts them in front of the new EXIF segment.
  if (marker == 0xFFE1) return !payload.starts_with(std::string_view("Exif\0", 5));
  if (marker < 0xFFE2 || marker > 0xFFEF || marker == 0xFFEE) return false;  // APP0: the layout's; APP14
  return !(marker == 0xFFE2 && payload.starts_with(std::string_view("MPF\0", 4))) &&
         !(marker == 0xFFE6 && payload.starts_with("PrintIM"));
}

// Puts the old file's passing segments behind the new picture's SOI. False
// when the old file cannot be read or the picture has no SOI.
bool CarryOldSegments(const std::string& old_path, std::vector<uint8_t>* picture) {
  // Read through a window: the segment headers and most segments lie in
  // the file's first pages, so each costs no system call of its own.
  exif::SourceReader old;
  if (!old.Open(exif::ByteSource::FromPath(old_path.c_str()))) return false;
  const auto read_at = [&old](uint64_t at, std::span<uint8_t> out) {
    return old.ReadAt(at, out.data(), out.size());
  };
  std::vector<uint8_t> carried;
  exif::JpegSegmentWalker walker(0, exif::SoiRule::kStandalone);
  while (const auto s = walker.Next(read_at)) {
    if (s->marker == exif::kJpegSos || s->marker == exif::kJpegEoi || s->cut) break;
    if (s->marker == exif::kJpegSoi || s->length < 2) continue;
    std::vector<uint8_t> segment(size_t{s->length} + 2);
    if (read_at(s->position, segment) != segment.size()) break;  // cut short: nothing to carry
    if (PassesToNewPicture(segment)) carried.insert(carried.end(), segment.begin(), segment.end());
  }
  if (picture->size() < 2) return false;
  picture->insert(picture->begin() + 2, carried.begin(), carried.end());
  return true;
}

// Directories the old IFD1 linked to (a second preview, say) belong to
// images this editor does not follow; a block that holds them is pinned, so
// they still lie where the old link said, and the new IFD1 links to them.
void KeepOldChain(ExifEditor& editor) {
  const exif::ExifReader& source = editor.Source();
  if (source.ThumbnailImage().ifdOffset == 0) return;
  const auto old =
      ReadBlockDirectory(source.LoadedData(), editor.Order(), source.ThumbnailImage().ifdOffset);
  const uint32_t chained = old && old->link ? *old->link : 0;
  if (chained == 0 || uint64_t{chained} + 2 > editor.PinnedEnd()) return;
  (void)editor.LinkBehindIfd1(chained);
}

}  // namespace

Outcome AttachThumbnail(ExifEditor& editor, std::span<const uint8_t> thumbnail, const TextInfo& info) {
  const exif::ExifReader& source = editor.Source();
  if ((!source.HasJpegDimensions() && !source.HasTiffDimensions()) || !editor.HasWorkBlock() ||
      editor.DirectoryOffset(kIfd1) != 0) {
    return Outcome::kRefused;
  }
  editor.DropThumbnail();
  if (TextInfoVersion(info.version) != kTextInfoVersion0120) return Outcome::kRefused;
  editor.SetThumbnailPicture(thumbnail);
  if (!thumbnail.empty()) {
    // A file whose Exif IFD has no Interoperability pointer gets no new
    // directory: adding the pointer is no part of a thumbnail's attachment.
    // Without one the thumbnail is still attached: the directory only
    // names the thumbnail's format, which its own IFD1 says as well.
    if (!editor.HasDirectory(exif::kInteropIfd)) (void)AppendInteropIfd(editor);
    if (const Outcome built = BuildIfd(editor, kIfd1, info, false); !Done(built)) return built;
    KeepOldChain(editor);
  }
  // The Interoperability directory describes the main picture, not the
  // thumbnail: it stays even when no IFD1 is attached.
  editor.PlaceDataBehindBlock();
  return Outcome::kDone;
}

Outcome ReplaceMainImage(ExifEditor& editor, std::vector<uint8_t>* picture_file) {
  editor.TakeImageDataFrom({}, 0);
  if (picture_file->empty()) return Outcome::kRefused;
  const bool tiff = editor.IsTiffSource();
  if (!tiff && !CarryOldSegments(editor.Source().Path(), picture_file)) return Outcome::kRefused;
  const std::span<const uint8_t> picture_bytes(*picture_file);
  exif::ExifReader picture(picture_bytes, 1, 0);
  if (!picture.HasJpegDimensions() && !picture.HasTiffDimensions()) return Outcome::kRefused;
  const exif::ImageSize size = picture.GetImageSize();
  std::vector<DirectoryItem> entries;
  uint32_t first_strip = 0;
  if (tiff) {
    SourceTiff source;
    if (!picture.HasTiffDimensions() || !LoadSourceTiff(picture, &source)) return Outcome::kRefused;
    first_strip = picture.FileOffset(picture.PrimaryImage().firstStripOffset);
    entries = source.Items(kIfd0, editor.Order(), kFileOnlyTags);
  }
  editor.TakeImageDataFrom(picture_bytes, first_strip);
  if (!Done(editor.StartEdit(false))) return Outcome::kRefused;
  if (tiff && (!TakeNewPictureEntries(editor, entries) ||
               !HoldsDimension(editor, exif::kTagImageWidth, size.width) ||
               !HoldsDimension(editor, exif::kTagImageLength, size.height))) {
    return Outcome::kRefused;
  }
  // A TIFF's Exif IFD describes its picture as a JPEG's does.
  return SetPixelDimension(editor, exif::kTagPixelXDimension, size.width) &&
                 SetPixelDimension(editor, exif::kTagPixelYDimension, size.height)
             ? Outcome::kDone
             : Outcome::kRefused;
}

Outcome DropPrintMatching(ExifEditor& editor) {
  Outcome dropped = Outcome::kAbsent;
  if (editor.FindBlockEntry(kIfd0, exif::kTagPrintIm)) {
    const uint16_t tag = exif::kTagPrintIm;
    dropped = editor.RewriteIfd(kIfd0, std::span<const uint16_t>(&tag, 1), {}).outcome;
  }
  const auto entry = editor.FindBlockEntry(exif::kMakerNoteIfd, kTagPrintMatchingInMakerNote);
  if (entry && entry->type == exif::kTypeUndefined && entry->count != 0 && entry->value != 0) {
    const Outcome removed = editor.RemoveTag(exif::kMakerNoteIfd, kTagPrintMatchingInMakerNote);
    if (dropped != Outcome::kRefused) dropped = removed;
  }
  return dropped;
}

}  // namespace veltora::edit
