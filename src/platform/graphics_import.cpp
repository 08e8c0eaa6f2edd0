#include "platform/graphics_import.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/big_endian.h"
#include "platform/components_internal.h"
#include "platform/errno_error.h"
#include "platform/metadata_io/metadata_io.h"
#include "platform/quicktime.h"

namespace {

// Opens a regular file for reading. Anything else (a folder, a device, a
// pipe) holds no image file and answers noHandlerErr; it is opened without
// blocking and never read, so that a pipe or an endless device cannot stall
// or exhaust us.
OSErr OpenRegularFile(const std::string& path, FileDescriptor* file, uint64_t* size) {
  FileDescriptor opened(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (opened.fd < 0) return ErrorFromErrno(errno);
  struct stat info;
  if (fstat(opened.fd, &info) != 0) return ioErr;
  if (!S_ISREG(info.st_mode)) return noHandlerErr;
  *size = uint64_t(info.st_size);
  *file = std::move(opened);
  return noErr;
}

// Reads up to limit bytes from the start of the file. The file may shrink
// while it is read; what was there is what counts.
OSErr ReadFileStart(int fd, uint64_t limit, LargeByteVector* bytes) {
  try {
    bytes->resize(size_t(limit));
  } catch (const std::bad_alloc&) {
    return memFullErr;
  } catch (const std::length_error&) {
    return memFullErr;
  }
  size_t done = 0;
  while (done < bytes->size()) {
    ssize_t n = ::pread(fd, bytes->data() + done, bytes->size() - done, off_t(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return ioErr;
    }
    if (n == 0) break;
    done += size_t(n);
  }
  bytes->resize(done);
  return noErr;
}

// Enough of the file to tell the codecs apart.
constexpr uint64_t kSniffBytes = 4096;

const ComponentRecord* SniffedComponent(ByteSpan bytes) {
  for (const ComponentRecord& record : ComponentRegistry()) {
    if (record.importer != nullptr && record.importer->sniff(bytes)) return &record;
  }
  return nullptr;
}

ImporterState* Importer(GraphicsImportComponent ci) {
  ComponentInstanceRecord* instance = OpenInstanceOfType(ci, GraphicsImporterComponentType);
  return instance ? &instance->importer : nullptr;
}

const ImporterCodec& CodecOf(GraphicsImportComponent ci) {
  return *ci->component->importer;
}

ByteSpan FileOf(const ImporterState& state) {
  return ByteSpan(state.file);
}

// Reads the header once; the bounds and the description both come from it.
OSErr LoadHeader(GraphicsImportComponent ci, ImporterState* state) {
  if (!state->haveFile) return paramErr;
  if (state->haveHeader) return noErr;
  ImageHeader header;
  if (OSErr err = CodecOf(ci).readHeader(FileOf(*state), &header)) return err;
  if (header.width < 1 || header.height < 1) return codecErr;
  state->header = header;
  state->haveHeader = true;
  return noErr;
}

// The description's layout: width and height (4 bytes each), then each
// extension as its size (4 bytes, header included), its type (4 bytes) and
// its data; all numbers big-endian.
constexpr size_t kDescriptionHeaderSize = 8;
constexpr size_t kExtensionHeaderSize = 8;

}  // namespace

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    if (fd >= 0) ::close(fd);
    fd = other.fd;
    other.fd = -1;
  }
  return *this;
}

FileDescriptor::~FileDescriptor() {
  if (fd >= 0) ::close(fd);
}

OSErr GetGraphicsImporterForFile(const FSSpec* file, GraphicsImportComponent* importer) {
  if (importer == nullptr) return paramErr;
  *importer = nullptr;
  if (!QuickTimeIsBound()) return kQTNotBoundErr;
  if (file == nullptr || file->path.empty()) return paramErr;
  FileDescriptor opened;
  uint64_t size = 0;
  if (OSErr err = OpenRegularFile(file->path, &opened, &size)) return err;
  LargeByteVector bytes;
  if (OSErr err = ReadFileStart(opened.fd, std::min(size, kSniffBytes), &bytes)) return err;
  const ComponentRecord* record = SniffedComponent(ByteSpan(bytes));
  const bool streams = record != nullptr && record->importer->drawFromFile != nullptr;
  if (streams) {
    std::vector<uint8_t> skeleton;
    if (OSErr err = record->importer->readSkeleton(opened.fd, size, &skeleton)) return err;
    bytes.assign(skeleton.begin(), skeleton.end());
  } else if (size > bytes.size()) {
    // Every other codec reads its file from memory, whole.
    if (OSErr err = ReadFileStart(opened.fd, size, &bytes)) return err;
    record = SniffedComponent(ByteSpan(bytes));
  }
  if (record == nullptr) return noHandlerErr;
  ComponentInstance instance = OpenComponent(record);
  if (instance == nullptr) return memFullErr;
  instance->importer.file = std::move(bytes);
  instance->importer.haveFile = true;
  if (streams) {
    instance->importer.openFile = std::move(opened);
    instance->importer.openFileSize = size;
  }
  *importer = instance;
  return noErr;
}

ComponentResult GraphicsImportGetNaturalBounds(GraphicsImportComponent ci, Rect* bounds) {
  if (!QuickTimeIsBound()) return kQTNotBoundErr;
  ImporterState* state = Importer(ci);
  if (state == nullptr) return badComponentInstance;
  if (bounds == nullptr) return paramErr;
  if (OSErr err = LoadHeader(ci, state)) return err;
  MacSetRect(bounds, 0, 0, state->header.width, state->header.height);
  return noErr;
}

