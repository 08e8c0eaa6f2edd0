#include "platform/graphics_import.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <new>
#include <vector>

#include "base/errno_error.h"
#include "base/item_types.h"
#include "base/output_geometry.h"
#include "colour/colour_match.h"
#include "platform/components_internal.h"
#include "platform/decode_warnings.h"
#include "platform/image_description.h"
#include "platform/import_file.h"
#include "platform/library_quiet.h"
#include "platform/metadata_io.h"
#include "platform/start_count.h"
#include "stream/piped_input.h"

namespace {

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
  const LibraryQuiet quiet(*CodecOf(ci).format);
  if (OSErr err = CodecOf(ci).readHeader(FileOf(*state), &header)) return err;
  if (header.width < 1 || header.height < 1) return codecErr;
  state->header = header;
  state->haveHeader = true;
  return noErr;
}

}  // namespace

namespace {

// How a pipe's or device's bytes are kept: in a file for a codec that
// decodes from one, else in memory.
PipedKind ClassifyPipedStart(const LargeByteVector& start) {
  const ComponentRecord* record = SniffedComponent(ByteSpan(start));
  if (record == nullptr) return PipedKind::kNoImage;
  return record->importer->drawFromFile != nullptr ? PipedKind::kInFile : PipedKind::kInMemory;
}

OSErr OpenInMemory(ByteSpan bytes, GraphicsImportComponent* importer) {
  const ComponentRecord* record = SniffedComponent(bytes);
  if (record == nullptr) return noHandlerErr;
  ComponentInstance instance = OpenComponent(record);
  if (instance == nullptr) return memFullErr;
  try {
    instance->importer.file.assign(bytes.begin(), bytes.end());
  } catch (const std::bad_alloc&) {
    CloseComponent(instance);
    return memFullErr;
  }
  instance->importer.haveFile = true;
  *importer = instance;
  return noErr;
}

}  // namespace

