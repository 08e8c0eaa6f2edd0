#include "platform/components.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/components_internal.h"
#include "platform/start_count.h"

namespace {

std::vector<ComponentRecord>& Registry() {
  static std::vector<ComponentRecord> registry;
  return registry;
}

// Open instances, so that a closed or made-up instance is recognised.
struct OpenInstances {
  std::mutex lock;
  std::vector<std::unique_ptr<ComponentInstanceRecord>> instances;
};

OpenInstances& Instances() {
  static OpenInstances open;
  return open;
}

bool Matches(const ComponentDescription& have, const ComponentDescription& looking) {
  if (looking.componentType != 0 && looking.componentType != have.componentType) return false;
  if (looking.componentSubType != 0 && looking.componentSubType != have.componentSubType) {
    return false;
  }
  if (looking.componentManufacturer != 0 &&
      looking.componentManufacturer != have.componentManufacturer) {
    return false;
  }
  uint32_t mask = looking.componentFlagsMask;
  return (have.componentFlags & mask) == (looking.componentFlags & mask);
}

// The registry index of c, or -1 when c is no registry entry.
int64_t IndexOf(Component c) {
  const std::vector<ComponentRecord>& registry = Registry();
  for (size_t i = 0; i < registry.size(); ++i) {
    if (&registry[i] == c) return int64_t(i);
  }
  return -1;
}

ComponentRecord MakeRecord(OSType type, OSType subtype) {
  ComponentRecord record;
  record.description.componentType = type;
  record.description.componentSubType = subtype;
  return record;
}

// Asked only of a component a search has reached: it may load the codec's
// library, which a run that never reaches it is spared.
bool Available(const ComponentRecord& record) {
  bool (*available)() =
      record.importer != nullptr ? record.importer->available : record.exporter->available;
  return available == nullptr || available();
}

// The codec's name with its library's version, which the library is asked
// for only here.
std::string NameOf(const ComponentRecord& record) {
  return record.importer != nullptr ? record.importer->name() : record.exporter->name();
}

}  // namespace

OSErr CheckCodecEntries(const std::vector<const ImporterCodec*>& importers,
                        const std::vector<const ExporterCodec*>& exporters) {
  if (importers.empty() && exporters.empty()) return kQTNotLoadableErr;
  for (const ImporterCodec* codec : importers) {
    if (codec == nullptr || codec->format == nullptr || codec->name == nullptr ||
        codec->sniff == nullptr || codec->readHeader == nullptr || codec->draw == nullptr) {
      return kQTEntryMissingErr;
    }
  }
  for (const ExporterCodec* codec : exporters) {
    if (codec == nullptr || codec->format == nullptr || codec->name == nullptr ||
        codec->encode == nullptr) {
      return kQTEntryMissingErr;
    }
  }
  return noErr;
}

OSErr BuildComponentRegistry() {
  std::vector<ComponentRecord>& registry = Registry();
  if (!registry.empty()) return noErr;
  const std::vector<const ImporterCodec*>& importers = ImporterCodecs();
  const std::vector<const ExporterCodec*>& exporters = ExporterCodecs();
  if (OSErr err = CheckCodecEntries(importers, exporters)) return err;
  try {
    std::vector<ComponentRecord> built;
    for (const ImporterCodec* codec : importers) {
      built.push_back(MakeRecord(GraphicsImporterComponentType, codec->format->subtype));
      built.back().importer = codec;
    }
    for (const ExporterCodec* codec : exporters) {
      built.push_back(MakeRecord(GraphicsExporterComponentType, codec->format->subtype));
      built.back().exporter = codec;
    }
    registry = std::move(built);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  return noErr;
}

void CloseAllComponentInstances() {
  OpenInstances& open = Instances();
  std::lock_guard<std::mutex> hold(open.lock);
  open.instances.clear();
}

const std::vector<ComponentRecord>& ComponentRegistry() {
  return Registry();
}

ComponentInstanceRecord* OpenInstanceOfType(ComponentInstance ci, OSType componentType) {
  if (ci == nullptr) return nullptr;
  OpenInstances& open = Instances();
  std::lock_guard<std::mutex> hold(open.lock);
  for (const auto& instance : open.instances) {
    if (instance.get() == ci) {
      return ci->component->description.componentType == componentType ? ci : nullptr;
    }
  }
  return nullptr;
}

Component FindNextComponent(Component previous, const ComponentDescription* looking) {
  if (!QuickTimeIsBound() || looking == nullptr) return nullptr;
  const std::vector<ComponentRecord>& registry = Registry();
  size_t start = 0;
  if (previous != nullptr) {
    int64_t at = IndexOf(previous);
    if (at < 0) return nullptr;
    start = size_t(at) + 1;
  }
  for (size_t i = start; i < registry.size(); ++i) {
    if (Matches(registry[i].description, *looking) && Available(registry[i])) return &registry[i];
  }
  return nullptr;
}

OSErr GetComponentInfo(Component c, ComponentDescription* cd, Handle name, Handle info,
                       Handle icon) {
  if (!QuickTimeIsBound()) return kQTNotBoundErr;
  if (IndexOf(c) < 0) return paramErr;
  if (cd != nullptr) *cd = c->description;
  if (name != nullptr) {
    std::string text;
    try {
      text = NameOf(*c);
    } catch (const std::bad_alloc&) {
      return memFullErr;
    }
    size_t length = std::min<size_t>(text.size(), 255);
    if (OSErr err = SetHandleSize(name, length + 1)) return err;
    (*name)[0] = char(uint8_t(length));
    std::copy_n(text.data(), length, *name + 1);
  }
  // There is no information text and no icon: both come back empty.
  if (info != nullptr) {
    if (OSErr err = PtrToXHand("", info, 1)) return err;
  }
  if (icon != nullptr) {
    if (OSErr err = SetHandleSize(icon, 0)) return err;
  }
  return noErr;
}

ComponentInstance OpenComponent(Component c) {
  if (!QuickTimeIsBound() || IndexOf(c) < 0) return nullptr;
  auto instance =
      std::unique_ptr<ComponentInstanceRecord>(new (std::nothrow) ComponentInstanceRecord);
  if (instance == nullptr) return nullptr;
  instance->component = c;
  OpenInstances& open = Instances();
  std::lock_guard<std::mutex> hold(open.lock);
  try {
    open.instances.push_back(std::move(instance));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return open.instances.back().get();
}

OSErr CloseComponent(ComponentInstance ci) {
  if (!QuickTimeIsBound()) return kQTNotBoundErr;
  OpenInstances& open = Instances();
  std::lock_guard<std::mutex> hold(open.lock);
  auto it = std::find_if(open.instances.begin(), open.instances.end(),
                         [ci](const auto& instance) { return instance.get() == ci; });
  // The component error does not fit the 16-bit result; a bad instance is a
  // bad parameter here.
  if (ci == nullptr || it == open.instances.end()) return paramErr;
  open.instances.erase(it);
  return noErr;
}
