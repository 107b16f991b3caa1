// Fuzzes the EXIF reading engine over a file held in memory: the scan, every
// directory lookup and value conversion, the thumbnail, the maker note, with
// and without loaded data. Any crash, sanitizer report or hang is a bug.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "exif/maker_note_reader.h"

namespace {

// Each lookup without loaded data re-reads one entry table (up to 64 KiB), as
// designed; looking up every one of thousands of entries would make the
// harness, not the engine, quadratic.
constexpr size_t kEntriesLookedUp = 32;

using veltora::exif::IfdEntry;
using veltora::exif::MakerNoteReader;

void Exercise(MakerNoteReader& r) {
  for (uint32_t code : {1u, 2u, 3u, 4u, 5u, 257u, 258u}) {
    veltora::exif::IfdLocation location;
    (void)r.GetIfdHeader(code, &location);
    std::vector<IfdEntry> entries;
    if (!veltora::exif::Done(r.CollectEntries(code, &entries))) continue;
    if (entries.size() > kEntriesLookedUp) entries.resize(kEntriesLookedUp);
    for (const IfdEntry& e : entries) {
      uint8_t buffer[96];
      for (uint32_t capacity : {0u, 1u, 3u, 8u, 20u, 96u}) r.GetEntryValue(&e, buffer, capacity);
      IfdEntry lookup;
      lookup.tag = e.tag;
      (void)r.FindEntry(code, &lookup);
    }
  }
  r.GetOrientationTag(0);
  r.GetOrientationTag(1);
  std::string text;
  for (uint32_t kind : {0u, 16u, 17u}) {
    (void)r.ReadDateText(0, kind, &text);
    (void)r.ReadDateText(1, kind, &text);
  }
  SYSTEMTIME when;
  (void)r.GetCaptureTime(&when);
  r.IsExifVersion22();
  veltora::exif::Rational x, y;
  (void)r.GetResolution(&x, &y);
  r.GetImageSize();
  std::vector<uint8_t> thumbnail;
  r.GetThumbnail(&thumbnail);
  r.GetMakerSignature();
  std::vector<IfdEntry> maker;
  (void)r.CollectMakerEntries(&maker);
  if (maker.size() > kEntriesLookedUp) maker.resize(kEntriesLookedUp);
  for (const IfdEntry& e : maker) {
    uint8_t buffer[64];
    r.GetMakerEntryValue(&e, buffer, sizeof buffer);
    IfdEntry lookup;
    lookup.tag = e.tag;
    (void)r.FindMakerEntry(&lookup);
  }
  r.HasPrintMatching();
  r.IsExifJpeg();
  r.IsExifTiff();
  // Reload after release: the maker note must not be read through freed data.
  r.FreeExifData();
  (void)r.CollectMakerEntries(&maker);
  r.LoadExifData(0, nullptr);
  r.LoadMakerNote();
  (void)r.CollectMakerEntries(&maker);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> file(data, size);
  for (uint32_t load : {0u, 1u}) {
    MakerNoteReader reader(file, load, 0);
    Exercise(reader);
  }
  return 0;
}
