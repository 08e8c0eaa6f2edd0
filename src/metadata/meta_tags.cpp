#include "metadata/meta_tags.h"

#include <array>

namespace {

constexpr OSType Tiff(uint16_t tag) {
  return kTiffItemBase + tag;
}
constexpr OSType Exif(uint16_t tag) {
  return kExifItemBase + tag;
}
constexpr OSType Gps(uint16_t tag) {
  return kGpsItemBase + tag;
}

constexpr OSType Text(const char (&s)[4]) {
  return TextItemType(s);
}

constexpr std::array kTags = std::to_array<MetaDataTag>({
    // TIFF
    {Tiff(0x0112), kMetaShortOrLong, "Orientation"},
    {Tiff(0x012D), kMetaSInt16, "TransferFunction"},
    {Tiff(0x0156), kMetaSInt16, "TransferRange"},
    {Tiff(0x0213), kMetaSInt16, "YCbCrPositioning"},
    {Tiff(0x87AF), kMetaSInt16, "GeoKeyDirectory"},
    {Tiff(0x013E), kMetaRational, "WhitePoint"},
    {Tiff(0x013F), kMetaRational, "PrimaryChromaticities"},
    {Tiff(0x0214), kMetaSInt32, "ReferenceBlackWhite"},
    {Tiff(0x830E), kMetaDouble, "ModelPixelScale"},
    {Tiff(0x85D8), kMetaDouble, "ModelTransformation"},
    {Tiff(0x8482), kMetaDouble, "ModelTiepoint"},
    {Tiff(0x87B0), kMetaDouble, "GeoDoubleParams"},
    {Tiff(0x8480), kMetaDouble, "IntergraphMatrix"},
    {Tiff(0x87B1), kMetaText, "GeoAsciiParams"},
    // EXIF
    {Exif(0x9000), kMetaUInt8, "ExifVersion"},
    {Exif(0xA000), kMetaUInt8, "FlashPixVersion"},
    {Exif(0x9101), kMetaUInt8, "ComponentsConfiguration"},
    {Exif(0x927C), kMetaUInt8, "MakerNote"},
    {Exif(0x9286), kMetaUInt8, "AppleComment"},
    {Exif(0xA001), kMetaSInt16, "ColorSpace"},
    {Exif(0x8822), kMetaSInt16, "ExposureProgram"},
    {Exif(0x8827), kMetaSInt16, "ISOSpeedRatings"},
    {Exif(0x9207), kMetaSInt16, "MeteringMode"},
    {Exif(0x9208), kMetaSInt16, "LightSource"},
    {Exif(0x9209), kMetaSInt16, "Flash"},
    {Exif(0xA210), kMetaSInt16, "FocalPlaneResolutionUnit"},
    {Exif(0xA214), kMetaSInt16, "SubjectLocation"},
    {Exif(0xA217), kMetaSInt16, "SensingMethod"},
    {Exif(0x9102), kMetaRational, "CompressedBitsPerPixel"},
    {Exif(0x829A), kMetaRational, "ExposureTime"},
    {Exif(0x829D), kMetaRational, "FNumber"},
    {Exif(0x9201), kMetaRational, "ShutterSpeedValue"},
    {Exif(0x9202), kMetaRational, "ApertureValue"},
    {Exif(0x9203), kMetaRational, "BrightnessValue"},
    {Exif(0x9204), kMetaRational, "ExposureBiasValue"},
    {Exif(0x9205), kMetaRational, "MaxApertureValue"},
    {Exif(0x9206), kMetaRational, "SubjectDistance"},
    {Exif(0x920A), kMetaRational, "FocalLength"},
    {Exif(0xA20B), kMetaRational, "FlashEnergy"},
    {Exif(0xA20E), kMetaRational, "FocalPlaneXResolution"},
    {Exif(0xA20F), kMetaRational, "FocalPlaneYResolution"},
    {Exif(0xA215), kMetaRational, "ExposureIndex"},
    {Exif(0xA002), kMetaShortOrLong, "PixelXDimension"},
    {Exif(0xA003), kMetaShortOrLong, "PixelYDimension"},
    {Exif(0xA004), kMetaText, "RelatedSoundFile"},
    {Exif(0x9003), kMetaText, "DateTimeOriginal"},
    {Exif(0x9004), kMetaText, "DateTimeDigitized"},
    {Exif(0x9290), kMetaText, "SubSecTime"},
    {Exif(0x9291), kMetaText, "SubSecTimeOriginal"},
    {Exif(0x9292), kMetaText, "SubSecTimeDigitized"},
    {Exif(0x8824), kMetaText, "SpectralSensitivity"},
    {Exif(0xA300), kMetaOpaque, "FileSource"},
    {Exif(0xA301), kMetaOpaque, "SceneType"},
    // GPS
    {Gps(0x0000), kMetaUInt8, "GPSVersionID"},
    {Gps(0x0005), kMetaUInt8, "GPSAltitudeRef"},
    {Gps(0x0001), kMetaText, "GPSLatitudeRef"},
    {Gps(0x0003), kMetaText, "GPSLongitudeRef"},
    {Gps(0x0008), kMetaText, "GPSSatellites"},
    {Gps(0x0009), kMetaText, "GPSStatus"},
    {Gps(0x000A), kMetaText, "GPSMeasureMode"},
    {Gps(0x000C), kMetaText, "GPSSpeedRef"},
    {Gps(0x000E), kMetaText, "GPSTrackRef"},
    {Gps(0x0010), kMetaText, "GPSImgDirectionRef"},
    {Gps(0x0012), kMetaText, "GPSMapDatum"},
    {Gps(0x0013), kMetaText, "GPSDestLatitudeRef"},
    {Gps(0x0015), kMetaText, "GPSDestLongitudeRef"},
    {Gps(0x0017), kMetaText, "GPSDestBearingRef"},
    {Gps(0x0019), kMetaText, "GPSDestDistanceRef"},
    {Gps(0x0002), kMetaRational, "GPSLatitude"},
    {Gps(0x0004), kMetaRational, "GPSLongitude"},
    {Gps(0x0006), kMetaRational, "GPSAltitude"},
    {Gps(0x0007), kMetaRational, "GPSTimeStamp"},
    {Gps(0x000B), kMetaRational, "GPSDOP"},
    {Gps(0x000D), kMetaRational, "GPSSpeed"},
    {Gps(0x000F), kMetaRational, "GPSTrack"},
    {Gps(0x0011), kMetaRational, "GPSImgDirection"},
    {Gps(0x0014), kMetaRational, "GPSDestLatitude"},
    {Gps(0x0016), kMetaRational, "GPSDestLongitude"},
    {Gps(0x0018), kMetaRational, "GPSDestBearing"},
    {Gps(0x001A), kMetaRational, "GPSDestDistance"},
    // Other four-character types
    {FourCC("jpqt"), kMetaOpaque, "QuantizationTables"},
    {FourCC("jpht"), kMetaOpaque, "HuffmanTables"},
    {FourCC("ctyp"), kMetaText, "MovieControllerType"},
    {FourCC("name"), kMetaText, "Name"},
    // Text types
    {Text("alb"), kMetaText, "Album"},
    {Text("ART"), kMetaText, "Artist"},
    {Text("aut"), kMetaText, "Author"},
    {Text("chp"), kMetaText, "Chapter"},
    {Text("cmt"), kMetaText, "Comment"},
    {Text("com"), kMetaText, "Composer"},
    {Text("cpy"), kMetaText, "Copyright"},
    {Text("day"), kMetaText, "CreationDate"},
    {Text("des"), kMetaText, "Description"},
    {Text("dir"), kMetaText, "Director"},
    {Text("dis"), kMetaText, "Disclaimer"},
    {Text("enc"), kMetaText, "EncodedBy"},
    {Text("nam"), kMetaText, "FullName"},
    {Text("gen"), kMetaText, "Genre"},
    {Text("hst"), kMetaText, "HostComputer"},
    {Text("inf"), kMetaText, "Information"},
    {Text("key"), kMetaText, "Keywords"},
    {Text("mak"), kMetaText, "Make"},
    {Text("mod"), kMetaText, "Model"},
    {Text("ope"), kMetaText, "OriginalArtist"},
    {Text("fmt"), kMetaText, "OriginalFormat"},
    {Text("src"), kMetaText, "OriginalSource"},
    {Text("prf"), kMetaText, "Performers"},
    {Text("prd"), kMetaText, "Producer"},
    {Text("PRD"), kMetaText, "Product"},
    {Text("swr"), kMetaText, "Software"},
    {Text("req"), kMetaText, "SpecialPlaybackRequirements"},
    {Text("trk"), kMetaText, "Track"},
    {Text("wrn"), kMetaText, "Warning"},
    {Text("wrt"), kMetaText, "Writer"},
    {Text("url"), kMetaText, "URLLink"},
    {Text("ed1"), kMetaText, "EditDate1"},
    {Text("ed2"), kMetaText, "EditDate2"},
    {Text("ed3"), kMetaText, "EditDate3"},
    {Text("ed4"), kMetaText, "EditDate4"},
    {Text("ed5"), kMetaText, "EditDate5"},
    {Text("ed6"), kMetaText, "EditDate6"},
    {Text("ed7"), kMetaText, "EditDate7"},
    {Text("ed8"), kMetaText, "EditDate8"},
    {Text("ed9"), kMetaText, "EditDate9"},
    // End entry
    {0, kMetaOpaque, ""},
});

static_assert(kTags.size() == 124 + 1, "124 known types and the end entry");
static_assert(kTags.back().type == 0, "the table ends with type 0");

}  // namespace

const std::span<const MetaDataTag> MetaDataTags{kTags};

const MetaDataTag& LookupMetaDataTag(OSType type) {
  // The end entry (type 0) stops the search; type 0 itself is therefore
  // never "known".
  for (const MetaDataTag& tag : kTags) {
    if (tag.type == type || tag.type == 0) return tag;
  }
  return kTags.back();
}

std::string_view MetaDataTagName(OSType type) {
  return LookupMetaDataTag(type).name;
}
