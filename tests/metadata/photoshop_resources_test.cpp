#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "metadata/photoshop_resources.h"
#include "metadata/xmp_size.h"

namespace {

// One resource: signature, ID, a Pascal name padded to an even length, the
// data's size and the data, padded to an even length.
std::string Resource(const char* signature, uint16_t id, const std::string& name,
                     const std::string& data) {
  std::string r = std::string(signature, 4) + char(id >> 8) + char(id & 0xFF);
  r += char(name.size()) + name + (name.size() % 2 == 0 ? std::string(1, '\0') : "");
  const auto size = uint32_t(data.size());
  r += {char(size >> 24), char(size >> 16), char(size >> 8), char(size)};
  return r + data + (data.size() % 2 != 0 ? std::string(1, '\0') : "");
}

std::string Without(const std::string& block) {
  const std::vector<uint8_t> kept =
      WithoutPhotoshopThumbnails({reinterpret_cast<const uint8_t*>(block.data()), block.size()});
  return {kept.begin(), kept.end()};
}

// Both thumbnail resources go, whatever their names and odd sizes; other
// resources (another signature's 1036 among them) and a tail that does not
// hold together stay byte for byte.
TEST(PhotoshopResources, OnlyTheThumbnailResourcesGo) {
  const std::string iptc =
      Resource("8BIM", 1028, "", std::string("\x1C\x02\x00\x00\x02\x00\x02", 7));
  const std::string slices = Resource("8BIM", 1050, "sl", "abcd");
  const std::string foreign = Resource("MeSa", 1036, "", "xyz");
  const std::string tail("8BIM\x04\x0C\x00\x00\x00\xFF\xFF", 11);
  const std::string block = Resource("8BIM", 1036, "thumb", std::string(301, 'T')) + iptc +
                            Resource("8BIM", 1033, "", "old") + slices + foreign + tail;
  EXPECT_EQ(Without(block), iptc + slices + foreign + tail);
  // The last resource's padding may be missing.
  const std::string last = Resource("8BIM", 1036, "", "odd");
  EXPECT_EQ(Without(iptc + last.substr(0, last.size() - 1)), iptc);
}

// //drop gps reaches the block's copy of the XMP packet; its size and
// padding follow, the other resources stay.
TEST(PhotoshopResources, TheXmpResourceIsChangedInPlace) {
  const std::string slices = Resource("8BIM", 1050, "sl", "abcd");
  const std::string ns = "<d xmlns:exif='http://ns.adobe.com/exif/1.0/'";
  const std::string block = Resource("8BIM", 1060, "", ns + " exif:GPSLatitude='1'/>") + slices;
  const std::vector<uint8_t> changed = WithPhotoshopXmpChanged(
      {reinterpret_cast<const uint8_t*>(block.data()), block.size()}, WithoutXmpGps);
  EXPECT_EQ(std::string(changed.begin(), changed.end()),
            Resource("8BIM", 1060, "", ns + "/>") + slices);
}

}  // namespace
