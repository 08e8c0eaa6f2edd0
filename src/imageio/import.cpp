#include "imageio/import.h"

#include "base/big_endian.h"
#include "imageio/path_to_fsspec.h"
#include "platform/components.h"
#include "platform/graphics_import.h"
#include "platform/handle.h"

int32_t ProbeNaturalBounds(const std::string& path, Rect* bounds) {
  FSSpec spec;
  if (OSErr err = PathToFSSpec(path, &spec)) return err;
  GraphicsImportComponent importer = nullptr;
  int32_t result = GetGraphicsImporterForFile(&spec, &importer);
  if (result == noErr) result = GraphicsImportGetNaturalBounds(importer, bounds);
  if (importer != nullptr) CloseComponent(importer);
  return result;
}

namespace {

// The buffer format for the image's preferred one ("cspc"): 16-bit images
// keep their samples, everything else is drawn as 32-bit ARGB. Nothing here
// can fail the import.
OSType ChoosePixelFormat(GraphicsImportComponent importer) {
  OSType chosen = k32ARGBPixelFormat;
  ImageDescriptionHandle description = nullptr;
  Handle extension = nullptr;
  if (GraphicsImportGetImageDescription(importer, &description) == noErr &&
      GetImageDescriptionExtension(description, &extension, kColorSpaceExtension, 1) == noErr &&
      extension != nullptr && GetHandleSize(extension) >= 4) {
    HLock(extension);
    const auto* bytes = reinterpret_cast<const uint8_t*>(*extension);
    OSType preferred = ReadBigEndian32(bytes);
    HUnlock(extension);
    if (preferred == k16GrayCodecType || preferred == k48RGBCodecType) {
      chosen = k48RGBCodecType;
    } else if (preferred == k32AlphaGrayCodecType || preferred == k64ARGBPixelFormat) {
      chosen = k64ARGBPixelFormat;
    }
  }
  if (extension != nullptr) DisposeHandle(extension);
  if (description != nullptr) DisposeHandle(description);
  return chosen;
}

int32_t DrawInto(GraphicsImportComponent importer, OSType format, const Rect& bounds,
                 GWorldPtr* source) {
  int32_t result = QTNewGWorld(source, format, &bounds, nullptr, nullptr, kNativeEndianPixMap);
  if (result == noErr) result = GraphicsImportSetGWorld(importer, *source, nullptr);
  if (result == noErr) result = GraphicsImportDraw(importer);
  return result;
}

}  // namespace

OpenedImport::~OpenedImport() {
  if (importer != nullptr) CloseComponent(importer);
}

int32_t OpenImport(const std::string& path, OpenedImport* opened) {
  FSSpec spec;
  int32_t result = PathToFSSpec(path, &spec);
  if (result == noErr) result = GetGraphicsImporterForFile(&spec, &opened->importer);
  if (result == noErr) result = GraphicsImportGetNaturalBounds(opened->importer, &opened->bounds);
  if (result == noErr) {
    GraphicsImportSetQuality(opened->importer, codecLosslessQuality);
    opened->format = ChoosePixelFormat(opened->importer);
  }
  return result;
}

namespace {

// Draws, metadata and all, on this thread.
int32_t DrawNow(OpenedImport& opened, GWorldPtr* source, UserData ud) {
  // With metadata the profile travels with the samples, untouched.
  GraphicsImportSetColorMatching(opened.importer, ud == nullptr);
  int32_t result = DrawInto(opened.importer, opened.format, opened.bounds, source);
  if (result != noErr && opened.format != k32ARGBPixelFormat) {
    // A 16-bit buffer that cannot be had or drawn is silently replaced.
    DisposeGWorld(*source);
    *source = nullptr;
    result = DrawInto(opened.importer, k32ARGBPixelFormat, opened.bounds, source);
  }
  if (result == noErr && ud != nullptr) GraphicsImportGetMetaData(opened.importer, ud);
  return result;
}

}  // namespace

int32_t ImportImage(const std::string& path, GWorldPtr* source, UserData ud) {
  if (source == nullptr) return paramErr;
  *source = nullptr;
  OpenedImport opened;
  int32_t result = OpenImport(path, &opened);
  if (result == noErr) result = DrawNow(opened, source, ud);
  if (result != noErr && *source != nullptr) {
    DisposeGWorld(*source);
    *source = nullptr;
  }
  return result;
}
