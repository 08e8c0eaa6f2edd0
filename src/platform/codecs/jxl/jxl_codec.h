// What the JPEG XL importer and exporter share (libjxl): the component name
// and the recognition of a file, bare codestream or container.
#pragma once

#include <string>

#include "platform/codecs/common/codec.h"

// "JPEG XL (libjxl x.y.z)" with the version linked at run time.
std::string JxlCodecName();

// Whether the file begins as a JPEG XL codestream or container does.
bool IsJxlFile(ByteSpan file);

extern const ImporterCodec kJxlImporter;
extern const ExporterCodec kJxlExporter;
