#include "imageio/import.h"

#include <new>
#include <system_error>
#include <thread>

#include "platform/components.h"
#include "platform/graphics_import.h"
#include "platform/handle.h"
#include "platform/row_gate.h"

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
    OSType preferred =
        OSType(bytes[0]) << 24 | OSType(bytes[1]) << 16 | OSType(bytes[2]) << 8 | OSType(bytes[3]);
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

// The importer, chosen and with its bounds and buffer format known.
struct OpenedImport {
  GraphicsImportComponent importer = nullptr;
  Rect bounds;
  OSType format = k32ARGBPixelFormat;
  OpenedImport() = default;
  OpenedImport(const OpenedImport&) = delete;
  OpenedImport& operator=(const OpenedImport&) = delete;
  ~OpenedImport() {
    if (importer != nullptr) CloseComponent(importer);
  }
};

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

// Draws, metadata and all, on this thread.
int32_t DrawNow(OpenedImport& opened, GWorldPtr* source, UserData ud) {
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

class ImportAhead {
 public:
  // The metadata is read here, before the drawing starts, so that it is
  // there for a writer that follows the drawing; the file's bytes are then
  // only ever read by one thread at a time.
  ImportAhead(OpenedImport&& opened, GWorldPtr source, UserData ud, RowGate* gate)
      : source_(source), gate_(gate) {
    std::swap(importer_, opened.importer);
    source_->drawGate = gate_;
    if (ud != nullptr) GraphicsImportGetMetaData(importer_, ud);
  }
  ~ImportAhead() {
    Wait();
    if (importer_ != nullptr) CloseComponent(importer_);
  }
  // False when no thread can be had; the caller then draws with Finish.
  bool Draw() {
    try {
      drawer_ = std::thread([this] { DrawAndClose(); });
    } catch (const std::system_error&) {
      return false;
    }
    return true;
  }
  int32_t Finish() {
    if (!drawer_.joinable() && !drawn_) DrawAndClose();
    Wait();
    return result_;
  }

 private:
  // Rows the drawer did not publish (all of them, for some) are released
  // here, prepared like the others.
  void DrawAndClose() {
    result_ = GraphicsImportDraw(importer_);
    drawn_ = true;
    gate_->Publish(int64_t(source_->portRect.bottom) - source_->portRect.top);
    gate_->Close();
  }
  void Wait() {
    if (drawer_.joinable()) drawer_.join();
    source_->drawGate = nullptr;
  }
  GraphicsImportComponent importer_ = nullptr;
  GWorldPtr source_;
  RowGate* gate_;
  std::thread drawer_;
  int32_t result_ = noErr;
  bool drawn_ = false;
};

void ImportAheadDeleter::operator()(ImportAhead* ahead) const {
  delete ahead;
}

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

int32_t StartImport(const std::string& path, GWorldPtr* source, UserData ud, RowGate* gate,
                    ImportAheadPtr* ahead) {
  if (source == nullptr || gate == nullptr || ahead == nullptr) return paramErr;
  *source = nullptr;
  ahead->reset();
  OpenedImport opened;
  int32_t result = OpenImport(path, &opened);
  // A 16-bit buffer that cannot be had falls back to 32 bits as in
  // ImportImage. Drawing into one fails or not with the data alone, never
  // with the buffer's format, so no fallback is needed once it has begun.
  if (result == noErr && GraphicsImportDrawsInBands(opened.importer) &&
      QTNewGWorld(source, opened.format, &opened.bounds, nullptr, nullptr, kNativeEndianPixMap) ==
          noErr) {
    result = GraphicsImportSetGWorld(opened.importer, *source, nullptr);
    if (result == noErr) {
      ImportAhead* started = new (std::nothrow) ImportAhead(std::move(opened), *source, ud, gate);
      if (started == nullptr) {
        result = memFullErr;
      } else {
        ahead->reset(started);
        if (!started->Draw()) {
          // No thread to spare: draw here instead.
          result = started->Finish();
          ahead->reset();
        }
      }
    }
  } else if (result == noErr) {
    result = DrawNow(opened, source, ud);
  }
  if (result != noErr && *source != nullptr) {
    DisposeGWorld(*source);
    *source = nullptr;
  }
  return result;
}

int32_t FinishImport(ImportAhead* ahead) {
  return ahead != nullptr ? ahead->Finish() : paramErr;
}
