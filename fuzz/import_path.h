// The importer's whole read path, as a run takes it, for one file: choose the
// importer, read the bounds and description, draw into the preferred format
// and into 32-bit ARGB, read the metadata. Shared by the importer fuzz
// targets and the regression tests that replay what the fuzzers found.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/mac_types.h"
#include "platform/components.h"
#include "platform/components_internal.h"
#include "platform/graphics_import.h"
#include "platform/gworld.h"
#include "platform/handle.h"
#include "platform/user_data.h"

namespace fuzz {

// Images with more pixels are only probed, not drawn, so that one input
// cannot take seconds; 2048 x 2048 covers every seed.
constexpr int64_t kMaxDrawnPixels = int64_t(2048) * 2048;
constexpr int32_t kMaxDrawnSide = 4096;

struct ImportOutcome {
  OSErr choose = noErr;
  OSType subtype = 0;  // the chosen importer's, 0 when none was chosen
  ComponentResult bounds = noErr;
  ComponentResult description = noErr;
  ComponentResult drawPreferred = noErr;
  ComponentResult draw32 = noErr;
  ComponentResult metaData = noErr;
  bool drawn = false;  // the size was within the drawing limits
};

// Every result the read path may give for a damaged, hostile or unsupported
// file; anything else is a fault.
inline bool IsCleanImportResult(ComponentResult result) {
  return result == noErr || result == codecErr || result == noHandlerErr || result == memFullErr ||
         result == cDepthErr || result == paramErr;
}

inline bool IsCleanImportOutcome(const ImportOutcome& o) {
  return IsCleanImportResult(o.choose) && IsCleanImportResult(o.bounds) &&
         IsCleanImportResult(o.description) && IsCleanImportResult(o.drawPreferred) &&
         IsCleanImportResult(o.draw32) && IsCleanImportResult(o.metaData);
}

inline ComponentResult DrawInto(GraphicsImportComponent importer, OSType format,
                                const Rect& bounds) {
  GWorldPtr world = nullptr;
  if (OSErr err = QTNewGWorld(&world, format, &bounds, nullptr, nullptr, 0)) return err;
  ComponentResult result = GraphicsImportSetGWorld(importer, world, nullptr);
  if (result == noErr) result = GraphicsImportDraw(importer);
  GraphicsImportSetGWorld(importer, nullptr, nullptr);
  DisposeGWorld(world);
  return result;
}

inline OSType PreferredFormat(ImageDescriptionHandle description) {
  Handle extension = nullptr;
  if (GetImageDescriptionExtension(description, &extension, kColorSpaceExtension, 1) != noErr)
    return k32ARGBPixelFormat;
  OSType format = k32ARGBPixelFormat;
  if (GetHandleSize(extension) == 4) {
    const auto* b = reinterpret_cast<const uint8_t*>(*extension);
    format = (OSType(b[0]) << 24) | (OSType(b[1]) << 16) | (OSType(b[2]) << 8) | b[3];
  }
  DisposeHandle(extension);
  return format;
}

inline void ReadMetaData(GraphicsImportComponent importer, ImportOutcome* o) {
  UserData ud = nullptr;
  if (NewUserData(&ud) != noErr) return;
  o->metaData = GraphicsImportGetMetaData(importer, ud);
  DisposeUserData(ud);
}

// Runs the read path on the file at path (the imaging services must be
// started). wantedSubtypes, when not empty, stops the path after the choice
// for files that another importer took.
inline ImportOutcome ExerciseImporter(const std::string& path,
                                      const std::vector<OSType>& wantedSubtypes = {}) {
  ImportOutcome o;
  FSSpec spec{path};
  GraphicsImportComponent importer = nullptr;
  o.choose = GetGraphicsImporterForFile(&spec, &importer);
  if (o.choose != noErr) return o;
  o.subtype = importer->component->description.componentSubType;
  bool wanted = wantedSubtypes.empty();
  for (OSType subtype : wantedSubtypes) wanted = wanted || subtype == o.subtype;
  if (!wanted) {
    CloseComponent(importer);
    return o;
  }

  Rect bounds;
  o.bounds = GraphicsImportGetNaturalBounds(importer, &bounds);
  ImageDescriptionHandle description = nullptr;
  o.description = GraphicsImportGetImageDescription(importer, &description);
  if (o.bounds == noErr && o.description == noErr) {
    const int64_t width = int64_t(bounds.right) - bounds.left;
    const int64_t height = int64_t(bounds.bottom) - bounds.top;
    o.drawn = width >= 1 && height >= 1 && width <= kMaxDrawnSide && height <= kMaxDrawnSide &&
              width * height <= kMaxDrawnPixels;
    if (o.drawn) {
      const OSType preferred = PreferredFormat(description);
      o.drawPreferred = DrawInto(importer, preferred, bounds);
      o.draw32 = preferred == k32ARGBPixelFormat ? o.drawPreferred
                                                 : DrawInto(importer, k32ARGBPixelFormat, bounds);
    }
  }
  if (description != nullptr) DisposeHandle(description);
  ReadMetaData(importer, &o);
  CloseComponent(importer);
  return o;
}

}  // namespace fuzz
