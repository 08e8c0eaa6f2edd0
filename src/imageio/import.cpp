#include "imageio/import.h"

#include "base/big_endian.h"
#include "base/output_geometry.h"
#include "imageio/path_to_fsspec.h"
#include "imageio/swap_sample_bytes.h"
#include "platform/components.h"
#include "platform/graphics_import.h"
#include "platform/handle.h"

int32_t ProbeNaturalBounds(const std::string& path, Rect* bounds) {
  const ImageFormat* format = nullptr;
  return ProbeSource(path, bounds, &format);
}

int32_t ProbeSource(const std::string& path, Rect* bounds, const ImageFormat** format) {
  *format = nullptr;
  FSSpec spec;
  if (OSErr err = PathToFSSpec(path, &spec)) return err;
  GraphicsImportComponent importer = nullptr;
  int32_t result = GetGraphicsImporterForFile(&spec, &importer);
  if (result == noErr) result = GraphicsImportGetNaturalBounds(importer, bounds);
  if (result == noErr) *format = GraphicsImportFormat(importer);
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
    opened->hasAlpha = GraphicsImportHasAlpha(opened->importer);
  }
  return result;
}

int32_t SetDrawScale(OpenedImport* opened, int32_t scale) {
  Rect natural;
  int32_t result = GraphicsImportGetNaturalBounds(opened->importer, &natural);
  if (result == noErr) result = GraphicsImportSetDrawScale(opened->importer, scale);
  if (result == noErr) {
    MacSetRect(&opened->bounds, 0, 0, DecodedSide(natural.right, scale),
               DecodedSide(natural.bottom, scale));
  }
  return result;
}

int32_t DrawWholeImage(const OpenedImport& opened, bool nativeOrder, GWorldPtr* drawn) {
  *drawn = nullptr;
  int32_t result = memFullErr;
  for (OSType format : {opened.format, OSType(k32ARGBPixelFormat)}) {
    result = QTNewGWorld(drawn, format, &opened.bounds, nullptr, nullptr, kNativeEndianPixMap);
    if (result != noErr) continue;
    RowBand rows;
    rows.AttachWhole(PixelViewOf(*drawn), false);
    rows.SetDeadline(opened.deadline);
    // The samples of a 16-bit buffer put in the machine's order as they are drawn.
    if (nativeOrder && PixelSizeOfFormat(format) > 32) rows.SetPrepare(SwapSampleBytesRows);
    result = GraphicsImportDrawRows(opened.importer, &rows);
    rows.Clear();
    if (result == noErr || result == kTimedOutErr || format == k32ARGBPixelFormat) break;
    DisposeGWorld(*drawn);
    *drawn = nullptr;
  }
  if (result != noErr && *drawn != nullptr) {
    DisposeGWorld(*drawn);
    *drawn = nullptr;
  }
  return result;
}

int32_t DrawEncodedImage(std::span<const uint8_t> bytes, OSType format, GWorldPtr* drawn) {
  *drawn = nullptr;
  OpenedImport opened;
  int32_t result = GetGraphicsImporterForData(bytes, &opened.importer);
  if (result == noErr) result = GraphicsImportGetNaturalBounds(opened.importer, &opened.bounds);
  if (result != noErr) return result;
  GraphicsImportSetQuality(opened.importer, codecLosslessQuality);
  GraphicsImportSetColorMatching(opened.importer, false);
  result = QTNewGWorld(drawn, format, &opened.bounds, nullptr, nullptr, kNativeEndianPixMap);
  if (result != noErr) return result;
  RowBand rows;
  rows.AttachWhole(PixelViewOf(*drawn), false);
  result = GraphicsImportDrawRows(opened.importer, &rows);
  rows.Clear();
  if (result != noErr) {
    DisposeGWorld(*drawn);
    *drawn = nullptr;
  }
  return result;
}
