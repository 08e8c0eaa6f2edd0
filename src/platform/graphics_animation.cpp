#include "platform/graphics_animation.h"

#include <new>
#include <utility>

#include "platform/components_internal.h"
#include "platform/library_quiet.h"
#include "platform/metadata_io.h"
#include "platform/start_count.h"
#include "stream/file_write.h"

namespace {

// The instance ci when it is open with the given type; *result says why not.
ComponentInstanceRecord* Instance(ComponentInstance ci, OSType type, ComponentResult* result) {
  if (!QuickTimeIsBound()) {
    *result = kQTNotBoundErr;
    return nullptr;
  }
  ComponentInstanceRecord* instance = OpenInstanceOfType(ci, type);
  *result = instance != nullptr ? noErr : badComponentInstance;
  return instance;
}

// The library's own reader, quieted as its codec's calls are.
class QuietReader final : public AnimationReader {
 public:
  QuietReader(std::unique_ptr<AnimationReader> reader, const ImageFormat& format)
      : reader_(std::move(reader)), format_(format) {}
  const AnimationInfo& Info() const override { return reader_->Info(); }
  OSErr NextFrame(PixelView* canvas, FrameInfo* frame) override {
    const LibraryQuiet quiet(format_);
    return reader_->NextFrame(canvas, frame);
  }

 private:
  std::unique_ptr<AnimationReader> reader_;
  const ImageFormat& format_;
};

// The library's own writer, quieted likewise.
class QuietWriter final : public AnimationWriter {
 public:
  QuietWriter(std::unique_ptr<AnimationWriter> writer, const ImageFormat& format)
      : writer_(std::move(writer)), format_(format) {}
  OSErr AddFrame(const PixelView& canvas, int32_t delayMs) override {
    const LibraryQuiet quiet(format_);
    return writer_->AddFrame(canvas, delayMs);
  }
  OSErr Finish(std::vector<uint8_t>* file) override {
    const LibraryQuiet quiet(format_);
    return writer_->Finish(file);
  }

 private:
  std::unique_ptr<AnimationWriter> writer_;
  const ImageFormat& format_;
};

}  // namespace

ComponentResult GraphicsImportOpenAnimation(GraphicsImportComponent ci,
                                            std::unique_ptr<AnimationReader>* reader) {
  ComponentResult result;
  ComponentInstanceRecord* instance = Instance(ci, GraphicsImporterComponentType, &result);
  if (instance == nullptr) return result;
  if (reader == nullptr) return paramErr;
  reader->reset();
  const ImporterCodec& codec = *ci->component->importer;
  const ImporterState& state = instance->importer;
  if (codec.openAnimation == nullptr || !state.haveFile || state.openFile.fd >= 0) return noErr;
  std::unique_ptr<AnimationReader> opened;
  {
    const LibraryQuiet quiet(*codec.format);
    if (OSErr err = codec.openAnimation(ByteSpan(state.file), &opened)) return err;
  }
  if (opened == nullptr) return codecErr;
  try {
    *reader = std::make_unique<QuietReader>(std::move(opened), *codec.format);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  return noErr;
}

ComponentResult GraphicsImportGetFrameCount(GraphicsImportComponent ci, int32_t* frames) {
  ComponentResult result;
  ComponentInstanceRecord* instance = Instance(ci, GraphicsImporterComponentType, &result);
  if (instance == nullptr) return result;
  if (frames == nullptr) return paramErr;
  *frames = 1;
  const ImporterCodec& codec = *ci->component->importer;
  const ImporterState& state = instance->importer;
  if (codec.countFrames == nullptr || !state.haveFile || state.openFile.fd >= 0) return noErr;
  const LibraryQuiet quiet(*codec.format);
  return codec.countFrames(ByteSpan(state.file), frames);
}

bool GraphicsExportWritesAnimation(GraphicsExportComponent ci) {
  ComponentResult result;
  if (Instance(ci, GraphicsExporterComponentType, &result) == nullptr) return false;
  return ci->component->exporter->startAnimation != nullptr;
}

ComponentResult GraphicsExportStartAnimation(GraphicsExportComponent ci, const AnimationInfo& info,
                                             std::unique_ptr<AnimationWriter>* writer) {
  ComponentResult result;
  ComponentInstanceRecord* instance = Instance(ci, GraphicsExporterComponentType, &result);
  if (instance == nullptr) return result;
  if (writer == nullptr) return paramErr;
  writer->reset();
  const ExporterCodec& codec = *ci->component->exporter;
  if (codec.startAnimation == nullptr) return noHandlerErr;
  AnimationRequest request;
  request.info = info;
  request.quality = instance->exporter.quality;
  request.depth = instance->exporter.depth;
  std::unique_ptr<AnimationWriter> started;
  {
    const LibraryQuiet quiet(*codec.format);
    if (OSErr err = codec.startAnimation(request, &started)) return err;
  }
  if (started == nullptr) return codecErr;
  try {
    *writer = std::make_unique<QuietWriter>(std::move(started), *codec.format);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  return noErr;
}

ComponentResult GraphicsExportWriteAnimation(GraphicsExportComponent ci,
                                             std::vector<uint8_t>* file) {
  ComponentResult result;
  ComponentInstanceRecord* instance = Instance(ci, GraphicsExporterComponentType, &result);
  if (instance == nullptr) return result;
  const ExporterState& state = instance->exporter;
  if (file == nullptr || (!state.haveOutput && state.outputBytes == nullptr)) return paramErr;
  const ImageFormat& format = *ci->component->exporter->format;
  try {
    if (state.metaData != nullptr) {
      const LibraryQuiet quiet(format);
      if (OSErr err = WriteFileMetaData(format, file, state.metaData, state.exifEnabled)) {
        return err;
      }
    }
    if (state.outputBytes != nullptr) {
      *state.outputBytes = std::move(*file);
      return noErr;
    }
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  return WriteFileWhole(state.output.path, *file);
}
