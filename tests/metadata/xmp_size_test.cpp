#include <gtest/gtest.h>

#include "metadata/xmp_size.h"

namespace {

constexpr const char* kExif = " xmlns:exif='http://ns.adobe.com/exif/1.0/'";
constexpr const char* kTiff = " xmlns:t=\"http://ns.adobe.com/tiff/1.0/\"";

TEST(XmpImageSize, SizesAreRefittedWhereverTheyAreWritten) {
  struct Case {
    std::string packet, fitted;
  } cases[] = {
      // Attributes, elements, a prefix of the packet's own choosing.
      {std::string("<d") + kExif + " exif:PixelXDimension='4000' exif:PixelYDimension = \"3000\"/>",
       std::string("<d") + kExif + " exif:PixelXDimension='80' exif:PixelYDimension = \"60\"/>"},
      {std::string("<d") + kTiff + "><t:ImageWidth> 4000 </t:ImageWidth><t:ImageLength>3000" +
           "</t:ImageLength></d>",
       std::string("<d") + kTiff + "><t:ImageWidth> 80 </t:ImageWidth><t:ImageLength>60" +
           "</t:ImageLength></d>"},
      // Not the namespace, a longer name, a value that is no number: kept.
      {"<d xmlns:exif='urn:other'><exif:PixelXDimension>4000</exif:PixelXDimension></d>",
       "<d xmlns:exif='urn:other'><exif:PixelXDimension>4000</exif:PixelXDimension></d>"},
      {std::string("<d") + kExif + " exif:PixelXDimensionOld='4000' exif:PixelXDimension='x'/>",
       std::string("<d") + kExif + " exif:PixelXDimensionOld='4000' exif:PixelXDimension='x'/>"},
      // A packet no parser takes is refitted all the same.
      {std::string("<d") + kExif + "><exif:PixelYDimension>3000</exif:PixelYDimension><foo:x>",
       std::string("<d") + kExif + "><exif:PixelYDimension>60</exif:PixelYDimension><foo:x>"},
  };
  for (const Case& c : cases) EXPECT_EQ(RefitXmpImageSize(c.packet, 80, 60), c.fitted);
}

// Only the gain map's item changes: the primary's length stays, whatever
// prefixes and forms the directory uses.
TEST(XmpImageSize, GainMapLengthIsTheGainMapItemsAlone) {
  const std::string ns =
      " xmlns:C='http://ns.google.com/photos/1.0/container/'"
      " xmlns:I='http://ns.google.com/photos/1.0/container/item/'>";
  struct Case {
    std::string packet, fitted;
  } cases[] = {
      {"<d" + ns + "<C:Item I:Semantic='Primary' I:Length='9'/><C:Item I:Length='5' " +
           "I:Semantic='GainMap'/></d>",
       "<d" + ns + "<C:Item I:Semantic='Primary' I:Length='9'/><C:Item I:Length='12345' " +
           "I:Semantic='GainMap'/></d>"},
      {"<d" + ns + "<C:Item><I:Semantic>GainMap</I:Semantic><I:Length>5</I:Length></C:Item>" +
           "<C:Item><I:Semantic>Depth</I:Semantic><I:Length>7</I:Length></C:Item></d>",
       "<d" + ns + "<C:Item><I:Semantic>GainMap</I:Semantic><I:Length>12345</I:Length></C:Item>" +
           "<C:Item><I:Semantic>Depth</I:Semantic><I:Length>7</I:Length></C:Item></d>"},
      {"<d xmlns:I='urn:other'><C:Item I:Semantic='GainMap' I:Length='5'/></d>",
       "<d xmlns:I='urn:other'><C:Item I:Semantic='GainMap' I:Length='5'/></d>"},
  };
  for (const Case& c : cases) EXPECT_EQ(RefitXmpGainMapLength(c.packet, 12345), c.fitted);
}

// A copy without its gain map: the version and the directory entry go,
// written as attributes or as elements; the rest stays byte for byte.
TEST(XmpImageSize, GainMapIsUnlistedWhenLeftOut) {
  const std::string ns =
      " xmlns:h='http://ns.adobe.com/hdr-gain-map/1.0/'"
      " xmlns:I='http://ns.google.com/photos/1.0/container/item/'";
  struct Case {
    std::string packet, unlisted;
  } cases[] = {
      {"<d" + ns +
           " h:Version='1.0' h:Versions='2'><rdf:Seq><rdf:li><C:Item I:Semantic='Primary'/>" +
           "</rdf:li><rdf:li p='R'><C:Item I:Semantic='GainMap' "
           "I:Length='5'/></rdf:li></rdf:Seq></d>",
       "<d" + ns + " h:Versions='2'><rdf:Seq><rdf:li><C:Item I:Semantic='Primary'/></rdf:li>" +
           "</rdf:Seq></d>"},
      {"<d" + ns + "><h:Version>1.0</h:Version><rdf:li><C:Item><I:Semantic>GainMap</I:Semantic>" +
           "</C:Item></rdf:li><x/></d>",
       "<d" + ns + "><x/></d>"},
      // A gain map's own packet (a map resized on its own) is kept.
      {"<d" + ns + " h:Version='1.0' h:GainMapMax='2.5'/>",
       "<d" + ns + " h:Version='1.0' h:GainMapMax='2.5'/>"},
      // A primary's packet that also states the gains is unlisted all the same.
      {"<d" + ns + " h:Version='1.0' h:GainMapMax='2.5'><rdf:Seq><rdf:li>" +
           "<C:Item I:Semantic='GainMap'/></rdf:li></rdf:Seq></d>",
       "<d" + ns + " h:GainMapMax='2.5'><rdf:Seq></rdf:Seq></d>"},
  };
  for (const Case& c : cases) EXPECT_EQ(UnlistXmpGainMap(c.packet), c.unlisted);
}

// A field whose fitted value passes 64 bits on the way (12 digits times an
// output side of millions) is left as it is; the others are fitted.
TEST(XmpImageSize, PanoramaFieldsTooLargeToScaleAreLeftAlone) {
  const std::string head =
      "<d xmlns:GPano='http://ns.google.com/photos/1.0/panorama/' GPano:FullPanoWidthPixels='";
  struct Case {
    const char* name;
    std::string packet, fitted;
    int32_t from, to, turns;
  } cases[] = {
      {"12 digits", head + "999999999999' GPano:CroppedAreaLeftPixels='5'/>",
       head + "999999999999' GPano:CroppedAreaLeftPixels='2500000'/>", 10, 5000000, 0},
      // Wraps to exactly 0 in 64 bits.
      {"wraps to 0", head + "8589934592'/>", head + "8589934592'/>", 1, 1 << 30, 0},
      // The turned left offset is taken from the height, which is too large.
      {"turned",
       head + "10' GPano:FullPanoHeightPixels='999999999999' GPano:CroppedAreaLeftPixels='3'/>",
       head + "10' GPano:FullPanoHeightPixels='5000000' GPano:CroppedAreaLeftPixels='3'/>", 10,
       5000000, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OutputGeometry g = StoredGeometry(c.from, c.from, 1);
    SetWholeResize(&g, c.to, c.to);
    g.quarterTurns = c.turns;
    EXPECT_EQ(RefitXmpPanorama(c.packet, g), c.fitted);
  }
}

// //drop gps: each GPS property goes, attribute or element (with content,
// empty or self-closing), under any prefix bound to the EXIF or IPTC
// Extension namespace; place names, look-alike names and other namespaces
// stay, and the rest of the packet keeps its bytes.
TEST(XmpImageSize, GpsPropertiesAreTakenOutAndPlaceNamesStay) {
  const std::string ns = std::string(kExif) +
                         " xmlns:E='http://iptc.org/std/Iptc4xmpExt/2008-02-29/'"
                         " xmlns:photoshop='http://ns.adobe.com/photoshop/1.0/'";
  struct Case {
    std::string packet, kept;
  } cases[] = {
      {"<d" + ns + "\n exif:GPSLatitude='43,28.0469N'\n\texif:GPSLongitude=\"11,52.8N\"" +
           " photoshop:City='Siena'/>",
       "<d" + ns + " photoshop:City='Siena'/>"},
      {"<d" + ns + ">\n <exif:GPSAltitude>10/1</exif:GPSAltitude>\n" +
           " <exif:GPSVersionID/><exif:GPSMapDatum rdf:resource='x'/>" +
           " <exif:GPSAreaInformation><rdf:Alt><rdf:li>a</rdf:li></rdf:Alt>" +
           "</exif:GPSAreaInformation><exif:DateTimeOriginal>2008</exif:DateTimeOriginal></d>",
       "<d" + ns + ">\n \n  <exif:DateTimeOriginal>2008</exif:DateTimeOriginal></d>"},
      {"<d" + ns + "><E:LocationCreated><rdf:Bag><rdf:li E:City='Siena' E:GPSLatitude='43.4'" +
           " E:GPSLongitude='11.8'/></rdf:Bag></E:LocationCreated></d>",
       "<d" + ns + "><E:LocationCreated><rdf:Bag><rdf:li E:City='Siena'/></rdf:Bag>" +
           "</E:LocationCreated></d>"},
      {"<d xmlns:ex='http://ns.adobe.com/exif/1.0/' xmlns:exif='urn:other'"
       " ex:GPSLatitude='1' exif:GPSLatitude='2' myex:GPSLatitude='3'/>",
       "<d xmlns:ex='http://ns.adobe.com/exif/1.0/' xmlns:exif='urn:other'"
       " exif:GPSLatitude='2' myex:GPSLatitude='3'/>"},
  };
  for (const Case& c : cases) EXPECT_EQ(WithoutXmpGps(c.packet), c.kept);
}

// //drop copyright: dc:creator and dc:rights go under whatever prefix the
// packet binds to Dublin Core; the other dc properties and other
// namespaces' rights stay.
TEST(XmpImageSize, CopyrightPropertiesAreTakenOut) {
  const std::string ns =
      " xmlns:d='http://purl.org/dc/elements/1.1/' xmlns:xr='http://ns.adobe.com/xap/1.0/rights/'";
  const std::string packet = "<x" + ns + " xr:Marked='True'><d:creator><rdf:Seq><rdf:li>Ann" +
                             "</rdf:li></rdf:Seq></d:creator><d:title>T</d:title>" +
                             "<d:rights><rdf:Alt><rdf:li>(c)</rdf:li></rdf:Alt></d:rights></x>";
  EXPECT_EQ(WithoutXmpCopyright(packet), "<x" + ns + " xr:Marked='True'><d:title>T</d:title></x>");
}

}  // namespace
