#include "platform/graphics_export.h"

#include <algorithm>
#include <new>
#include <utility>
#include <vector>

#include "platform/components_internal.h"
#include "platform/library_quiet.h"
#include "platform/metadata_io.h"
#include "platform/start_count.h"
#include "stream/byte_sink.h"
#include "stream/file_write.h"

namespace {

// The exporter state of an open exporter instance, or nullptr; *result says
// why there is none.
ExporterState* Exporter(GraphicsExportComponent ci, ComponentResult* result) {
  if (!QuickTimeIsBound()) {
    *result = kQTNotBoundErr;
    return nullptr;
  }
  ComponentInstanceRecord* instance = OpenInstanceOfType(ci, GraphicsExporterComponentType);
  if (instance == nullptr) {
    *result = badComponentInstance;
    return nullptr;
  }
  *result = noErr;
  return &instance->exporter;
}

}  // namespace

ComponentResult GraphicsExportGetDefaultFileNameExtension(GraphicsExportComponent ci,
                                                          OSType* extension) {
  ComponentResult result;
  if (Exporter(ci, &result) == nullptr) return result;
  if (extension == nullptr) return paramErr;
  *extension = DefaultExtension(*ci->component->exporter->format);
  return noErr;
}

ComponentResult GraphicsExportGetFormat(GraphicsExportComponent ci, const ImageFormat** format) {
  ComponentResult result;
  if (Exporter(ci, &result) == nullptr) return result;
  if (format == nullptr) return paramErr;
  *format = ci->component->exporter->format;
  return noErr;
}

ComponentResult GraphicsExportSetCompressionQuality(GraphicsExportComponent ci, int32_t quality) {
  ComponentResult result;
  ExporterState* state = Exporter(ci, &result);
  if (state == nullptr) return result;
  state->quality = quality;
  return noErr;
}

ComponentResult GraphicsExportSetProgressive(GraphicsExportComponent ci, bool progressive) {
  ComponentResult result;
  ExporterState* state = Exporter(ci, &result);
  if (state == nullptr) return result;
  state->progressive = progressive;
  return noErr;
}

ComponentResult GraphicsExportSetChromaSubsampling(GraphicsExportComponent ci,
                                                   int32_t subsampling) {
  ComponentResult result;
  ExporterState* state = Exporter(ci, &result);
  if (state == nullptr) return result;
  if (subsampling != 0 && subsampling != 444 && subsampling != 422 && subsampling != 420) {
    return paramErr;
  }
  state->subsampling = subsampling;
  return noErr;
}

ComponentResult GraphicsExportSetEffort(GraphicsExportComponent ci, int32_t effort) {
  ComponentResult result;
  ExporterState* state = Exporter(ci, &result);
  if (state == nullptr) return result;
  if (effort < -1 || effort > 9) return paramErr;
  state->effort = effort;
  return noErr;
}

ComponentResult GraphicsExportSetDepth(GraphicsExportComponent ci, int32_t depth) {
  ComponentResult result;
  ExporterState* state = Exporter(ci, &result);
  if (state == nullptr) return result;
  state->depth = depth;
  return noErr;
}

ComponentResult GraphicsExportSetInputGWorld(GraphicsExportComponent ci, GWorldPtr gw) {
  ComponentResult result;
  ExporterState* state = Exporter(ci, &result);
  if (state == nullptr) return result;
  if (gw == nullptr) return paramErr;
  state->input = gw;
  state->inputRows = nullptr;
  return noErr;
}

ComponentResult GraphicsExportSetInputRows(GraphicsExportComponent ci, RowBand* rows) {
  ComponentResult result;
  ExporterState* state = Exporter(ci, &result);
  if (state == nullptr) return result;
  if (rows == nullptr) return paramErr;
  state->input = nullptr;
  state->inputRows = rows;
  return noErr;
}

