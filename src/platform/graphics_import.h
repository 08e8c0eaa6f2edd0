// Graphics importers: an importer is chosen by the file's content, never by
// its name. Results: fnfErr for a missing file, accessDeniedErr for one that
// cannot be read for lack of permission, noHandlerErr when no importer
// recognises the content, codecErr for image data that cannot be decoded.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "colour/colour_match.h"
#include "platform/components.h"
#include "platform/fsspec.h"
#include "platform/gworld.h"
#include "platform/handle.h"
#include "platform/image_description.h"
#include "platform/image_format.h"
#include "platform/quality.h"
#include "platform/user_data.h"
#include "stream/row_band.h"

OSErr GetGraphicsImporterForFile(const FSSpec* file, GraphicsImportComponent* importer);
// The same for a file held in memory (a second picture inside a file); the
// importer keeps its own copy.
OSErr GetGraphicsImporterForData(std::span<const uint8_t> data, GraphicsImportComponent* importer);
ComponentResult GraphicsImportGetNaturalBounds(GraphicsImportComponent ci, Rect* bounds);
ComponentResult GraphicsImportSetQuality(GraphicsImportComponent ci, int32_t quality);
ComponentResult GraphicsImportGetImageDescription(GraphicsImportComponent ci,
                                                  ImageDescriptionHandle* desc);
ComponentResult GraphicsImportSetGWorld(GraphicsImportComponent ci, GWorldPtr port,
                                        GDHandle device);
// Renders the whole image into the buffer set with GraphicsImportSetGWorld,
// in that buffer's pixel format; the buffer must have the drawn size.
ComponentResult GraphicsImportDraw(GraphicsImportComponent ci);
// Whether the importer can draw the picture at 1/2, 1/4 or 1/8 of its
// natural size (JPEG, through its scaled inverse DCT).
bool GraphicsImportDrawsScaled(GraphicsImportComponent ci);
// Draws the picture at 1/scale of its natural size from now on, each side
// rounded up (DecodedSide): 1, or 2, 4 or 8 where GraphicsImportDrawsScaled;
// paramErr for any other scale, which leaves the scale as it was.
ComponentResult GraphicsImportSetDrawScale(GraphicsImportComponent ci, int32_t scale);
// The threads a drawing may keep busy from now on, its own included (1 at
// first): a codec that can spread one picture's decoding uses up to that.
void GraphicsImportSetDrawThreads(GraphicsImportComponent ci, int32_t threads);
// Renders the whole image into the rows of a band of the drawn size, in
// the band's pixel format: rows are published as they are final (all of
// them once the drawing succeeds) and the band is closed whatever happens.
// A ring band may be drawn into only when GraphicsImportDrawsRowsInOrder.
ComponentResult GraphicsImportDrawRows(GraphicsImportComponent ci, RowBand* rows);
// Whether the drawing writes each row once, from the top, so that it can
// draw into a ring of rows that a reader on another thread follows.
bool GraphicsImportDrawsRowsInOrder(GraphicsImportComponent ci);
// Whether the drawing already shows the picture upright (HEIF applies its
// own turns and mirrors), whatever orientation the metadata states.
bool GraphicsImportDrawsUpright(GraphicsImportComponent ci);
// Whether the picture may hold transparency (an alpha channel or a
// transparent colour); false for an importer that cannot say.
bool GraphicsImportHasAlpha(GraphicsImportComponent ci);
// The format of the file the importer was chosen for; nullptr for none.
const ImageFormat* GraphicsImportFormat(GraphicsImportComponent ci);
// Whether the drawing converts the source's colours, as its embedded ICC
// profile or coded description gives them, to sRGB (the default), or draws
// the samples as stored. sRGB and undescribed sources are drawn as stored
// either way.
ComponentResult GraphicsImportSetColorMatching(GraphicsImportComponent ci, bool match);
// What the last drawing converted to sRGB from: the description of the
// source's ICC profile or coded colours; empty when it drew the samples as
// stored (or has not drawn).
ComponentResult GraphicsImportGetConvertedColour(GraphicsImportComponent ci,
                                                 std::string* description);
// The warnings the last drawing's decoder gave about data it could only
// partly read and decoded anyway, as the library worded them; empty for a
// clean drawing (or none yet). Ask once the drawing has ended.
ComponentResult GraphicsImportGetWarnings(GraphicsImportComponent ci,
                                          std::vector<std::string>* warnings);
ComponentResult GraphicsImportGetMetaData(GraphicsImportComponent ci, UserData ud);
// What the stored samples are (grey, colour, CMYK) and how their colours
// are described.
ComponentResult GraphicsImportGetColourSource(GraphicsImportComponent ci, ColourSource* source);
