#include <exiv2/bmffimage.hpp>
#include <exiv2/error.hpp>
#include <exiv2/xmp_exiv2.hpp>

#include <mutex>

#include "platform/metadata_blocks/metadata_library.h"

void InitMetaDataLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    // exiv2 reports damaged metadata through its log; the platform never
    // prints, so the log is silenced before anything is read.
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    Exiv2::LogMsg::setHandler(nullptr);
    Exiv2::XmpParser::initialize();
    Exiv2::enableBMFF(true);
  });
}
