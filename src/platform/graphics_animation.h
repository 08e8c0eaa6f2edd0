// Animations through the importer and exporter components: an importer
// whose codec composites frames hands out a reader over the file it holds,
// an exporter whose codec writes animations a writer, and the finished
// animation is written as the exporter writes a still: with the metadata
// put in, whole or not at all.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/animation.h"
#include "platform/components.h"

// A reader of every frame of the importer's file, which the importer keeps
// while the reader lives; *reader stays empty (and noErr is answered) for a
// codec that reads no animation, or one that never holds the file whole.
ComponentResult GraphicsImportOpenAnimation(GraphicsImportComponent ci,
                                            std::unique_ptr<AnimationReader>* reader);
// How many frames that reader would give, from the headers alone; 1 for a
// codec that reads no animation (or a file it would read as a still).
ComponentResult GraphicsImportGetFrameCount(GraphicsImportComponent ci, int32_t* frames);

// Whether the exporter's codec writes animations.
bool GraphicsExportWritesAnimation(GraphicsExportComponent ci);
// A writer for an animation of this canvas and loop count at the
// exporter's quality; noHandlerErr for a codec that writes stills only.
ComponentResult GraphicsExportStartAnimation(GraphicsExportComponent ci, const AnimationInfo& info,
                                             std::unique_ptr<AnimationWriter>* writer);
// Puts the exporter's metadata (GraphicsExportSetMetaData) into the
// finished file and writes it to the output file (or bytes) set on it.
ComponentResult GraphicsExportWriteAnimation(GraphicsExportComponent ci,
                                             std::vector<uint8_t>* file);
