#include "tests/create/records.h"

#include <nlohmann/json.hpp>

#include "host/record_json.h"

namespace veltora::testing {
namespace {

// IFD1 repeats IFD0 with its own size, compression and description.
constexpr const char* kFullRecords = R"({
  "TiffMain": {"ImageWidth": 70000, "ImageWidthType": 4, "ImageLength": 3000, "ImageLengthType": 3,
    "BitsPerSample": [8, 8, 8], "Compression": 1, "PhotometricInterpretation": 2,
    "ImageDescription": "A description", "Make": "Make", "Model": "Model X1",
    "StripOffsets": [8, 70008], "StripOffsetsType": 4, "Orientation": 6, "SamplesPerPixel": 3,
    "RowsPerStrip": 1500, "RowsPerStripType": 3, "StripByteCounts": [700, 900],
    "StripByteCountsType": 3, "XResolution": [300, 1], "YResolution": [72, 1],
    "PlanarConfiguration": 1, "ResolutionUnit": 2, "Software": "Veltora tests",
    "DateTime": "2024:05:06 07:08:09", "Artist": "", "WhitePoint": [[313000, 1000000], [329, 1000]],
    "PrimaryChromaticities": [[64, 100], [65, 100], [66, 100], [67, 100], [68, 100], [69, 100]],
    "JPEGInterchangeFormat": 0, "JPEGInterchangeFormatLength": 0,
    "YCbCrCoefficients": [[299, 1000], [587, 1000], [114, 1000]], "YCbCrSubSampling": [2, 1],
    "YCbCrPositioning": 2, "ReferenceBlackWhite": [[0, 1], [255, 1], [0, 1], [255, 1], [0, 1], [255, 1]],
    "Copyright": "(c) nobody", "PrintImageMatching": "5072696e74494d003033303000000000"},
  "Exif": {"ExposureTime": [1, 250], "FNumber": [28, 10], "ExposureProgram": 2,
    "SpectralSensitivity": "spectral", "ISOSpeedRatings": [100, 200, 400], "OECF": "010001004142",
    "ExifVersion": "0231", "DateTimeOriginal": "2024:01:02 03:04:05",
    "DateTimeDigitized": "2024:01:02 03:04:06", "ComponentsConfiguration": "01020300",
    "CompressedBitsPerPixel": [4, 1], "ShutterSpeedValue": [-3, 2], "ApertureValue": [297, 100],
    "BrightnessValue": [-25, 10], "ExposureBiasValue": [-1, 3], "MaxApertureValue": [3, 1],
    "SubjectDistance": [150, 100], "MeteringMode": 5, "LightSource": 4, "Flash": 16,
    "FocalLength": [50, 1], "SubjectArea": [1000, 750, 200, 100], "MakerNote": "4e4f544531323334353637",
    "UserComment": "41534349490000004120636f6d6d656e74", "SubSecTime": "1", "SubSecTimeOriginal": "12",
    "SubSecTimeDigitized": "1234", "FlashpixVersion": "0100", "ColorSpace": 1,
    "PixelXDimension": 70000, "PixelXDimensionType": 4, "PixelYDimension": 3000,
    "PixelYDimensionType": 3, "RelatedSoundFile": "SND00001.WAV", "InteroperabilityIfd": true,
    "FlashEnergy": [10, 1], "SpatialFrequencyResponse": "020001005859",
    "FocalPlaneXResolution": [4000, 1], "FocalPlaneYResolution": [4001, 1],
    "FocalPlaneResolutionUnit": 3, "SubjectLocation": [100, 200], "ExposureIndex": [200, 1],
    "SensingMethod": 2, "FileSource": 3, "SceneType": 1, "CFAPattern": "0200020000010102",
    "CustomRendered": 1, "ExposureMode": 1, "WhiteBalance": 1, "DigitalZoomRatio": [2, 1],
    "FocalLengthIn35mmFilm": 75, "SceneCaptureType": 2, "GainControl": 1, "Contrast": 2,
    "Saturation": 1, "Sharpness": 2, "DeviceSettingDescription": "00000000646576",
    "SubjectDistanceRange": 3, "InteroperabilityIndex": "R98", "InteroperabilityVersion": "0100",
    "RelatedImageFileFormat": "Exif JPEG Ver. 2.31", "RelatedImageWidth": 4000,
    "RelatedImageLength": 3000},
  "Gps": {"GPSVersionID": "02030000", "GPSLatitudeRef": "N", "GPSLatitude": [[48, 1], [51, 1], [3024, 100]],
    "GPSLongitudeRef": "E", "GPSLongitude": [[2, 1], [17, 1], [4020, 100]], "GPSAltitudeRef": 1,
    "GPSAltitude": [3550, 10], "GPSTimeStamp": [[13, 1], [5, 1], [42, 1]], "GPSSatellites": "5",
    "GPSStatus": "A", "GPSMeasureMode": "3", "GPSDOP": [12, 10], "GPSSpeedRef": "K",
    "GPSSpeed": [55, 1], "GPSTrackRef": "T", "GPSTrack": [180, 1], "GPSImgDirectionRef": "M",
    "GPSImgDirection": [90, 1], "GPSMapDatum": "WGS-84", "GPSDestLatitudeRef": "S",
    "GPSDestLatitude": [[33, 1], [52, 1], [0, 1]], "GPSDestLongitudeRef": "W",
    "GPSDestLongitude": [[70, 1], [40, 1], [0, 1]], "GPSDestBearingRef": "T",
    "GPSDestBearing": [45, 1], "GPSDestDistanceRef": "K", "GPSDestDistance": [1000, 1],
    "GPSProcessingMethod": "4153434949000000475053",
    "GPSAreaInformation": "41534349490000005061726973", "GPSDateStamp": "2024:01:02",
    "GPSDifferential": 1}
})";

void Adopt(RecordList& list, const nlohmann::ordered_json& document) {
  host::OwnedRecords records = host::RecordsFromJson(document);
  // The records change owner: the nodes go, the records join `list`.
  ImageInfoListVisit(records.list(), [&list](uint32_t type, void* record) {
    ImageInfoListAppend(list.get(), type, record);
  });
  ImageInfoListRemoveAll(records.list());
}

}  // namespace

void AddRecords(RecordList& list, std::string_view json) {
  Adopt(list, nlohmann::ordered_json::parse(json));
}

void AddFullRecords(RecordList& list) {
  auto document = nlohmann::ordered_json::parse(kFullRecords);
  auto& transfer = document["TiffMain"]["TransferFunction"] = nlohmann::ordered_json::array();
  for (unsigned i = 0; i < 768; ++i) transfer.push_back(i * 85 % 65536);
  auto thumb = document["TiffMain"];
  thumb.erase("PrintImageMatching");
  thumb["ImageWidth"] = 160u;
  thumb["ImageWidthType"] = 3u;
  thumb["ImageLength"] = 120u;
  thumb["Compression"] = 6u;
  thumb["ImageDescription"] = "abc";
  document["TiffThumb"] = thumb;
  Adopt(list, document);
}

}  // namespace veltora::testing
