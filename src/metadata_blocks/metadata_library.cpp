#include <exiv2/bmffimage.hpp>
#include <exiv2/error.hpp>
#include <exiv2/xmp_exiv2.hpp>

#include <mutex>

#include "platform/metadata_library.h"

namespace {

// exiv2 registers the XMP namespaces it meets in one table for the process;
// with this lock, jobs on several threads may decode XMP at once.
void LockXmpRegistry(void* data, bool lock) {
  auto* registry = static_cast<std::mutex*>(data);
  lock ? registry->lock() : registry->unlock();
}

}  // namespace

void InitMetaDataLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    // exiv2 reports damaged metadata through its log; the platform never
    // prints, so the log is silenced before anything is read.
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    Exiv2::LogMsg::setHandler(nullptr);
    static std::mutex xmpRegistry;
    Exiv2::XmpParser::initialize(LockXmpRegistry, &xmpRegistry);
    Exiv2::enableBMFF(true);
  });
}