ComponentResult GraphicsExportSetOutputFile(GraphicsExportComponent ci, const FSSpec* file) {
  ComponentResult result;
  ExporterState* state = Exporter(ci, &result);
  if (state == nullptr) return result;
  if (file == nullptr || file->path.empty()) return paramErr;
  try {
    state->output = *file;
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  state->haveOutput = true;
  return noErr;
}

ComponentResult GraphicsExportSetOutputBytes(GraphicsExportComponent ci,
                                             std::vector<uint8_t>* bytes) {
  ComponentResult result;
  ExporterState* state = Exporter(ci, &result);
  if (state == nullptr) return result;
  if (bytes == nullptr) return paramErr;
  state->outputBytes = bytes;
  return noErr;
}

ComponentResult GraphicsExportSetGainMapSource(GraphicsExportComponent ci,
                                               std::span<const uint8_t> source) {
  ComponentResult result;
  ExporterState* state = Exporter(ci, &result);
  if (state == nullptr) return result;
  state->gainMapSource = source;
  return noErr;
}

ComponentResult GraphicsExportSetExifEnabled(GraphicsExportComponent ci, bool enabled) {
  ComponentResult result;
  ExporterState* state = Exporter(ci, &result);
  if (state == nullptr) return result;
  state->exifEnabled = enabled;
  return noErr;
}

ComponentResult GraphicsExportSetMetaData(GraphicsExportComponent ci, UserData ud) {
  ComponentResult result;
  ExporterState* state = Exporter(ci, &result);
  if (state == nullptr) return result;
  state->metaData = ud;
  return noErr;
}

namespace {

// Encodes the whole file into memory and puts the metadata into it: exiv2
// rewrites whole files only. An item that cannot go in is left out by the
// writer; a file it cannot rewrite at all is a failed export, not one
// silently without metadata.
OSErr EncodeIntoMemory(const ExporterCodec& codec, const ExportRequest& request,
                       std::span<const uint8_t> gainMapSource, std::vector<uint8_t>* encoded) {
  try {
    ByteSink sink(encoded);
    const LibraryQuiet quiet(*codec.format);
    if (OSErr err = codec.encode(request, &sink)) return err;
    if (!gainMapSource.empty() && codec.withGainMap != nullptr) {
      *encoded = codec.withGainMap(gainMapSource, *encoded);
    }
    if (request.metaData != nullptr) {
      if (OSErr err =
              WriteFileMetaData(*codec.format, encoded, request.metaData, request.exifEnabled)) {
        return err;
      }
    }
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  return noErr;
}

OSErr AskBeforeWrite(const ExporterState& state) {
  return state.beforeWrite ? state.beforeWrite() : noErr;
}

}  // namespace

// Without metadata, the common case, the encoder writes straight into the
// temporary file that replaces the target, so the encoded file is never
// held whole; it takes the target's name only once beforeWrite agrees.
// With metadata, or to a device or pipe, which shows every byte as it is
// written, the file is encoded into memory first and written after
// beforeWrite.
ComponentResult GraphicsExportDoExport(GraphicsExportComponent ci, uint32_t* bytesWritten) {
  if (bytesWritten != nullptr) *bytesWritten = 0;
  ComponentResult result;
  ExporterState* state = Exporter(ci, &result);
  if (state == nullptr) return result;
  if ((state->input == nullptr && state->inputRows == nullptr) ||
      (!state->haveOutput && state->outputBytes == nullptr)) {
    return paramErr;
  }
  const ExporterCodec& codec = *ci->component->exporter;
  RowBand whole;
  if (state->input != nullptr) whole.AttachWhole(PixelViewOf(state->input), true);
  ExportRequest request;
  request.image = state->input != nullptr ? &whole : state->inputRows;
  request.quality = state->quality;
  request.depth = state->depth;
  request.progressive = state->progressive;
  request.subsampling = state->subsampling;
  request.effort = state->effort;
  request.metaData = state->metaData;
  request.exifEnabled = state->exifEnabled;
  uint64_t size = 0;
  if (state->outputBytes != nullptr) {
    std::vector<uint8_t> encoded;
    if (OSErr err = EncodeIntoMemory(codec, request, state->gainMapSource, &encoded)) return err;
    if (OSErr err = AskBeforeWrite(*state)) return err;
    size = encoded.size();
    *state->outputBytes = std::move(encoded);
  } else if (state->metaData != nullptr) {
    std::vector<uint8_t> encoded;
    if (OSErr err = EncodeIntoMemory(codec, request, state->gainMapSource, &encoded)) return err;
    if (OSErr err = AskBeforeWrite(*state)) return err;
    if (OSErr err = WriteFileWhole(state->output.path, encoded)) return err;
    size = encoded.size();
  } else {
    OutputFile file;
    if (OSErr err = file.Open(state->output.path)) return err;
    if (file.Direct()) {
      std::vector<uint8_t> encoded;
      if (OSErr err = EncodeIntoMemory(codec, request, state->gainMapSource, &encoded)) return err;
      if (OSErr err = AskBeforeWrite(*state)) return err;
      if (OSErr err = file.Write(encoded)) return err;
    } else {
      ByteSink sink(&file);
      const LibraryQuiet quiet(*codec.format);
      if (OSErr err = codec.encode(request, &sink)) return err;
      if (OSErr err = AskBeforeWrite(*state)) return err;
    }
    if (OSErr err = file.Commit()) return err;
    size = file.Size();
  }
  if (bytesWritten != nullptr) *bytesWritten = uint32_t(std::min<uint64_t>(size, UINT32_MAX));
  return noErr;
}

ComponentResult GraphicsExportSetBeforeWrite(GraphicsExportComponent ci,
                                             std::function<OSErr()> check) {
  ComponentResult result;
  ExporterState* state = Exporter(ci, &result);
  if (state == nullptr) return result;
  try {
    state->beforeWrite = std::move(check);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  return noErr;
}
