// Helpers for the metadata reading and writing tests: lists read through the
// importers, files written through the exporters, and exiftool's reading.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/components.h"
#include "platform/fsspec.h"
#include "platform/graphics_export.h"
#include "platform/graphics_import.h"
#include "platform/gworld.h"
#include "platform/handle.h"
#include "platform/owned.h"
#include "platform/user_data.h"
#include "test_support.h"

namespace test {

using Bytes = std::vector<uint8_t>;

using OwnedUserData = UniqueUserData;

inline OwnedUserData NewList() {
  UserData ud = nullptr;
  NewUserData(&ud);
  return OwnedUserData(ud);
}

constexpr OSType Text(const char (&s)[4]) {
  return (OSType(0xA9) << 24) | (OSType(uint8_t(s[0])) << 16) | (OSType(uint8_t(s[1])) << 8) |
         OSType(uint8_t(s[2]));
}

// The file's items as the platform's importer delivers them; an empty list
// when no importer takes the file.
inline OwnedUserData ReadItemsOf(const std::filesystem::path& path) {
  OwnedUserData list = NewList();
  FSSpec spec;
  GraphicsImportComponent importer = nullptr;
  FSMakeFSSpec(path.string(), &spec);
  if (GetGraphicsImporterForFile(&spec, &importer) == noErr) {
    GraphicsImportGetMetaData(importer, list.get());
    CloseComponent(importer);
  }
  return list;
}

inline std::optional<Bytes> ItemOf(UserData ud, OSType type, int32_t index = 1) {
  Handle h = NewHandle(0);
  std::optional<Bytes> result;
  const OSErr err = (type >> 24) == 0xA9 ? GetUserDataText(ud, h, type, index, 0)
                                         : GetUserData(ud, h, type, index);
  if (err == noErr) result = Bytes(*h, *h + GetHandleSize(h));
  DisposeHandle(h);
  return result;
}

inline std::optional<std::string> TextOf(UserData ud, OSType type, int32_t index = 1) {
  std::optional<Bytes> bytes = ItemOf(ud, type, index);
  if (!bytes) return std::nullopt;
  return std::string(bytes->begin(), bytes->end());
}

inline void AddText(UserData ud, OSType type, const std::string& text) {
  Handle h = NewHandle(0);
  PtrToXHand(text.data(), h, text.size());
  AddUserDataText(ud, h, type, CountUserDataType(ud, type) + 1, 0);
  DisposeHandle(h);
}

// The first exporter of a subtype, opened, or nullptr when there is none.
inline GraphicsExportComponent OpenExporter(OSType subtype) {
  ComponentDescription looking{GraphicsExporterComponentType, subtype, 0, 0, 1};
  Component c = FindNextComponent(nullptr, &looking);
  return c ? OpenComponent(c) : nullptr;
}

// Writes a small grey picture with the exporter of subtype, carrying ud
// (when given). False when there is no such exporter or the export fails.
inline bool ExportWithItems(OSType subtype, UserData ud, bool exifEnabled,
                            const std::filesystem::path& out) {
  GraphicsExportComponent exporter = OpenExporter(subtype);
  if (exporter == nullptr) return false;
  Rect bounds;
  MacSetRect(&bounds, 0, 0, 24, 16);
  GWorldPtr gw = nullptr;
  bool ok = QTNewGWorld(&gw, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0) == noErr;
  if (ok) {
    auto* pixels = static_cast<uint8_t*>(GetPixBaseAddr(GetGWorldPixMap(gw)));
    const int64_t rowBytes = QTGetPixMapHandleRowBytes(GetGWorldPixMap(gw));
    for (int64_t y = 0; y < 16; ++y) std::fill_n(pixels + y * rowBytes, 24 * 4, uint8_t(0x80));
    FSSpec spec;
    FSMakeFSSpec(out.string(), &spec);
    uint32_t written = 0;
    ok = GraphicsExportSetInputGWorld(exporter, gw) == noErr &&
         GraphicsExportSetOutputFile(exporter, &spec) == noErr;
    if (ok && ud != nullptr) {
      GraphicsExportSetExifEnabled(exporter, exifEnabled);
      GraphicsExportSetMetaData(exporter, ud);
    }
    ok = ok && GraphicsExportDoExport(exporter, &written) == noErr;
    DisposeGWorld(gw);
  }
  CloseComponent(exporter);
  return ok;
}

// One tag as exiftool reads it (-j -n -G1:6 -D -a -u): group, format, name, tag
// number and value (a string's text, or a number's digits).
struct ExifToolTag {
  std::string group;
  std::string format;
  std::string name;
  int64_t id = -1;
  std::string value;
};

std::vector<ExifToolTag> ExifToolTags(const std::filesystem::path& path,
                                      const std::vector<std::string>& groups);
// exiftool's "-args" lines for the groups (group:format:name=value).
std::vector<std::string> ExifToolLines(const std::filesystem::path& path,
                                       const std::vector<std::string>& groups);
// One tag's value as exiftool prints it with -n, or empty.
std::string ExifToolValue(const std::filesystem::path& path, const std::string& tag);

}  // namespace test
