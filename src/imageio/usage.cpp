#include "imageio/usage.h"

#include <cstdio>

#include "platform/components.h"
#include "platform/graphics_export.h"
#include "platform/handle.h"

namespace {

constexpr char kUsageFormat[] =
    "\n"
    "Usage: %s [ flags ] [<file> ...]\n"
    "where flags are\n"
    "/?                  print this message\n"
    "/v                  verbose\n"
    "/o <file>           specify output file (also //out <file>)\n"
    "/%% <percent>        percent scale\n"
    "/w <width>          desired width (also //resampleWidth <width>)\n"
    "/h <height>         desired height (also //resampleHeight <height>)\n"
    "/p [h[wp]][v[wp]]   wrap (w) or pinch (p) in the given direction (h or v) of the source\n"
    "/k [s | g | G]      kernel: sinc, narrow gaussian, wide gaussian\n"
    "/r <degrees>\t    rotate the result prior to writing (also //rotate <degrees>)\n"
    "/c <codec>          desired codec (jpeg default)\n"
    "/q <quality>        codec quality percent (75 default)\n"
    "/b <bits>           codec bits per pixel (24 default)\n"
    "/z <height> <width> desired height and width (also //resampleHeightWidth <height> "
    "<width>)\n"
    "/m                  copy metadata\n"
    "/M <file>           dump source metadata (specify a file or - for stdout)\n"
    "\n";

// The four characters of a code, most significant first, for "%.4s".
struct FourChars {
  char c[4];
};

FourChars CodeChars(OSType code) {
  return {{char(code >> 24), char(code >> 16), char(code >> 8), char(code)}};
}

// Turns the length-prefixed name in the handle into a zero-terminated one,
// in place; a handle without a name holds the empty string afterwards.
const char* NameText(Handle name) {
  static const char kEmpty[] = "";
  size_t size = GetHandleSize(name);
  if (size == 0) return kEmpty;
  char* text = *name;
  size_t length = uint8_t(text[0]);
  if (length > size - 1) length = size - 1;
  for (size_t i = 0; i < length; ++i) text[i] = text[i + 1];
  text[length] = '\0';
  return text;
}

// Walks the components of one type, printing a line for each; every
// component call's result replaces *result.
void ListComponents(OSType type, Handle name, bool exporters, int32_t* result) {
  const ComponentDescription looking = {type, 0, 0, 0, 1};
  for (Component c = FindNextComponent(nullptr, &looking); c != nullptr;
       c = FindNextComponent(c, &looking)) {
    ComponentDescription found;
    *result = GetComponentInfo(c, &found, name, nullptr, nullptr);
    HLock(name);
    const char* text = NameText(name);
    FourChars code = CodeChars(found.componentSubType);
    if (!exporters) {
      std::fprintf(stderr, "%.4s\t%s\n", code.c, text);
    } else {
      OSType extension = 0;
      if (ComponentInstance instance = OpenComponent(c)) {
        *result = GraphicsExportGetDefaultFileNameExtension(instance, &extension);
        CloseComponent(instance);
      }
      FourChars ext = CodeChars(extension);
      std::fprintf(stderr, "%.4s\t%.4s\t%s\n", code.c, ext.c, text);
    }
    HUnlock(name);
  }
}

}  // namespace

int32_t ListCodecs() {
  Handle name = NewHandle(0);
  int32_t result = noErr;
  std::fputs("\nImport codecs:\nCode\tDescription\n", stderr);
  if (name != nullptr) ListComponents(GraphicsImporterComponentType, name, false, &result);
  std::fputs("\nExport codecs:\nCode\tExt\tDescription\n", stderr);
  if (name != nullptr) {
    ListComponents(GraphicsExporterComponentType, name, true, &result);
    DisposeHandle(name);
  }
  return result;
}

int32_t PrintUsage(const std::string& programName) {
  std::fprintf(stderr, kUsageFormat, programName.c_str());
  return ListCodecs();
}
