// The component registry: one importer ("grip") and one exporter ("grex")
// component per codec, in registry order.
#pragma once

#include <cstdint>

#include "base/mac_types.h"
#include "platform/handle.h"

constexpr OSType GraphicsImporterComponentType = FourCC("grip");
constexpr OSType GraphicsExporterComponentType = FourCC("grex");

struct ComponentDescription {
  OSType componentType = 0;
  OSType componentSubType = 0;
  OSType componentManufacturer = 0;
  uint32_t componentFlags = 0;
  uint32_t componentFlagsMask = 0;
};

struct ComponentRecord;  // a registry entry
using Component = const ComponentRecord*;
struct ComponentInstanceRecord;  // an open importer or exporter
using ComponentInstance = ComponentInstanceRecord*;
using GraphicsImportComponent = ComponentInstance;
using GraphicsExportComponent = ComponentInstance;

// The next component after previous (nullptr: the first) whose type, subtype
// and manufacturer match where the description's are not 0, and whose flags
// agree with the description's flags under its mask; nullptr at the end.
Component FindNextComponent(Component previous, const ComponentDescription* looking);
// Fills the description and, when name is given, puts the name into it as a
// length-prefixed string (a length byte, then at most 255 characters).
OSErr GetComponentInfo(Component c, ComponentDescription* cd, Handle name, Handle info,
                       Handle icon);
ComponentInstance OpenComponent(Component c);  // nullptr on failure
OSErr CloseComponent(ComponentInstance ci);
