// Graphics exporters. The exporter replaces the output file whole through
// a temporary file and a rename, encoding straight into the temporary
// file, or into memory first when metadata goes in.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/components.h"
#include "platform/fsspec.h"
#include "platform/gworld.h"
#include "platform/image_format.h"
#include "platform/user_data.h"
#include "stream/row_band.h"

ComponentResult GraphicsExportGetDefaultFileNameExtension(GraphicsExportComponent ci,
                                                          OSType* extension);
// The format the exporter writes: its extensions and what its files hold.
ComponentResult GraphicsExportGetFormat(GraphicsExportComponent ci, const ImageFormat** format);
ComponentResult GraphicsExportSetCompressionQuality(GraphicsExportComponent ci, int32_t quality);
ComponentResult GraphicsExportSetDepth(GraphicsExportComponent ci, int32_t depth);
// For formats that have them (JPEG); the others ignore them. Subsampling
// is 444, 422, 420, or 0 for the exporter's own choice.
ComponentResult GraphicsExportSetProgressive(GraphicsExportComponent ci, bool progressive);
ComponentResult GraphicsExportSetChromaSubsampling(GraphicsExportComponent ci, int32_t subsampling);
// 0 (fastest) ... 9 (smallest files), or -1 for the encoder's own default.
ComponentResult GraphicsExportSetEffort(GraphicsExportComponent ci, int32_t effort);
ComponentResult GraphicsExportSetInputGWorld(GraphicsExportComponent ci, GWorldPtr gw);
// Rows to encode instead of a buffer: read once from the top, each released
// when the encoder is done with it, so that another stage may still be
// filling a ring of them.
ComponentResult GraphicsExportSetInputRows(GraphicsExportComponent ci, RowBand* rows);
ComponentResult GraphicsExportSetOutputFile(GraphicsExportComponent ci, const FSSpec* file);
// The encoded file goes into bytes (replacing what they held) instead of a
// file: a picture that another file will carry.
ComponentResult GraphicsExportSetOutputBytes(GraphicsExportComponent ci,
                                             std::vector<uint8_t>* bytes);
// JPEG alone: the encoding is a new gain map for the one in source, and
// takes the segments that describe it (its XMP, its ISO 21496-1 metadata).
// The source must outlive the export.
ComponentResult GraphicsExportSetGainMapSource(GraphicsExportComponent ci,
                                               std::span<const uint8_t> source);
ComponentResult GraphicsExportSetExifEnabled(GraphicsExportComponent ci, bool enabled);
ComponentResult GraphicsExportSetMetaData(GraphicsExportComponent ci, UserData ud);
ComponentResult GraphicsExportDoExport(GraphicsExportComponent ci, uint32_t* bytesWritten);
// A last check after encoding, before the file takes the target's place:
// when it answers anything but noErr, DoExport answers that, the target is
// as it was and no temporary file remains. For a caller whose input may
// still turn out unusable (its drawing goes on elsewhere).
ComponentResult GraphicsExportSetBeforeWrite(GraphicsExportComponent ci,
                                             std::function<OSErr()> check);
