// The chief header as a host sees it: this file includes nothing else and is
// built with every warning as an error (and syntax-checked under -m32 by
// check_abi.sh). It prepares the objects a host builds for the exports and
// releases them, without loading the plug-in, and exits non-zero on the
// first surprise.
#include "frame/veltora.h"

namespace {

// Every export, as a host takes its address (looked up by name).
template <typename... Fn>
constexpr int Count(Fn...) {
  return sizeof...(Fn);
}
static_assert(Count(&GetPluginVersion, &GetNumOfSupportedExtentions, &GetSupportedExtention,
                    &IsSupported, &IsExifFile, &IsExifEx, &GetOrientation, &GetDateTimeOriginal,
                    &GetExifValue, &GetExifMakerValue, &GetMakerNoteValue, &GetExif,
                    &SetOrientation, &SetDateTimeOriginal, &ReplaceExifGps, &ReplaceExifImage,
                    &ReplaceThumbImage, &AppendExif, &Decode, &Encode, &Draw, &DrawImage,
                    &GetStillImageInfo) == 23);

int failures = 0;

void Expect(bool ok) {
  if (!ok) ++failures;
}

// The GPS set a host gives ReplaceExifGps: 35 deg 40' N, WGS-84, tags in the
// order they should be written.
void BuildGpsTagSet() {
  GpsTagSet gps{};
  for (uint16_t tag : {uint16_t{1}, uint16_t{2}, uint16_t{18}, uint16_t{27}}) {
    Expect(ArrayAdd(&gps.tags, tag) >= 0);
  }
  gps.GPSLatitudeRef[0] = 'N';
  gps.GPSLatitude[0] = {35, 1};
  gps.GPSLatitude[1] = {40, 1};
  gps.GPSLatitude[2] = {0, 1};
  Expect(CStringSet(&gps.GPSMapDatum, "WGS-84"));
  const uint8_t method[] = {'A', 'S', 'C', 'I', 'I', 0, 0, 0, 'G', 'P', 'S'};
  Expect(ArrayAppend(&gps.GPSProcessingMethod, method, sizeof method));
  Expect(ArrayView(&gps.tags).size() == 4 && CStringLength(&gps.GPSMapDatum) == 6);
  GpsTagSetRelease(&gps);
}

// The records a host hands Encode (ENCODE_EXIF | ENCODE_EXIF_RECORDS) or
// AppendExif: the host owns them and releases them after the call.
void BuildRecordList() {
  ImageInfoList list{};
  Expect(ImageInfoListInit(&list));
  TiffInfo tiff{};
  Expect(CStringSet(&tiff.Make, "Quorvanta"));
  tiff.Orientation = 6;
  tiff.mask1 = TIFF_M1_MAKE | TIFF_M1_ORIENTATION;
  ExifInfo exif{};
  exif.ExposureTime = {1, 250};
  exif.mask_l = EXIF_L_EXPOSURE_TIME;
  Expect(ImageInfoListAppend(&list, INFO_TIFF_MAIN, &tiff));
  Expect(ImageInfoListAppend(&list, INFO_EXIF, &exif));
  Expect(ImageInfoListFind(&list, INFO_EXIF) == &exif && list.count == 2);
  ImageInfoListFree(&list);
  TiffInfoRelease(&tiff);
  ExifInfoRelease(&exif);
}

// What GetStillImageInfo leaves behind: one record in `single`, or a list.
void ReadStillImageInfo() {
  StillImageInfoOut out{};  // as if one summary had been returned
  out.single.type = INFO_IMAGE;
  out.single.record = ImageInfoRecordNew(INFO_IMAGE);
  Expect(out.single.record != nullptr);
  ImageInfoRecordDelete(out.single.type, out.single.record);
  // As if two records had been returned in the list.
  StillImageInfoOut many{};
  Expect(ImageInfoListAppend(&many.list, INFO_IMAGE, ImageInfoRecordNew(INFO_IMAGE)));
  Expect(ImageInfoListAppend(&many.list, INFO_GPS, ImageInfoRecordNew(INFO_GPS)));
  Expect(many.single.type == 0 && many.list.count == 2);
  ImageInfoListDeleteRecords(&many.list);
  ImageInfoListFree(&many.list);
}

}  // namespace

int main() {
  BuildGpsTagSet();
  BuildRecordList();
  ReadStillImageInfo();
  return failures == 0 ? 0 : 1;
}
