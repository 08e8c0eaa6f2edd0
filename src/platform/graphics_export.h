// Graphics exporters. The exporter encodes into memory, metadata included,
// and replaces the output file whole through a temporary file and a rename.
#pragma once

#include "platform/components.h"
#include "platform/fsspec.h"
#include "platform/gworld.h"
#include "platform/user_data.h"

ComponentResult GraphicsExportGetDefaultFileNameExtension(GraphicsExportComponent ci,
                                                          OSType* extension);
ComponentResult GraphicsExportSetCompressionQuality(GraphicsExportComponent ci, int32_t quality);
ComponentResult GraphicsExportSetDepth(GraphicsExportComponent ci, int32_t depth);
ComponentResult GraphicsExportSetInputGWorld(GraphicsExportComponent ci, GWorldPtr gw);
ComponentResult GraphicsExportSetOutputFile(GraphicsExportComponent ci, const FSSpec* file);
ComponentResult GraphicsExportSetExifEnabled(GraphicsExportComponent ci, bool enabled);
ComponentResult GraphicsExportSetMetaData(GraphicsExportComponent ci, UserData ud);
ComponentResult GraphicsExportDoExport(GraphicsExportComponent ci, uint32_t* bytesWritten);
// A last check after encoding, before the file is written: when it answers
// anything but noErr, DoExport answers that and writes nothing. For a
// caller whose input may still turn out unusable (its drawing goes on
// elsewhere).
ComponentResult GraphicsExportSetBeforeWrite(GraphicsExportComponent ci,
                                             OSErr (*check)(void* cookie), void* cookie);
// Whether the exporter reads the input buffer's rows from the top as it
// encodes, waiting on the buffer's gate (see GWorld::drawGate) for each.
bool GraphicsExportEncodesInBands(GraphicsExportComponent ci);