OSErr GetGraphicsImporterForFile(const FSSpec* file, GraphicsImportComponent* importer) {
  if (importer == nullptr) return paramErr;
  *importer = nullptr;
  if (!QuickTimeIsBound()) return kQTNotBoundErr;
  if (file == nullptr || file->path.empty()) return paramErr;
  FileDescriptor opened;
  uint64_t size = 0;
  if (IsPipedInput(file->path)) {
    // Read once for the run; a copy in a file is then read as any file.
    PipedInput piped;
    if (OSErr err = ReadPipedInput(file->path, ClassifyPipedStart, &piped)) return err;
    if (piped.file < 0) return OpenInMemory(ByteSpan(*piped.bytes), importer);
    opened = FileDescriptor(fcntl(piped.file, F_DUPFD_CLOEXEC, 0));
    if (opened.fd < 0) return ErrorFromErrno(errno);
    size = piped.fileSize;
  } else if (OSErr err = OpenRegularFile(file->path, &opened, &size)) {
    return err;
  }
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

OSErr GetGraphicsImporterForData(std::span<const uint8_t> data, GraphicsImportComponent* importer) {
  if (importer == nullptr) return paramErr;
  *importer = nullptr;
  if (!QuickTimeIsBound()) return kQTNotBoundErr;
  return OpenInMemory(data, importer);
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
  return NewImageDescription(state->header, desc);
}

ComponentResult GraphicsImportSetGWorld(GraphicsImportComponent ci, GWorldPtr port,
                                        GDHandle /*device*/) {
  if (!QuickTimeIsBound()) return kQTNotBoundErr;
  ImporterState* state = Importer(ci);
  if (state == nullptr) return badComponentInstance;
  state->port = port;
  return noErr;
}

ComponentResult GraphicsImportSetColorMatching(GraphicsImportComponent ci, bool match) {
  if (!QuickTimeIsBound()) return kQTNotBoundErr;
  ImporterState* state = Importer(ci);
  if (state == nullptr) return badComponentInstance;
  state->matchColour = match;
  return noErr;
}

namespace {

// The matches a drawing needs: one the codec applies to CMYK samples, one
// applied to the rows drawn as RGB.
struct DrawMatches {
  ColourMatch cmyk;
  ColourMatch rows;
};

// A match made is also described in the state, for GraphicsImportGetConvertedColour.
DrawMatches MatchesFor(ImporterState& state, const ImporterCodec& codec, OSType format) {
  DrawMatches matches;
  if (codec.readColour == nullptr) return matches;
  ColourSource source;
  // A profile too large to be had is one not used.
  try {
    const LibraryQuiet quiet(*codec.format);
    codec.readColour(FileOf(state), &source);
  } catch (const std::exception&) {
    return matches;
  }
  // CMYK samples drawn as RGB are matched even when the metadata travels:
  // their profile cannot describe what is drawn, so it stays behind.
  if (!state.matchColour && source.model != ColourModel::kCmyk) return matches;
  if (source.model == ColourModel::kCmyk) {
    // 8-bit CMYK is JPEG's, always drawn into 32-bit ARGB; TIFF converts
    // through 16 bits.
    const bool jpeg = format == k32ARGBPixelFormat && codec.format == &kJpegFormat;
    matches.cmyk = MatchForCmyk(source, jpeg ? CmykLayout::k8 : CmykLayout::k16);
  } else {
    matches.rows = MatchForBand(source, format);
  }
  if (!matches.cmyk.Empty() || !matches.rows.Empty()) {
    try {
      state.convertedFrom = DescribeColourSource(source);
    } catch (const std::bad_alloc&) {
      state.convertedFrom = "ICC profile";
    }
  }
  return matches;
}

ComponentResult DrawRows(GraphicsImportComponent ci, RowBand* rows, DrawMatches* matches) {
  if (!QuickTimeIsBound()) return kQTNotBoundErr;
  ImporterState* state = Importer(ci);
  if (state == nullptr) return badComponentInstance;
  if (rows == nullptr) return paramErr;
  if (OSErr err = LoadHeader(ci, state)) return err;
  if (rows->Width() != DecodedSide(state->header.width, state->drawScale) ||
      rows->Height() != DecodedSide(state->header.height, state->drawScale)) {
    return paramErr;
  }
  const ImporterCodec& codec = CodecOf(ci);
  state->warnings.clear();
  state->convertedFrom.clear();
  *matches = MatchesFor(*state, codec, rows->PixelFormat());
  if (!matches->rows.Empty()) {
    // On the stored rows, before any other preparation (a byte-order pass).
    const ColourMatch* match = &matches->rows;
    rows->SetPrepare(
        [match, next = rows->GetPrepare()](const RowBand& band, int64_t from, int64_t to) {
          match->MatchRows(band, from, to);
          if (next) next(band, from, to);
        });
  }
  const ColourMatch* cmyk = matches->cmyk.Empty() ? nullptr : &matches->cmyk;
  const LibraryQuiet quiet(*codec.format);
  const DecodeWarningCollection collection(&state->warnings);
  const DrawRequest request{rows, cmyk, state->drawScale, state->drawThreads};
  if (state->openFile.fd >= 0) {
    return codec.drawFromFile(state->openFile.fd, state->openFileSize, request);
  }
  return codec.draw(FileOf(*state), request);
}

}  // namespace

ComponentResult GraphicsImportDrawRows(GraphicsImportComponent ci, RowBand* rows) {
  const RowBand::Prepare prepare = rows != nullptr ? rows->GetPrepare() : nullptr;
  DrawMatches matches;
  ComponentResult result = DrawRows(ci, rows, &matches);
  if (rows != nullptr) {
    // Rows the drawer did not publish (all of them, for some) are released
    // here, prepared like the others; a drawer that ended before its last
    // row has failed, whatever it said.
    if (result == noErr) result = rows->Publish(rows->Height());
    if (result == noErr) {
      rows->Close();
    } else {
      rows->Stop(result, RowBand::kWriter);
      // Stopped by the reader first: that error is the one to tell.
      result = rows->StopError();
    }
    // The band may be drawn again; the match goes with this drawing.
    rows->SetPrepare(prepare);
  }
  return result;
}

ComponentResult GraphicsImportDraw(GraphicsImportComponent ci) {
  if (!QuickTimeIsBound()) return kQTNotBoundErr;
  ImporterState* state = Importer(ci);
  if (state == nullptr) return badComponentInstance;
  if (state->port == nullptr || state->port->pixMap.baseAddr == nullptr) return paramErr;
  RowBand whole;
  whole.AttachWhole(PixelViewOf(state->port), false);
  return GraphicsImportDrawRows(ci, &whole);
}

bool GraphicsImportDrawsRowsInOrder(GraphicsImportComponent ci) {
  ImporterState* state = Importer(ci);
  return state != nullptr && LoadHeader(ci, state) == noErr && state->header.drawsRowsInOrder;
}

bool GraphicsImportDrawsScaled(GraphicsImportComponent ci) {
  ImporterState* state = Importer(ci);
  return state != nullptr && LoadHeader(ci, state) == noErr && state->header.drawsScaled;
}

ComponentResult GraphicsImportSetDrawScale(GraphicsImportComponent ci, int32_t scale) {
  if (!QuickTimeIsBound()) return kQTNotBoundErr;
  ImporterState* state = Importer(ci);
  if (state == nullptr) return badComponentInstance;
  const bool scaled = scale == 2 || scale == 4 || scale == 8;
  if (scale != 1 && !(scaled && GraphicsImportDrawsScaled(ci))) return paramErr;
  state->drawScale = scale;
  return noErr;
}

void GraphicsImportSetDrawThreads(GraphicsImportComponent ci, int32_t threads) {
  ImporterState* state = Importer(ci);
  if (state != nullptr) state->drawThreads = std::max(threads, 1);
}

bool GraphicsImportDrawsUpright(GraphicsImportComponent ci) {
  ImporterState* state = Importer(ci);
  return state != nullptr && LoadHeader(ci, state) == noErr && state->header.drawnUpright;
}

const ImageFormat* GraphicsImportFormat(GraphicsImportComponent ci) {
  if (ci == nullptr || ci->component == nullptr || ci->component->importer == nullptr) {
    return nullptr;
  }
  return ci->component->importer->format;
}

bool GraphicsImportHasAlpha(GraphicsImportComponent ci) {
  ImporterState* state = Importer(ci);
  return state != nullptr && LoadHeader(ci, state) == noErr && state->header.hasAlpha;
}

namespace {

// The profile item describes the pixels as drawn: a CMYK profile is left
// out (the pixels are drawn matched to sRGB), and a coded colour
// description (which no output format but HEIF holds as it is) becomes an
// ICC profile.
void FitColourDescription(const ImporterCodec& codec, ByteSpan file, UserData ud) {
  if (codec.readColour == nullptr) return;
  ColourSource source;
  try {
    const LibraryQuiet quiet(*codec.format);
    codec.readColour(file, &source);
  } catch (const std::exception&) {
    return;  // a profile too large to be had describes nothing
  }
  if (source.model == ColourModel::kCmyk) {
    while (CountUserDataType(ud, kIccItem) > 0) RemoveUserData(ud, kIccItem, 1);
  } else if (source.hasNclx && source.icc.empty() && CountUserDataType(ud, kIccItem) == 0) {
    try {
      const std::vector<uint8_t> icc = IccProfileOfNclx(source.primaries, source.transfer);
      if (!icc.empty()) SetUserDataItem(ud, icc.data(), int32_t(icc.size()), kIccItem, 1);
    } catch (const std::bad_alloc&) {
      // Left without a description, as before.
    }
  }
}

}  // namespace

ComponentResult GraphicsImportGetConvertedColour(GraphicsImportComponent ci,
                                                 std::string* description) {
  if (!QuickTimeIsBound()) return kQTNotBoundErr;
  ImporterState* state = Importer(ci);
  if (state == nullptr) return badComponentInstance;
  if (description == nullptr) return paramErr;
  try {
    *description = state->convertedFrom;
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  return noErr;
}

ComponentResult GraphicsImportGetWarnings(GraphicsImportComponent ci,
                                          std::vector<std::string>* warnings) {
  if (!QuickTimeIsBound()) return kQTNotBoundErr;
  ImporterState* state = Importer(ci);
  if (state == nullptr) return badComponentInstance;
  if (warnings == nullptr) return paramErr;
  try {
    *warnings = state->warnings;
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  return noErr;
}

ComponentResult GraphicsImportGetMetaData(GraphicsImportComponent ci, UserData ud) {
  if (!QuickTimeIsBound()) return kQTNotBoundErr;
  ImporterState* state = Importer(ci);
  if (state == nullptr) return badComponentInstance;
  if (ud == nullptr || !state->haveFile) return paramErr;
  const ImporterCodec& codec = CodecOf(ci);
  // A codec with no reader of its own has its file read through exiv2.
  OSErr err = noErr;
  {
    const LibraryQuiet quiet(*codec.format);
    err = codec.readMetaData == nullptr ? ReadFileMetaData(FileOf(*state), ud)
                                        : codec.readMetaData(FileOf(*state), ud);
  }
  if (err == noErr) FitColourDescription(codec, FileOf(*state), ud);
  return err;
}

ComponentResult GraphicsImportGetColourSource(GraphicsImportComponent ci, ColourSource* source) {
  if (!QuickTimeIsBound()) return kQTNotBoundErr;
  ImporterState* state = Importer(ci);
  if (state == nullptr) return badComponentInstance;
  if (source == nullptr || !state->haveFile) return paramErr;
  *source = ColourSource();
  const ImporterCodec& codec = CodecOf(ci);
  if (codec.readColour == nullptr) return noErr;
  try {
    const LibraryQuiet quiet(*codec.format);
    codec.readColour(FileOf(*state), source);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  return noErr;
}
