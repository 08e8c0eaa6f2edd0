// The registry's records and the open instances, shared by the registry, the
// start and stop, and the importer and exporter operations.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/large_block.h"
#include "platform/codec.h"
#include "platform/components.h"
#include "platform/fsspec.h"

struct ComponentRecord {
  ComponentDescription description;
  const ImporterCodec* importer = nullptr;  // set for "grip" components
  const ExporterCodec* exporter = nullptr;  // set for "grex" components
};

// Closes its descriptor when the instance goes.
struct FileDescriptor {
  int fd = -1;
  FileDescriptor() = default;
  explicit FileDescriptor(int open) : fd(open) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd(other.fd) { other.fd = -1; }
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor();
};

struct ImporterState {
  // The whole file, read when the importer was chosen; for a codec that
  // draws from the file, only its skeleton, and the file stays open.
  LargeByteVector file;
  FileDescriptor openFile;
  uint64_t openFileSize = 0;
  bool haveFile = false;
  bool haveHeader = false;
  ImageHeader header;
  int32_t quality = 0;
  GWorldPtr port = nullptr;
  bool matchColour = true;  // drawn as sRGB from the source's colour description
  int32_t drawScale = 1;    // drawn at 1/drawScale of the natural size
  int32_t drawThreads = 1;  // threads a drawing may keep busy
  // What the last drawing found: its decoder's warnings, and the
  // description of the colours it converted to sRGB (empty: none).
  std::vector<std::string> warnings;
  std::string convertedFrom;
};

struct ExporterState {
  int32_t quality = ExportRequest{}.quality;
  int32_t depth = ExportRequest{}.depth;
  bool progressive = false;
  int32_t subsampling = 0;
  int32_t effort = -1;
  GWorldPtr input = nullptr;     // a whole buffer, read as one complete band
  RowBand* inputRows = nullptr;  // or rows that another stage may still be filling
  FSSpec output;
  bool haveOutput = false;
  std::vector<uint8_t>* outputBytes = nullptr;  // or the caller's memory instead of a file
  std::span<const uint8_t> gainMapSource;       // whose describing segments the encoding takes
  bool exifEnabled = false;
  UserData metaData = nullptr;  // the caller's list, read at export time
  // Asked after encoding, before the file is written: anything but noErr
  // ends the export with that code and no file.
  std::function<OSErr()> beforeWrite;
};

struct ComponentInstanceRecord {
  Component component = nullptr;
  ImporterState importer;
  ExporterState exporter;
};

// Checks that there are codecs and that each has the entries a component
// needs: kQTNotLoadableErr for none at all, kQTEntryMissingErr for a missing
// entry.
OSErr CheckCodecEntries(const std::vector<const ImporterCodec*>& importers,
                        const std::vector<const ExporterCodec*>& exporters);
// Builds the registry from the codec lists on the first start; later starts
// find it built (components handed out earlier stay valid). Called by the
// start, under its lock.
OSErr BuildComponentRegistry();
// Closes every instance still open; called by the last stop.
void CloseAllComponentInstances();
// The registry in registry order (empty before the first start).
const std::vector<ComponentRecord>& ComponentRegistry();
// The open instance ci when its component has the given type, else nullptr.
ComponentInstanceRecord* OpenInstanceOfType(ComponentInstance ci, OSType componentType);