ComponentResult GraphicsImportSetQuality(GraphicsImportComponent ci, int32_t quality) {
  if (!QuickTimeIsBound()) return kQTNotBoundErr;
  ImporterState* state = Importer(ci);
  if (state == nullptr) return badComponentInstance;
  // The codecs always draw at full fidelity; the quality is only kept.
  state->quality = quality;
  return noErr;
}

ComponentResult GraphicsImportGetImageDescription(GraphicsImportComponent ci,
                                                  ImageDescriptionHandle* desc) {
  if (!QuickTimeIsBound()) return kQTNotBoundErr;
  ImporterState* state = Importer(ci);
  if (state == nullptr) return badComponentInstance;
  if (desc == nullptr) return paramErr;
  *desc = nullptr;
  if (OSErr err = LoadHeader(ci, state)) return err;
  const ImageHeader& header = state->header;
  bool hasFormat = header.preferredPixelFormat != 0;
  size_t size = kDescriptionHeaderSize + (hasFormat ? kExtensionHeaderSize + 4 : 0);
  Handle h = NewHandle(size);
  if (h == nullptr) return memFullErr;
  auto* out = reinterpret_cast<uint8_t*>(*h);
  WriteBigEndian32(uint32_t(header.width), out);
  WriteBigEndian32(uint32_t(header.height), out + 4);
  if (hasFormat) {
    WriteBigEndian32(uint32_t(kExtensionHeaderSize + 4), out + 8);
    WriteBigEndian32(kColorSpaceExtension, out + 12);
    WriteBigEndian32(header.preferredPixelFormat, out + 16);
  }
  *desc = h;
  return noErr;
}

OSErr GetImageDescriptionExtension(ImageDescriptionHandle desc, Handle* extension, OSType type,
                                   int32_t index) {
  if (extension == nullptr) return paramErr;
  *extension = nullptr;
  if (desc == nullptr || index < 1) return paramErr;
  size_t size = GetHandleSize(desc);
  if (size < kDescriptionHeaderSize) return paramErr;
  const auto* bytes = reinterpret_cast<const uint8_t*>(*desc);
  int32_t seen = 0;
  for (size_t at = kDescriptionHeaderSize; size - at >= kExtensionHeaderSize;) {
    size_t length = ReadBigEndian32(bytes + at);
    if (length < kExtensionHeaderSize || length > size - at) return paramErr;
    if (ReadBigEndian32(bytes + at + 4) == type && ++seen == index) {
      Handle h = NewHandle(0);
      if (h == nullptr) return memFullErr;
      if (OSErr err =
              PtrToXHand(bytes + at + kExtensionHeaderSize, h, length - kExtensionHeaderSize)) {
        DisposeHandle(h);
        return err;
      }
      *extension = h;
      return noErr;
    }
    at += length;
  }
  return codecExtensionNotFoundErr;
}

ComponentResult GraphicsImportSetGWorld(GraphicsImportComponent ci, GWorldPtr port,
                                        GDHandle /*device*/) {
  if (!QuickTimeIsBound()) return kQTNotBoundErr;
  ImporterState* state = Importer(ci);
  if (state == nullptr) return badComponentInstance;
  state->port = port;
  return noErr;
}

namespace {

ComponentResult DrawRows(GraphicsImportComponent ci, RowBand* rows) {
  if (!QuickTimeIsBound()) return kQTNotBoundErr;
  ImporterState* state = Importer(ci);
  if (state == nullptr) return badComponentInstance;
  if (rows == nullptr) return paramErr;
  if (OSErr err = LoadHeader(ci, state)) return err;
  if (rows->Width() != state->header.width || rows->Height() != state->header.height) {
    return paramErr;
  }
  const ImporterCodec& codec = CodecOf(ci);
  if (state->openFile.fd >= 0) {
    return codec.drawFromFile(state->openFile.fd, state->openFileSize, rows);
  }
  return codec.draw(FileOf(*state), rows);
}

}  // namespace

ComponentResult GraphicsImportDrawRows(GraphicsImportComponent ci, RowBand* rows) {
  const ComponentResult result = DrawRows(ci, rows);
  if (rows != nullptr) {
    // Rows the drawer did not publish (all of them, for some) are released
    // here, prepared like the others.
    if (result == noErr) {
      rows->Publish(rows->Height());
      rows->Close();
    } else {
      rows->Abandon();
    }
  }
  return result;
}

ComponentResult GraphicsImportDraw(GraphicsImportComponent ci) {
  if (!QuickTimeIsBound()) return kQTNotBoundErr;
  ImporterState* state = Importer(ci);
  if (state == nullptr) return badComponentInstance;
  if (state->port == nullptr || state->port->pixMap.baseAddr == nullptr) return paramErr;
  RowBand whole;
  whole.AttachWhole(state->port, false);
  return GraphicsImportDrawRows(ci, &whole);
}

bool GraphicsImportDrawsRowsInOrder(GraphicsImportComponent ci) {
  ImporterState* state = Importer(ci);
  return state != nullptr && LoadHeader(ci, state) == noErr && state->header.drawsRowsInOrder;
}

ComponentResult GraphicsImportGetMetaData(GraphicsImportComponent ci, UserData ud) {
  if (!QuickTimeIsBound()) return kQTNotBoundErr;
  ImporterState* state = Importer(ci);
  if (state == nullptr) return badComponentInstance;
  if (ud == nullptr || !state->haveFile) return paramErr;
  const ImporterCodec& codec = CodecOf(ci);
  // A codec with no reader of its own has its file read through exiv2.
  if (codec.readMetaData == nullptr) return ReadFileMetaData(FileOf(*state), ud);
  return codec.readMetaData(FileOf(*state), ud);
}
