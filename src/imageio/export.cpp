#include "imageio/export.h"

#include <cctype>
#include <string_view>
#include <utility>

#include "imageio/path_to_fsspec.h"
#include "platform/graphics_animation.h"
#include "platform/graphics_export.h"
#include "stream/file_write.h"

namespace {

// Upper case to lower case, a blank to 0, other bytes unchanged.
uint8_t FoldCodecByte(uint8_t b) {
  if (b >= 'A' && b <= 'Z') return uint8_t(b + 32);
  if (b == ' ') return 0;
  return b;
}

const ComponentDescription kExporterSearch = {GraphicsExporterComponentType, 0, 0, 0, 1};

}  // namespace

bool CodecMatches(OSType a, OSType b) {
  for (int shift = 0; shift < 32; shift += 8) {
    if (FoldCodecByte(uint8_t(a >> shift)) != FoldCodecByte(uint8_t(b >> shift))) return false;
  }
  return true;
}

OSErr OutputPathToFSSpec(const std::string& path, FSSpec* spec) {
  if (path == "-") {  // "/o -": the standard output
    spec->path = std::string(kStandardOutputPath);
    return noErr;
  }
  OSErr err = PathToFSSpec(path, spec);
  return err == fnfErr ? noErr : err;
}

namespace {

// The first exporter whose extension or subtype matches the codec, opened.
ComponentInstance OpenExporterFor(OSType codec) {
  for (Component candidate = FindNextComponent(nullptr, &kExporterSearch); candidate != nullptr;
       candidate = FindNextComponent(candidate, &kExporterSearch)) {
    ComponentDescription description;
    GetComponentInfo(candidate, &description, nullptr, nullptr, nullptr);
    ComponentInstance instance = OpenComponent(candidate);
    if (instance == nullptr) continue;
    OSType extension = 0;
    bool haveExtension =
        GraphicsExportGetDefaultFileNameExtension(instance, &extension) == noErr && extension != 0;
    if ((haveExtension && CodecMatches(codec, extension)) ||
        CodecMatches(codec, description.componentSubType)) {
      return instance;
    }
    CloseComponent(instance);
  }
  return nullptr;
}

}  // namespace

ComponentInstance FindExporter(const ExportSettings& settings) {
  ComponentInstance instance = OpenExporterFor(settings.codec);
  if (instance != nullptr) {
    GraphicsExportSetCompressionQuality(instance, settings.quality);
    GraphicsExportSetDepth(instance, int32_t(settings.depth));
    GraphicsExportSetProgressive(instance, settings.progressive);
    GraphicsExportSetChromaSubsampling(instance, settings.subsampling);
    GraphicsExportSetEffort(instance, settings.effort);
  }
  return instance;
}

bool CodecWritesAnimation(OSType codec) {
  ComponentInstance instance = OpenExporterFor(codec);
  if (instance == nullptr) return false;
  const bool writes = GraphicsExportWritesAnimation(instance);
  CloseComponent(instance);
  return writes;
}

const ImageFormat* ExportFormat(OSType codec) {
  const ImageFormat* format = nullptr;
  if (ComponentInstance instance = OpenExporterFor(codec)) {
    if (GraphicsExportGetFormat(instance, &format) != noErr) format = nullptr;
    CloseComponent(instance);
  }
  return format;
}

namespace {

// The extension of the name's last part, in lower case; empty without one.
std::string LowerExtension(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string extension = path.substr(dot + 1);
  for (char& c : extension) c = char(std::tolower(uint8_t(c)));
  return extension;
}

}  // namespace

OSType CodecForFileName(const std::string& path) {
  const std::string extension = LowerExtension(path);
  if (extension.empty()) return 0;
  for (Component candidate = FindNextComponent(nullptr, &kExporterSearch); candidate != nullptr;
       candidate = FindNextComponent(candidate, &kExporterSearch)) {
    ComponentInstance instance = OpenComponent(candidate);
    if (instance == nullptr) continue;
    const ImageFormat* format = nullptr;
    const bool claims = GraphicsExportGetFormat(instance, &format) == noErr &&
                        FormatHasExtension(*format, extension);
    CloseComponent(instance);
    if (claims) {
      ComponentDescription description;
      GetComponentInfo(candidate, &description, nullptr, nullptr, nullptr);
      return description.componentSubType;
    }
  }
  return 0;
}

namespace {

// To a file when bytes is nullptr, else into bytes.
int32_t Export(GWorldPtr gw, RowBand* rows, const ExportSettings& settings, UserData ud,
               const std::string& outputPath, std::function<OSErr()> beforeWrite,
               std::vector<uint8_t>* bytes) {
  FSSpec spec;
  if (bytes == nullptr) {
    if (OSErr err = OutputPathToFSSpec(outputPath, &spec)) return err;
  }
  ComponentInstance exporter = FindExporter(settings);
  if (exporter == nullptr) return noHandlerErr;
  int32_t result = gw != nullptr ? GraphicsExportSetInputGWorld(exporter, gw)
                                 : GraphicsExportSetInputRows(exporter, rows);
  if (result == noErr) {
    result = bytes != nullptr ? GraphicsExportSetOutputBytes(exporter, bytes)
                              : GraphicsExportSetOutputFile(exporter, &spec);
  }
  if (result == noErr && ud != nullptr) {
    GraphicsExportSetExifEnabled(exporter, true);
    GraphicsExportSetMetaData(exporter, ud);
  }
  if (result == noErr && beforeWrite) {
    result = GraphicsExportSetBeforeWrite(exporter, std::move(beforeWrite));
  }
  if (result == noErr) {
    uint32_t bytesWritten = 0;
    result = GraphicsExportDoExport(exporter, &bytesWritten);
  }
  CloseComponent(exporter);
  return result;
}

}  // namespace

int32_t ExportImage(GWorldPtr gw, const ExportSettings& settings, UserData ud,
                    const std::string& outputPath) {
  if (gw == nullptr) return paramErr;
  return Export(gw, nullptr, settings, ud, outputPath, nullptr, nullptr);
}

int32_t EncodeImage(GWorldPtr gw, const ExportSettings& settings, UserData ud,
                    std::vector<uint8_t>* bytes) {
  if (gw == nullptr || bytes == nullptr) return paramErr;
  return Export(gw, nullptr, settings, ud, std::string(), nullptr, bytes);
}

int32_t WriteEncodedFile(const std::string& outputPath, std::span<const uint8_t> bytes) {
  FSSpec spec;
  if (OSErr err = OutputPathToFSSpec(outputPath, &spec)) return err;
  return WriteFileWhole(spec.path, bytes);
}

int32_t ExportRows(RowBand* rows, const ExportSettings& settings, UserData ud,
                   const std::string& outputPath, std::function<OSErr()> beforeWrite) {
  if (rows == nullptr) return paramErr;
  return Export(nullptr, rows, settings, ud, outputPath, std::move(beforeWrite), nullptr);
}
