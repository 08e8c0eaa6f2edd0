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
// Whether the exporter reads the input buffer's rows from the top as it
// encodes, waiting on the buffer's gate (see GWorld::drawGate) for each.
bool GraphicsExportEncodesInBands(GraphicsExportComponent ci);
