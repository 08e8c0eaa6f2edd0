// What the JPEG XL importer and exporter share (libjxl): the component name
// and the recognition of a file, bare codestream or container.
#pragma once

#include <memory>
#include <string>

#include "platform/codec.h"

// "JPEG XL (libjxl x.y.z)" with the version linked at run time.
std::string JxlCodecName();

// Whether libjxl can be loaded on this machine (loading it if not yet done).
bool JxlLoads();

// Whether the file begins as a JPEG XL codestream or container does.
bool IsJxlFile(ByteSpan file);

// Animations frame by frame (jxl_animation_import.cpp).
OSErr OpenJxlAnimation(ByteSpan file, std::unique_ptr<AnimationReader>* reader);
OSErr CountJxlFrames(ByteSpan file, int32_t* frames);

extern const ImporterCodec kJxlImporter;
extern const ExporterCodec kJxlExporter;
